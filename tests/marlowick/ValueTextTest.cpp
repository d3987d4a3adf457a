#include "marlowick/ValueText.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(ValueText, Booleans) {
  const std::pair<const char*, std::optional<bool>> cases[] = {
      {"true", true},  {"TRUE", true},       {"False", false}, {"fAlSe", false},
      {"1", {}},       {"yes", {}},          {"", {}},         {" true", {}},
      {"true ", {}},   {"truefalse", {}},    {"t", {}},
  };
  for (auto [text, expected] : cases) {
    bool value = !expected.value_or(false);
    EXPECT_EQ(marlowick::parseBoolean(text, value), expected.has_value()) << text;
    if (expected) {
      EXPECT_EQ(value, *expected) << text;
    }
  }
}

TEST(ValueText, WholeNumbers) {
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"21", 21},
      {"021", 21},
      {"-1", -1},
      {"+7", 7},
      {" \t-+- 5", -5},
      {"--5", -5},
      {"-+5", 5},
      {"0", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", {}},
      {"99999999999999999999999", {}},
      {"0x15", {}},
      {"abc", {}},
      {"", {}},
      {"-", {}},
      {"5 ", {}},
      {"5-", {}},
      {"1.5", {}},
  };
  for (auto [text, expected] : cases) {
    std::int64_t value = 12345;
    EXPECT_EQ(marlowick::parseWholeNumber(text, value), expected.has_value()) << text;
    if (expected) {
      EXPECT_EQ(value, *expected) << text;
    }
  }
}

TEST(ValueText, UnsignedNumbers) {
  const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
      {"100", 100}, {"+100", 100}, {"0", 0}, {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", {}}, {"-1", {}}, {"++1", {}}, {" 1", {}}, {"1 ", {}},
      {"", {}}, {"+", {}}, {"1k", {}},
  };
  for (auto [text, expected] : cases) {
    std::uint64_t value = 12345;
    EXPECT_EQ(marlowick::parseUnsignedNumber(text, value), expected.has_value()) << text;
    if (expected) {
      EXPECT_EQ(value, *expected) << text;
    }
  }
}

TEST(ValueText, CheckedProducts) {
  std::uint64_t u = 0;
  EXPECT_TRUE(marlowick::multiplyChecked(std::uint64_t{100}, 1024, u));
  EXPECT_EQ(u, 102400u);
  EXPECT_FALSE(marlowick::multiplyChecked(UINT64_MAX / 1024 + 1, std::uint64_t{1024}, u));
  std::int64_t s = 0;
  EXPECT_TRUE(marlowick::multiplyChecked(std::int64_t{-60}, 600000000, s));
  EXPECT_EQ(s, -36000000000);
  EXPECT_FALSE(marlowick::multiplyChecked(INT64_MAX / 600000000 + 1, std::int64_t{600000000}, s));
}

}  // namespace
