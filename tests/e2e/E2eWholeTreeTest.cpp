// The whole tree from the servers that are tried for that alone: GNU inetutils ftpd, netkit ftpd
// and Twisted.
#include "tests/e2e/E2eTestSupport.h"

namespace e2e {
namespace {

using WholeTreeDownload = ServerTest;

// All of bulk/ but its first folder is left out, to keep the suite short: every file costs
// these servers about 45 ms, with any client (vsftpd: about 4 ms).
bool leftOut(const std::string& path) {
  return path == kHugeFile || (startsWith(path, "bulk/") && !startsWith(path, "bulk/g00/"));
}

/// What `kind` serves of `served`. Twisted lists a symbolic link as what it points to, so
/// the files the tree's links lead to arrive under the links' names too.
FileSet expectedFrom(const ServedTree& served, ServerKind kind) {
  FileSet expected = served.select([](const TreeFile& f) { return !leftOut(f.path); });
  if (kind != ServerKind::twisted) return expected;
  expected.insert({"link-to-file", "names/link-in-names"});
  for (const auto& name : filesBelow(served.file("deep"))) {
    expected.insert("link-to-folder/" + name);
  }
  return expected;
}

TEST_P(WholeTreeDownload, ArrivesByteForByteInBothModes) {
  const ServedTree& served = servedTreeFor(GetParam());
  const FileSet expected = expectedFrom(served, GetParam());
  ASSERT_GT(expected.size(), 100u);
  for (const char* passive : {"--passive=true", "--passive=false"}) {
    SCOPED_TRACE(passive);
    testing_support::TempDir into;
    auto job = runJob(*server_, into.path(),
                      {"--exclude=*huge.bin|bulk/g0[123456789]/*|bulk/g1?/*", passive});
    EXPECT_EQ(job.process.exitCode, 0);
    const FileSet arrived = filesBelow(into.path());
    EXPECT_EQ(arrived, expected) << describe(arrived) << "\n" << job.process.out.substr(0, 3000);
    EXPECT_EQ(differingFiles(into.path(), arrived, served), "");
    EXPECT_TRUE(job.printed(" " + std::to_string(expected.size()) + " files saved to " +
                            into.path() + "/"));
    EXPECT_EQ(job.log.find(" Error "), std::string::npos) << job.log.substr(0, 3000);
  }
}

TEST_P(WholeTreeDownload, WrongPasswordGivesTheLoginFailure) {
  auto wrong = run({"--password=not-the-password"});
  EXPECT_EQ(wrong.process.exitCode, 0);
  EXPECT_NE(wrong.process.out.find("\nLogin failure 530"), std::string::npos) << wrong.process.out;
  EXPECT_TRUE(wrong.printed(savedLine(0)));
}

INSTANTIATE_TEST_SUITE_P(Servers, WholeTreeDownload,
                         ::testing::Values(ServerKind::inetutils, ServerKind::netkit,
                                           ServerKind::twisted),
                         ServerNames());

}  // namespace
}  // namespace e2e
