#include "tests/e2e/E2eJob.h"

#include <sstream>

namespace e2e {
namespace {

std::vector<std::string> namesBetween(const std::string& text, const std::string& before,
                                      const std::string& after) {
  std::vector<std::string> names;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!startsWith(line, before)) continue;
    const auto end = line.find(after, before.size());
    if (end != std::string::npos) names.push_back(line.substr(before.size(), end - before.size()));
  }
  return names;
}

}  // namespace

std::vector<std::string> JobRun::found() const {
  return namesBetween(process.out, " found ", ", last modified: ");
}

std::vector<std::string> JobRun::failed() const {
  return namesBetween(process.out, "Download ", " failed: ");
}

bool JobRun::printed(const std::string& line) const {
  return process.out.find("\n" + line + "\n") != std::string::npos ||
         startsWith(process.out, line + "\n");
}

std::vector<std::string> jobArguments(const FtpServerProcess& server, const std::string& local,
                                      std::vector<std::string> options) {
  std::vector<std::string> args{"--host=" + server.host(), "--port=" + std::to_string(server.port()),
                                "--username=" + server.user(), "--password=" + server.password(),
                                "--local=" + local};
  bool recurseGiven = false;
  for (const auto& option : options) recurseGiven |= startsWith(option, "--recurse");
  if (!recurseGiven) args.push_back("--recurse=true");
  args.insert(args.end(), options.begin(), options.end());
  return args;
}

JobRun runJob(const FtpServerProcess& server, const std::string& local,
              std::vector<std::string> options, std::chrono::milliseconds timeout) {
  testing_support::ProgramHome home;
  testing_support::ProcessOptions processOptions;
  processOptions.timeout = timeout;
  JobRun run;
  run.process = home.run(jobArguments(server, local, std::move(options)), processOptions);
  run.log = home.log();
  return run;
}

std::string differingFiles(const std::string& local, const FileSet& names, const ServedTree& tree) {
  std::string differing;
  for (const auto& name : names) {
    if (!sameBytes(tree.file(name), local + "/" + name)) differing += " " + name;
  }
  return differing;
}

std::string describe(const FileSet& names) {
  std::string text = std::to_string(names.size()) + " files:";
  int shown = 0;
  for (const auto& name : names) {
    if (++shown > 40) return text + " ...";
    text += " [" + name + "]";
  }
  return text;
}

}  // namespace e2e
