#include "marlowick/Retrying.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "util/Text.h"

namespace marlowick {
namespace {

/// The pause before the further try number `number` (from 1).
std::chrono::milliseconds pauseLength(const JobSettings& settings, int number) {
  std::chrono::milliseconds pause = settings.firstPause;
  for (int doubled = 1; doubled < number && pause < JobSettings::kLongestPause; ++doubled) {
    pause *= 2;
  }
  return std::min(pause, std::chrono::milliseconds(JobSettings::kLongestPause));
}

}  // namespace

bool Retrying::another(const platform::Outcome& outcome) {
  if (rule_.final(outcome) || number_ >= settings_.retries || deadlineReached()) return false;
  ++number_;
  return true;
}

bool Retrying::pause(const std::string& subject, const std::string& failure, const Say& say) {
  const std::chrono::milliseconds length = pauseLength(settings_, number_);
  say(fmt::format("{} in {} ({}/{}): {}", fmt::format(fmt::runtime(rule_.lead), subject),
                  util::durationText(length), number_, settings_.retries, failure));
  const platform::Deadline& end = settings_.stopAt;
  std::this_thread::sleep_for(
      end.limited() ? std::min(length, std::chrono::milliseconds(end.remainingMs())) : length);
  return !deadlineReached();
}

}  // namespace marlowick
