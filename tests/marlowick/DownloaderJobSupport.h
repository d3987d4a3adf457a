#pragma once

#include <string>

#include "marlowick/Downloader.h"
#include "tests/marlowick/DownloaderTestSupport.h"
#include "tests/support/TempDir.h"

namespace marlowick_test {

/// What one job left behind.
struct JobRun {
  bool result = false;
  std::string console;
  std::string log;  // time stamps replaced by "T"
};

/// Runs `job.execute()` with the console and the log captured.
inline JobRun runJob(marlowick::Downloader& job) {
  LogCapture log;
  StdoutCapture out;
  JobRun run;
  run.result = job.execute();
  run.console = out.text();
  run.log = log.text();
  return run;
}

/// A job for the server on 127.0.0.1:`port` that saves below `localFolder`, trying each thing
/// once (`retries` 0) so that a failure shows as it happens.
inline marlowick::Downloader jobFor(int port, const std::string& localFolder) {
  marlowick::Downloader job;
  job.retries = 0;
  job.host = "127.0.0.1";
  job.port = port;
  job.username = "user";
  job.password = "secret";
  job.local = localFolder + "/";
  return job;
}

/// One line of a UNIX listing for a file.
inline std::string fileLine(const std::string& name, std::size_t size,
                            const std::string& date = "Jan 01  2024") {
  return "-rw-r--r--   1 owner group " + std::to_string(size) + " " + date + " " + name + "\r\n";
}

/// One line of a UNIX listing for a folder.
inline std::string folderLine(const std::string& name) {
  return "drwxr-xr-x   2 owner group 4096 Jan 01  2024 " + name + "\r\n";
}

}  // namespace marlowick_test
