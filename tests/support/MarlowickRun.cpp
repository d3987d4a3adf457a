#include "tests/support/MarlowickRun.h"

namespace testing_support {

ProgramHome::ProgramHome() = default;

std::string ProgramHome::logPath() const {
  return path() + "/.local/share/Orvendel/Marlowick/log.txt";
}

ProcessResult ProgramHome::run(const std::vector<std::string>& args, ProcessOptions options,
                               const std::string& binary) const {
  std::vector<std::string> argv{binary};
  argv.insert(argv.end(), args.begin(), args.end());
  options.env.emplace("HOME", path());
  options.env.emplace("LC_ALL", "C.UTF-8");
  options.unsetEnv.push_back("XDG_DATA_HOME");
  return runProcess(argv, options);
}

}  // namespace testing_support
