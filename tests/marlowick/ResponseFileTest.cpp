// Response files: one token per line, byte-order marks, quotes, and the ways they fail.
#include <gtest/gtest.h>

#include <filesystem>

#include "marlowick/Downloading.h"
#include "marlowick/Logger.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
using Tokens = std::vector<std::string>;

class ResponseFile : public testing::Test {
 protected:
  // Runs parstAt on "@" + path followed by `rest`; returns the tokens.
  Tokens expand(const std::string& token, Tokens rest, bool expected) {
    marlowick::Downloading app({"marlowick"});
    Tokens tokens{token};
    tokens.insert(tokens.end(), rest.begin(), rest.end());
    testing::internal::CaptureStdout();
    bool result = app.parstAt(tokens);
    console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, expected) << console;
    return tokens;
  }
  TempDir dir;
  std::string console;
};

std::string utf16(const std::string& ascii, bool bigEndian) {
  std::string out;
  for (char c : ascii) {
    if (bigEndian) out += '\0', out += c;
    else out += c, out += '\0';
  }
  return out;
}

std::string utf32(const std::string& ascii, bool bigEndian) {
  std::string out;
  for (char c : ascii) {
    if (bigEndian) out += std::string(3, '\0') + c;
    else out += c + std::string(3, '\0');
  }
  return out;
}

TEST_F(ResponseFile, LinesBecomeTokensFollowedByTheRestOfTheCommandLine) {
  writeFile(dir.file("jobs.txt"),
            "  --host=h  \r\n\r\n\"--local=C:\\My Files\"\r\n--host server1\n\"\"\"x\"\"\n\"\n");
  Tokens tokens = expand("@" + dir.file("jobs.txt"), {"--port=1", "two"}, true);
  EXPECT_EQ(tokens, (Tokens{"--host=h", "--local=C:\\My Files", "--host server1", "x",
                            "\"", "--port=1", "two"}));
}

TEST_F(ResponseFile, QuotesAroundThePathAreRemoved) {
  writeFile(dir.file("a b.txt"), "--host=h");
  EXPECT_EQ(expand("@\"\"" + dir.file("a b.txt") + "\"", {}, true), (Tokens{"--host=h"}));
}

TEST_F(ResponseFile, ByteOrderMarksChooseTheDecoding) {
  const std::string lines = "--host=h\r\n--local=/tmp/x\r\n";
  const std::pair<const char*, std::string> files[] = {
      {"utf8", "\xEF\xBB\xBF" + lines},
      {"utf16le", std::string("\xFF\xFE", 2) + utf16(lines, false)},
      {"utf16be", std::string("\xFE\xFF", 2) + utf16(lines, true)},
      {"utf32le", std::string("\xFF\xFE\0\0", 4) + utf32(lines, false)},
      {"utf32be", std::string("\0\0\xFE\xFF", 4) + utf32(lines, true)},
  };
  for (const auto& [name, content] : files) {
    writeFile(dir.file(name), content);
    EXPECT_EQ(expand("@" + dir.file(name), {}, true), (Tokens{"--host=h", "--local=/tmp/x"}))
        << name;
  }
}

TEST_F(ResponseFile, NonAsciiUtf8NamesSurvive) {
  writeFile(dir.file("u.txt"), "\xEF\xBB\xBF--remote=/caf\xC3\xA9\n");
  EXPECT_EQ(expand("@" + dir.file("u.txt"), {}, true), (Tokens{"--remote=/caf\xC3\xA9"}));
}

TEST_F(ResponseFile, RelativePathsAreTheCurrentFolderThenTheProgramFolder) {
  const std::string here = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.path());
  writeFile(dir.file("job.txt"), "--host=h\n");
  const Tokens found = expand("@job.txt", {}, true);
  std::filesystem::current_path(here);
  EXPECT_EQ(found, (Tokens{"--host=h"}));
  expand("@surely-not-here.txt", {}, false);
  EXPECT_EQ(console.rfind("Specified path does not exists: /", 0), 0u) << console;
  EXPECT_NE(console.find("/surely-not-here.txt\n"), std::string::npos) << console;
}

TEST_F(ResponseFile, MissingEmptyAndUnreadableFiles) {
  expand("@" + dir.file("missing"), {}, false);
  EXPECT_EQ(console, "Specified path does not exists: " + dir.file("missing") + "\n");

  writeFile(dir.file("blank"), " \r\n\t\n ");
  expand("@" + dir.file("blank"), {}, false);
  EXPECT_EQ(console, "empty file " + dir.file("blank") + "\n");

  // A folder given as the file: reported to the log only.
  marlowick::logger().openFile(dir.file("log.txt"));
  expand("@" + dir.path(), {"x"}, false);
  marlowick::logger().closeFile();
  EXPECT_EQ(console, "");
  std::string log = readFile(dir.file("log.txt"));
  EXPECT_NE(log.find("Error  Marlowick - parstAt catch " + dir.path() + ": Is a directory"),
            std::string::npos)
      << log;
}

TEST_F(ResponseFile, BinaryGarbageGivesTokensNotACrash) {
  std::string garbage;
  for (int i = 0; i < 100000; ++i) garbage += static_cast<char>(1 + (i * 7919) % 255);
  writeFile(dir.file("garbage"), garbage);
  Tokens tokens = expand("@" + dir.file("garbage"), {}, true);
  EXPECT_FALSE(tokens.empty());
}

}  // namespace
