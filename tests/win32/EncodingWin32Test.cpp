// Code-page conversions through MultiByteToWideChar / WideCharToMultiByte, and the wide forms the
// program decodes itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>

#include "platform/Encoding.h"

namespace {

using std::string_literals::operator""s;

TEST(EncodingWin32, CodePageNames) {
  EXPECT_EQ(platform::codePageCharset(0), "CP" + std::to_string(::GetACP()));
  EXPECT_EQ(platform::localeCharset(), "CP" + std::to_string(::GetACP()));
  EXPECT_EQ(platform::codePageCharset(65001), "UTF-8");
  EXPECT_EQ(platform::codePageCharset(1252), "CP1252");
  EXPECT_EQ(platform::codePageCharset(932), "CP932");
}

TEST(EncodingWin32, ToUtf8) {
  struct Case {
    std::string bytes;
    std::string charset;
    std::string utf8;
  };
  const Case cases[] = {
      {"caf\xE9", "CP1252", "caf\xC3\xA9"},
      {"\x80", "CP1252", "\xE2\x82\xAC"},
      {"caf\xE9", "ISO-8859-1", "caf\xC3\xA9"},
      {"caf\xE9", "iso-8859-1", "caf\xC3\xA9"},
      {"caf\xE9", "CP28591", "caf\xC3\xA9"},
      {"\xA4", "ISO-8859-15", "\xE2\x82\xAC"},
      {"\x93\xFA\x96\x7B", "CP932", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"plain", "US-ASCII", "plain"},
      // Bytes that are not UTF-8 become U+FFFD.
      {"a\xFF"
       "b",
       "UTF-8",
       "a\xEF\xBF\xBD"
       "b"},
      {"a\xC3", "UTF-8", "a\xEF\xBF\xBD"},
      // The wide forms, with a surrogate pair and a cut-off last unit.
      {"a\0\xE9\0"s, "UTF-16LE", "a\xC3\xA9"},
      {"\0a\0\xE9"s, "UTF-16BE", "a\xC3\xA9"},
      {"\x3D\xD8\x00\xDE"s, "UTF-16LE", "\xF0\x9F\x98\x80"},
      {"a\0b"s, "UTF-16LE", "a\xEF\xBF\xBD"},
      {"\x00\xF6\x01\x00"s, "UTF-32LE", "\xF0\x9F\x98\x80"},
      {"\x00\x01\xF6\x00"s, "UTF-32BE", "\xF0\x9F\x98\x80"},
      {"\x00\x00\x11\x00"s, "UTF-32LE", "\xEF\xBF\xBD"},
      {"a\0\xE9\0"s, "CP1200", "a\xC3\xA9"},
      {"", "CP1252", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::toUtf8(c.bytes, c.charset), c.utf8) << c.charset << " " << c.bytes;
  }
}

TEST(EncodingWin32, FromUtf8) {
  struct Case {
    std::string utf8;
    std::string charset;
    std::string bytes;
  };
  const Case cases[] = {
      {"caf\xC3\xA9", "CP1252", "caf\xE9"},
      // A character the code page cannot hold: the nearest one where Windows has a best fit
      // (r for r-caron), else the default character.
      {"\xC5\x99", "CP1252", "r"},
      {"\xE6\x97\xA5\xE6\x9C\xAC", "CP932", "\x93\xFA\x96\x7B"},
      {"\xE6\x97\xA5", "CP1252", "?"},
      {"caf\xC3\xA9", "UTF-8", "caf\xC3\xA9"},
      {"a\xFF", "UTF-8", "a\xEF\xBF\xBD"},
      {"a\xC3\xA9", "UTF-16LE", "a\0\xE9\0"s},
      {"\xF0\x9F\x98\x80", "UTF-32BE", "\x00\x01\xF6\x00"s},
      {"", "CP932", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::fromUtf8(c.utf8, c.charset), c.bytes) << c.charset << " " << c.utf8;
  }
}

TEST(EncodingWin32, EveryLatin1ByteRoundTrips) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  // ISO-8859-1 defines every byte: each one comes back unchanged.
  std::string back = platform::fromUtf8(platform::toUtf8(all, "CP28591"), "CP28591");
  EXPECT_EQ(back, all);
}

TEST(EncodingWin32, UnknownCharsetsAreRefused) {
  for (const char* name : {"CP99999", "NO-SUCH-CHARSET", "CP", "ISO-8859-"}) {
    EXPECT_THROW(platform::toUtf8("x", name), std::runtime_error) << name;
    EXPECT_THROW(platform::fromUtf8("x", name), std::runtime_error) << name;
  }
}

}  // namespace
