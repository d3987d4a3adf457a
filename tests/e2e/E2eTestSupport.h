#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/e2e/E2eJob.h"
#include "tests/e2e/E2eServer.h"
#include "tests/e2e/E2eTree.h"
#include "tests/support/TempDir.h"

namespace e2e {

/// The tree `kind` serves: Twisted gets the one with ASCII names only.
inline const ServedTree& servedTreeFor(ServerKind kind) {
  return kind == ServerKind::twisted ? ServedTree::asciiNames() : ServedTree::get();
}

/// A test against one real server serving the tree, with a fresh local folder.
class ServerTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    server_ = std::make_unique<FtpServerProcess>(GetParam(), servedTreeFor(GetParam()).root());
  }

  static const ServedTree& tree() { return ServedTree::get(); }
  const std::string& local() const { return local_.path(); }
  JobRun run(std::vector<std::string> options) {
    return runJob(*server_, local(), std::move(options));
  }
  /// The closing line of a request that saved `count` files into local().
  std::string savedLine(std::size_t count) const {
    return " " + std::to_string(count) + " files saved to " + local() + "/";
  }

  testing_support::TempDir local_;
  std::unique_ptr<FtpServerProcess> server_;
};

struct ServerNames {
  std::string operator()(const ::testing::TestParamInfo<ServerKind>& info) const {
    return serverName(info.param);
  }
};

#define E2E_ALL_SERVERS                                                                           \
  ::testing::Values(e2e::ServerKind::vsftpd, e2e::ServerKind::pureFtpd, e2e::ServerKind::proftpd, \
                    e2e::ServerKind::pyftpdlib)

}  // namespace e2e
