#pragma once

#include <string>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace testing_support {

/// A home folder for one run of the program: the log lands below it, nothing of the user's.
class ProgramHome {
 public:
  ProgramHome();
  const std::string& path() const { return dir_.path(); }
  /// Where the program keeps its log for this home.
  std::string logPath() const;
  std::string log() const { return readFile(logPath()); }
  /// Runs `binary` (default: the built program) with `args`, HOME set to this folder.
  ProcessResult run(const std::vector<std::string>& args, ProcessOptions options = {},
                    const std::string& binary = marlowickBinary()) const;

 private:
  TempDir dir_;
};

}  // namespace testing_support
