#include <gtest/gtest.h>

#include "marlowick/SafeName.h"

namespace {

using marlowick::isSafeRelativeName;

TEST(DownloaderSafeNameTest, NamesThatStayBelowTheFolder) {
  for (const char* name : {"a.txt", "sub/a.txt", "a/./b", "./a", "..x", "x..", "a/..b/c", "...",
                           "sub/deeper/report.txt", " a", ".hidden"}) {
    EXPECT_TRUE(isSafeRelativeName(name)) << name;
  }
}

TEST(DownloaderSafeNameTest, NamesThatWouldLeaveOrMisnameIt) {
  const std::string cases[] = {
      "",    // nothing to write to
      "..",  // the parent itself
      "../../.bashrc",
      "..\\x",
      "a/../../b",
      "sub/..",
      "a\\..\\..\\b",
      "/etc/x",  // absolute
      "\\etc\\x",
      "a//b",  // empty component: not a name any listing gives for a real file
      "a/",    // names a folder
      ".",
      "a/.",                           // the folder itself
      std::string("a\0/../../x", 10),  // C calls would see a different name
  };
  for (const auto& name : cases) EXPECT_FALSE(isSafeRelativeName(name)) << name;
}

TEST(DownloaderSafeNameTest, VisibleName) {
  EXPECT_EQ(marlowick::visibleName(std::string("a\0b\n\x7F"
                                               "c",
                                               6)),
            "a\\x00b\\x0A\\x7Fc");
  EXPECT_EQ(marlowick::visibleName("caf\xC3\xA9"), "caf\xC3\xA9");
  // U+009B, the one-character CSI, and U+00A0 next to it.
  EXPECT_EQ(marlowick::visibleName("\xC2\x9B" "2J\xC2\xA0"), "\\xC2\\x9B2J\xC2\xA0");
}

}  // namespace
