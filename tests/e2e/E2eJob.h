#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/e2e/E2eServer.h"
#include "tests/e2e/E2eTree.h"
#include "tests/support/MarlowickRun.h"

namespace e2e {

/// What one run of the program printed and logged.
struct JobRun {
  testing_support::ProcessResult process;
  std::string log;
  /// Names of the " found {}, last modified: {}" lines, in order.
  std::vector<std::string> found() const;
  /// Names of the "Download {} failed: {}" lines.
  std::vector<std::string> failed() const;
  bool printed(const std::string& line) const;
};

/// Runs the program against `server` into `local` with the connection arguments and `options`
/// (--recurse=true is added unless `options` holds a --recurse).
JobRun runJob(const FtpServerProcess& server, const std::string& local,
              std::vector<std::string> options,
              std::chrono::milliseconds timeout = std::chrono::seconds(120));

/// The program's arguments for `server` and `local`, followed by `options`.
std::vector<std::string> jobArguments(const FtpServerProcess& server, const std::string& local,
                                      std::vector<std::string> options);

/// "" when every file of `names` below `local` holds the same bytes as in `tree`, otherwise the
/// names that differ.
std::string differingFiles(const std::string& local, const FileSet& names,
                           const ServedTree& tree = ServedTree::get());

/// Readable listing of a set, for failure messages.
std::string describe(const FileSet& names);

}  // namespace e2e
