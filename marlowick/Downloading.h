#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "marlowick/JobRecord.h"

namespace util {
class Arguments;
}

namespace marlowick {

class Downloader;

/// The application object: holds the process argument list and runs the interactive prompt,
/// the console commands and each download request.
class Downloading {
 public:
  /// `args` is the argument list as the process received it, the program path first.
  explicit Downloading(std::vector<std::string> args) : args(std::move(args)) {}
  virtual ~Downloading() = default;

  /// Chooses the mode once by the number of user arguments: none → the prompt; one → a
  /// command word or else a download request; more → a download request.
  virtual void run();
  /// The interactive prompt; returns on an exit word or at the end of input.
  virtual void consoleLoop();
  /// Carries out the command word in `tokens[0]`; false when it is not one.
  virtual bool runCommand(std::vector<std::string>& tokens);
  /// Replaces a leading "@file" token by the file's lines, one token per line, followed by
  /// the remaining tokens. False (after its report) when the request must stop.
  virtual bool parstAt(std::vector<std::string>& tokens);
  /// The required arguments and the local folder; false after reporting the first fault.
  virtual bool checkArguments(const util::Arguments& arguments);
  /// One download request from start to its files-saved line. Never throws: a failure is
  /// reported with "Marlowick main catch ".
  virtual void runDownload(std::vector<std::string> tokens);
  /// Converts and stores every value in `job`; false after reporting the first invalid one.
  virtual bool applyArguments(Downloader& job, const util::Arguments& arguments);

  /// The process exit status the requests so far call for: 0 unless one of them asked for exit
  /// codes (`--exitcodes=true`), else the worst status of those that did.
  int exitStatus() const;

  std::vector<std::string> args;

 private:
  /// The request up to its files-saved line; the status it earned. May throw.
  RequestStatus carryOut(Downloader& job, std::vector<std::string>& tokens, bool& ran);
  /// Ends a request that earned `status`: its report line, when asked for, and its share of the
  /// exit status.
  void finishRequest(const Downloader& job, RequestStatus status, std::int64_t start);

  bool exitCodesAsked_ = false;
  RequestStatus worst_ = RequestStatus::done;
};

/// The request's exit-code and report arguments, taken before any value is checked, so that a
/// request stopped by an invalid value still says so in its status and report. Invalid values
/// are left for `applyArguments` to report.
void takeOutputArguments(Downloader& job, const util::Arguments& arguments);

/// Declares the request's arguments and their aliases on a fresh parser.
void declareRequestArguments(util::Arguments& arguments);

/// The console-event handler: writes missing help shortcuts; nonzero for the handled events.
int consoleCtrlHandler(int event);

/// The entry after the log is open: handler, title, window, the run, the shortcut files.
/// Returns the process exit status: 0 whatever happened, unless a request asked for exit codes.
int runEntry(std::vector<std::string> args);

}  // namespace marlowick
