// Servers and their name code pages: which ones take "OPTS UTF8 ON", and a server that lists
// in ISO-8859-1 (proftpd with UseEncoding) against a Latin-1 and a UTF-8 client locale.
#include <filesystem>

#include "tests/e2e/E2eTestSupport.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kUtf8Line = " the encoding of ftp server is UTF8";

TEST(ServerEncoding, OnlyVsftpdAndProftpdTakeOptsUtf8) {
  const ServedTree& tree = ServedTree::get();
  for (ServerKind kind :
       {ServerKind::vsftpd, ServerKind::pureFtpd, ServerKind::proftpd, ServerKind::pyftpdlib}) {
    SCOPED_TRACE(serverName(kind));
    FtpServerProcess server(kind, tree.root());
    testing_support::TempDir into;
    auto job = runJob(server, into.path(), {"--remote=/names", "--justPrint=true"});
    const bool utf8 = kind == ServerKind::vsftpd || kind == ServerKind::proftpd;
    EXPECT_EQ(job.printed(kUtf8Line), utf8) << job.process.out;
    EXPECT_TRUE(job.printed(std::string(" encoding    : ") + (utf8 ? "65001" : "0")))
        << job.process.out;
  }
}

/// Runs a job against the Latin-1 proftpd with the client's locale set to `locale`.
JobRun latin1Job(const FtpServerProcess& server, const std::string& local,
                 const std::string& locale, const std::string& locales) {
  testing_support::ProgramHome home;
  testing_support::ProcessOptions options;
  options.env["LC_ALL"] = locale;
  if (!locales.empty()) options.env["LOCPATH"] = locales;
  JobRun run;
  run.process = home.run(jobArguments(server, local, {"--remote=/names"}), options);
  run.log = home.log();
  return run;
}

const std::string kCafe = "caf\xC3\xA9 cr\xC3\xA8me.txt";
const std::string kNordic = "\xC3\x86r\xC3\xB8 \xC3\x9F\xC3\xBC\xC3\x9F.dat";
const std::string kJapanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";
const std::string kReplacement = "\xEF\xBF\xBD";

class Latin1Server : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<FtpServerProcess>(ServerKind::proftpd, ServedTree::get().root(),
                                                 ServerSetup{.latin1Names = true});
  }
  std::unique_ptr<FtpServerProcess> server_;
  testing_support::TempDir local_;
};

TEST_F(Latin1Server, LatinOneClientGetsTheNamesRight) {
  testing_support::TempDir locales;
  auto made = testing_support::runProcess(
      {"/usr/bin/localedef", "-i", "en_US", "-f", "ISO-8859-1", locales.file("en_US.ISO-8859-1")});
  if (made.exitCode != 0) GTEST_SKIP() << "localedef could not make a Latin-1 locale";
  auto job = latin1Job(*server_, local_.path(), "en_US.ISO-8859-1", locales.path());
  EXPECT_FALSE(job.printed(kUtf8Line));
  // Names are read as ISO-8859-1 and stored in UTF-8; the one name the server cannot put in
  // ISO-8859-1 comes as raw UTF-8, is read as Latin-1 letters, and proftpd then finds no file
  // by the name it is asked for. Two of those letters are C1 controls, shown escaped.
  const FileSet expected = {"-leading-dash.txt", "[brackets] and star*.txt", kCafe,
                            "empty.txt",         "name with blanks.txt",     kNordic};
  EXPECT_EQ(filesBelow(local_.path()), expected) << job.process.out;
  for (const auto& name : expected) {
    EXPECT_TRUE(sameBytes(ServedTree::get().file("names/" + name), local_.file(name))) << name;
  }
  const auto failed = job.failed();
  ASSERT_EQ(failed.size(), 1u) << job.process.out;
  EXPECT_EQ(failed.front(),
            "\xC3\xA6\\xC2\\x97\xC2\xA5\xC3\xA6\\xC2\\x9C\xC2\xAC\xC3\xA8\xC2\xAA\\xC2\\x9E.txt");
  EXPECT_NE(job.process.out.find(": 550 "), std::string::npos);
}

TEST_F(Latin1Server, Utf8ClientStoresReplacementCharacters) {
  auto job = latin1Job(*server_, local_.path(), "C.UTF-8", "");
  // A Latin-1 letter is no valid UTF-8: each one becomes U+FFFD in the local name, while the
  // server is still asked for the name as listed, so the data arrives under the marred name.
  const std::string cafe = "caf" + kReplacement + " cr" + kReplacement + "me.txt";
  ASSERT_TRUE(fs::exists(local_.file(cafe))) << job.process.out;
  EXPECT_TRUE(sameBytes(ServedTree::get().file("names/" + kCafe), local_.file(cafe)));
  EXPECT_FALSE(fs::exists(local_.file(kCafe)));
  // The raw UTF-8 name reads right here, but proftpd decodes the request as Latin-1.
  const auto failed = job.failed();
  ASSERT_EQ(failed.size(), 1u) << job.process.out;
  EXPECT_EQ(failed.front(), kJapanese);
}

}  // namespace
}  // namespace e2e
