#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace {

// Sets or clears one environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) ::setenv(name_, old_.c_str(), 1); else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(Paths, ApplicationDataFolderFollowsXdgThenHome) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* expected;  // nullptr: an error
  };
  const Case cases[] = {
      {"/data/x", "/home/u", "/data/x"},
      {nullptr, "/home/u", "/home/u/.local/share"},
      {"", "/home/u", "/home/u/.local/share"},
      {"relative", "/home/u", "/home/u/.local/share"},
      {nullptr, nullptr, nullptr},
      {"", "", nullptr},
  };
  for (const Case& c : cases) {
    ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
    ScopedEnv home("HOME", c.home);
    if (c.expected) {
      EXPECT_EQ(platform::applicationDataFolder(), c.expected);
    } else {
      try {
        platform::applicationDataFolder();
        ADD_FAILURE() << "no error without a home";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("getSpecialPath :: ", 0), 0u) << e.what();
      }
    }
  }
}

TEST(Paths, ProgramFolderIsTheTestsOwnFolder) {
  std::string folder = platform::programFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder.front(), '/');
}

TEST(Paths, AbsolutePaths) {
  EXPECT_TRUE(platform::isAbsolutePath("/etc/jobs.txt"));
  EXPECT_TRUE(platform::isAbsolutePath("C:\\jobs.txt"));
  EXPECT_FALSE(platform::isAbsolutePath("jobs.txt"));
  EXPECT_FALSE(platform::isAbsolutePath(""));
  EXPECT_FALSE(platform::isAbsolutePath("./x"));
}

}  // namespace
