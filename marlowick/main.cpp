#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "marlowick/Credentials.h"
#include "marlowick/Downloading.h"
#include "marlowick/Logger.h"
#include "platform/Console.h"
#include "platform/Encoding.h"
#include "platform/Process.h"
#include "platform/Socket.h"

int main(int argc, char** argv) {
  // Before anything is opened: a closed standard stream must not hand its number to the log.
  platform::ensureStandardStreams();
  std::vector<std::string> arguments = platform::commandLineArguments(argc, argv);
  // Read now, hidden now: process listings must show the password as briefly as can be.
  for (const marlowick::SecretSpan& span : marlowick::passwordSpans(arguments)) {
    platform::hideArgument(argc, argv, span.index, span.from);
  }
  platform::useUserLocale();
  // A reader that goes away (a pipe into head) makes console writes fail, which are not
  // reported; it must not end the run.
  platform::ignoreBrokenPipe();
  try {
    marlowick::startLog();
  } catch (const std::exception& failure) {
    platform::consoleWrite(failure.what());
    platform::consoleWrite(platform::kLineEnd);
    platform::consoleFlush();
    return 1;
  }
  int status = marlowick::runEntry(std::move(arguments));
  marlowick::logger().closeFile();
  return status;
}
