#include "marlowick/Downloading.h"

#include <fmt/format.h>

#include <stdexcept>

#include "marlowick/Config.h"
#include "marlowick/Downloader.h"
#include "marlowick/HelpPages.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/WindowShape.h"
#include "platform/Clock.h"
#include "platform/Console.h"
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
  try {
    Downloader job;
    util::Arguments arguments;
    declareRequestArguments(arguments);
    if (!tokens.empty() && tokens[0].size() > 1 && tokens[0][0] == '@' && !parstAt(tokens)) {
      return;
    }
    arguments.parse(tokens);
    if (!checkArguments(arguments) || !applyArguments(job, arguments)) return;
    job.execute();
    printAndLog(fmt::format(" {} files saved to {}", job.savedCount, job.local),
                job.savedCount != 0);
  } catch (const std::exception& failure) {
    printAndLog(std::string("Marlowick main catch ") + failure.what(), false);
  }
}

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
  try {
    try {
      if (!platform::installConsoleHandler(consoleCtrlHandler)) {
        printAndLog("Unable to install Console event handler", false);
      }
      platform::setConsoleTitle(config().productName());
      placeConsoleWindow();
      Downloading application(std::move(args));
      application.run();
    } catch (...) {
      writeHelpShortcuts();
      throw;
    }
    writeHelpShortcuts();
  } catch (const std::exception& failure) {
    printAndLog(std::string("main catch ") + failure.what(), false);
  }
  return 0;
}

}  // namespace marlowick
