#include "marlowick/Downloading.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "marlowick/ArgumentCheck.h"
#include "marlowick/BoundsCheck.h"
#include "marlowick/Config.h"
#include "marlowick/Credentials.h"
#include "marlowick/Downloader.h"
#include "marlowick/HelpPages.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/Logger.h"
#include "marlowick/RunReport.h"
#include "marlowick/SettingsSummary.h"
#include "marlowick/WindowShape.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/Signals.h"
#include "util/Arguments.h"

namespace marlowick {

void Downloading::run() {
  if (args.size() <= 1) {
    platform::sleepMilliseconds(1000);
    consoleLoop();
    return;
  }
  std::vector<std::string> tokens(args.begin() + 1, args.end());
  if (tokens.size() == 1 && runCommand(tokens)) return;
  runDownload(tokens);
}

void Downloading::runDownload(std::vector<std::string> tokens) {
  const std::int64_t start = platform::utcTicksNow();
  Downloader job;
  RequestStatus status = RequestStatus::invalidArguments;
  bool ran = false;
  try {
    status = carryOut(job, tokens, ran);
  } catch (const std::exception& failure) {
    printAndLog(std::string("Marlowick main catch ") + failure.what(), false);
    // A job cut short is not counted whole; a request that never reached it did not run.
    if (ran) status = std::max(job.record->status(), RequestStatus::someFailed);
  }
  finishRequest(job, status, start);
  // A request's quiet console ends with it: the prompt and the next request speak again.
  setConsoleQuiet(false);
}

RequestStatus Downloading::carryOut(Downloader& job, std::vector<std::string>& tokens,
                                    bool& ran) {
  util::Arguments arguments;
  declareRequestArguments(arguments);
  if (!tokens.empty() && tokens[0].size() > 1 && tokens[0][0] == '@' && !parstAt(tokens)) {
    // The arguments after the file still tell how the request is to be reported.
    arguments.parse(std::vector<std::string>(tokens.begin() + 1, tokens.end()));
    takeOutputArguments(job, arguments);
    return RequestStatus::invalidArguments;
  }
  const std::vector<std::string> strays = takeStrayWords(tokens);
  arguments.parse(tokens);
  takeOutputArguments(job, arguments);
  setConsoleQuiet(job.quiet);
  // Ignored, as an unknown name always was, but never without a word; a caller that asked to be
  // told how the request went gets no run it did not ask for.
  std::vector<std::string> unknown = unknownArgumentMessages(arguments);
  unknown.insert(unknown.begin(), strays.begin(), strays.end());
  const auto sayUnknown = [&unknown] {
    for (const std::string& message : unknown) printAndLog(message, false);
  };
  if (!unknown.empty() && job.exitCodes) {
    sayUnknown();
    return RequestStatus::invalidArguments;
  }
  if (supplyCredentials(arguments, tokens)) arguments.parse(tokens);
  if (!checkArguments(arguments) || !applyArguments(job, arguments)) {
    sayUnknown();
    return RequestStatus::invalidArguments;
  }
  // The job's first line in the log, so that its lines can be told from the next job's.
  logger().info(jobLine(job));
  sayUnknown();
  for (const std::string& message : boundsThatSelectNothing(job)) printAndLog(message, true);
  ran = true;
  job.execute();
  job.record->selection(job.files);
  const std::string failures =
      failureCountText(job.record->failedFiles(), job.record->failedFolders());
  if (!failures.empty()) printAndLog(failures, false);
  printAndLog(fmt::format(" {} files saved to {}", job.savedCount, job.local),
              job.savedCount != 0);
  return job.record->status();
}

void Downloading::finishRequest(const Downloader& job, RequestStatus status, std::int64_t start) {
  if (!job.report.empty()) {
    std::string error;
    try {
      const std::string line = reportLine(job, status, {start, platform::utcTicksNow()});
      if (!platform::appendInOneWrite(job.report, line, &error)) {
        error = fmt::format("{}: {}", job.report, error);
      }
    } catch (const std::exception& failure) {
      error = fmt::format("{}: {}", job.report, failure.what());
    }
    if (!error.empty()) {
      printAndLog("Unable to write the report " + error, false);
      status = std::max(status, RequestStatus::someFailed);
    }
  }
  if (!job.exitCodes) return;
  exitCodesAsked_ = true;
  worst_ = std::max(worst_, status);
}

int Downloading::exitStatus() const { return exitCodesAsked_ ? static_cast<int>(worst_) : 0; }

int consoleCtrlHandler(int event) {
  switch (event) {
    case platform::kCtrlC:
    case platform::kCtrlBreak:
    case platform::kClose:
    case platform::kLogoff:
    case platform::kShutdown:
      // Runs beside the main thread: a failure here is reported, never allowed to end the run.
      try {
        writeHelpShortcuts();
      } catch (const std::exception& failure) {
        printAndLog(std::string("consoleCtrlHandler catch ") + failure.what(), false);
      }
      return 1;
    default:
      return 0;
  }
}

int runEntry(std::vector<std::string> args) {
  Downloading application(std::move(args));
  try {
    try {
      if (!platform::installConsoleHandler(consoleCtrlHandler)) {
        printAndLog("Unable to install Console event handler", false);
      }
      platform::setConsoleTitle(config().productName());
      placeConsoleWindow();
      application.run();
    } catch (...) {
      writeHelpShortcuts();
      throw;
    }
    writeHelpShortcuts();
  } catch (const std::exception& failure) {
    printAndLog(std::string("main catch ") + failure.what(), false);
  }
  return application.exitStatus();
}

}  // namespace marlowick
