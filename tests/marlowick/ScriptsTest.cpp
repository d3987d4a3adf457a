// The demo, as a new user meets it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/MarlowickRun.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProgramHome;
using testing_support::TempDir;

TEST(Scripts, DemoEndsWithStatusZeroAndLeavesNothingInTheTemporaryFolder) {
  if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no Debian python3";
  TempDir demo, temporary;
  ProgramHome home;
  ProcessOptions options;
  options.env["MARLOWICK_DEMO_BINARY"] = testing_support::marlowickBinary();
  options.env["MARLOWICK_DEMO_DIR"] = demo.path();
  options.env["TMPDIR"] = temporary.path();
  auto result = home.run({MARLOWICK_SOURCE_DIR "/scripts/demo.sh"}, options, "/bin/bash");
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("Every file matches"), std::string::npos) << result.out;
  EXPECT_TRUE(std::filesystem::is_empty(temporary.path()));
}

}  // namespace
