#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "marlowick/Downloader.h"
#include "marlowick/Downloading.h"
#include "util/Arguments.h"

namespace marlowick_test {

/// What `applyArguments` made of a token list: its result, the job and the console output.
struct Applied {
  bool accepted = false;
  marlowick::Downloader job;
  std::string console;
};

inline Applied apply(const std::vector<std::string>& tokens) {
  marlowick::Downloading app({"marlowick"});
  util::Arguments arguments;
  marlowick::declareRequestArguments(arguments);
  arguments.parse(tokens);
  Applied result;
  testing::internal::CaptureStdout();
  result.accepted = app.applyArguments(result.job, arguments);
  result.console = testing::internal::GetCapturedStdout();
  return result;
}

}  // namespace marlowick_test
