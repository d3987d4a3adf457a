#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/Encoding.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

// glibc's newlocale keeps a copy of LOCPATH that it never frees; only these tests set LOCPATH.
// Read by LeakSanitizer in sanitizer builds, unused otherwise.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace {

using platform::codePageCharset;
using platform::fromUtf8;
using platform::localeCharset;
using platform::toUtf8;

const std::string kReplacement = "\xEF\xBF\xBD";

/// Sets environment variables for one test and puts the old values back afterwards.
class EnvOverride {
 public:
  void set(const std::string& name, const std::string& value) {
    remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string& name) {
    remember(name);
    ::unsetenv(name.c_str());
  }
  ~EnvOverride() {
    for (auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  void remember(const std::string& name) {
    for (auto& entry : saved_) {
      if (entry.first == name) return;
    }
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(EncodingTest, CodePageNumbersName) {
  struct Case {
    std::uint32_t codePage;
    const char* charset;
  } cases[] = {
      {65001, "UTF-8"},      {1252, "CP1252"},       {932, "CP932"},      {28591, "ISO-8859-1"},
      {28595, "ISO-8859-5"}, {28605, "ISO-8859-15"}, {20127, "US-ASCII"}, {1200, "UTF-16LE"},
  };
  for (const auto& c : cases) EXPECT_EQ(codePageCharset(c.codePage), c.charset) << c.codePage;
  EXPECT_EQ(codePageCharset(0), localeCharset());
}

TEST(EncodingTest, ToUtf8) {
  struct Case {
    const char* name;
    std::string input;
    std::string charset;
    std::string expected;
  } cases[] = {
      {"latin1", "caf\xE9", "ISO-8859-1", "caf\xC3\xA9"},
      {"cp1252 euro", "\x80", "CP1252", "\xE2\x82\xAC"},
      {"shift-jis", "\x93\xFA\x96\x7B", "CP932", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"utf8 unchanged", "d\xC3\xA9j\xC3\xA0", "UTF-8", "d\xC3\xA9j\xC3\xA0"},
      {"utf8 bad byte",
       "a\xFF"
       "b",
       "UTF-8", "a" + kReplacement + "b"},
      {"utf8 cut at end", "a\xC3", "UTF-8", "a" + kReplacement},
      {"utf8 surrogate", "\xED\xA0\x80", "UTF-8", kReplacement + kReplacement + kReplacement},
      {"utf8 past U+10FFFF", "\xF4\x90\x80\x80", "UTF-8",
       kReplacement + kReplacement + kReplacement + kReplacement},
      {"ascii high byte", "x\xE9y", "US-ASCII", "x" + kReplacement + "y"},
      {"nul kept", std::string("a\0b", 3), "ISO-8859-1", std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(toUtf8(c.input, c.charset), c.expected) << c.name;
}

TEST(EncodingTest, FromUtf8) {
  struct Case {
    const char* name;
    std::string input;
    std::string charset;
    std::string expected;
  } cases[] = {
      {"latin1", "caf\xC3\xA9", "ISO-8859-1", "caf\xE9"},
      {"not in latin1", "\xE6\x97\xA5\xE6\x9C\xAC.txt", "ISO-8859-1", "??.txt"},
      {"four-byte char",
       "a\xF0\x9F\x98\x80"
       "b",
       "ISO-8859-1", "a?b"},
      {"bad input then unrepresentable",
       "a\xFF"
       "b",
       "ISO-8859-1", "a?b"},
      {"shift-jis", "\xE6\x97\xA5\xE6\x9C\xAC", "CP932", "\x93\xFA\x96\x7B"},
      {"utf8 target cleans bad input", "a\xFF", "UTF-8", "a" + kReplacement},
      {"ascii", "\xC3\xA9t\xC3\xA9", "US-ASCII", "?t?"},
  };
  for (const auto& c : cases) EXPECT_EQ(fromUtf8(c.input, c.charset), c.expected) << c.name;
}

TEST(EncodingTest, LongTextsCrossTheBufferIntact) {
  std::string latin1;
  std::string utf8;
  for (int i = 0; i < 20000; ++i) {
    latin1 += (i % 3) ? 'x' : '\xE9';
    utf8 += (i % 3) ? std::string("x") : std::string("\xC3\xA9");
  }
  EXPECT_EQ(toUtf8(latin1, "ISO-8859-1"), utf8);
  EXPECT_EQ(fromUtf8(utf8, "ISO-8859-1"), latin1);
}

TEST(EncodingTest, EmptyNeedsNoConversion) {
  EXPECT_EQ(toUtf8("", "NO-SUCH-CHARSET"), "");
  EXPECT_EQ(fromUtf8("", "NO-SUCH-CHARSET"), "");
}

TEST(EncodingTest, UnknownCharsetThrows) {
  EXPECT_THROW(toUtf8("abc", "NO-SUCH-CHARSET"), std::runtime_error);
  EXPECT_THROW(fromUtf8("abc", "NO-SUCH-CHARSET"), std::runtime_error);
}

TEST(EncodingTest, LocaleCharsetFollowsTheEnvironment) {
  EnvOverride env;
  env.unset("LC_CTYPE");
  env.unset("LANG");
  // The C locale's plain ASCII counts as UTF-8: its names would otherwise all lose their letters.
  env.set("LC_ALL", "C");
  EXPECT_EQ(localeCharset(), "UTF-8");
  env.set("LC_ALL", "C.UTF-8");
  EXPECT_EQ(localeCharset(), "UTF-8");
  // A locale the system does not have leaves the C locale, as setlocale would.
  env.set("LC_ALL", "xx_NOWHERE.ISO-8859-1");
  EXPECT_EQ(localeCharset(), "UTF-8");
}

TEST(EncodingTest, LocaleCharsetOfALatin1Locale) {
  testing_support::TempDir dir;
  auto made = testing_support::runProcess(
      {"/usr/bin/localedef", "-i", "en_US", "-f", "ISO-8859-1", dir.file("en_US.ISO-8859-1")});
  if (made.exitCode != 0) GTEST_SKIP() << "localedef could not make a Latin-1 locale";
  EnvOverride env;
  env.set("LOCPATH", dir.path());
  env.set("LC_ALL", "en_US.ISO-8859-1");
  EXPECT_EQ(localeCharset(), "ISO-8859-1");
  EXPECT_EQ(codePageCharset(0), "ISO-8859-1");
}

}  // namespace
