#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "marlowick/JobSettings.h"
#include "util/Text.h"

namespace marlowick {

/// The further tries of one thing (a file, a listing, a connection) after failures that another
/// try may mend: at most `settings.retries`, the pause before each twice the last one's, from
/// `settings.firstPause` up to `JobSettings::kLongestPause`.
class RetryBudget {
 public:
  /// `used`: further tries already made.
  explicit RetryBudget(const JobSettings& settings, int used = 0)
      : tries_(settings.retries), first_(settings.firstPause), number_(used) {}

  /// True when another try is left; then counts it, so that `number` and the pause describe it.
  bool take() {
    if (number_ >= tries_) return false;
    ++number_;
    return true;
  }
  /// The number of the further try just taken, from 1, and how many there may be.
  int number() const { return number_; }
  int tries() const { return tries_; }
  /// The pause before the try just taken.
  std::chrono::milliseconds pauseLength() const {
    std::chrono::milliseconds pause = first_;
    for (int doubled = 1; doubled < number_ && pause < JobSettings::kLongestPause; ++doubled) {
      pause *= 2;
    }
    return std::min(pause, std::chrono::milliseconds(JobSettings::kLongestPause));
  }
  void pause() const { std::this_thread::sleep_for(pauseLength()); }
  /// The pause as text for a message ("1 s", "0.25 s").
  std::string pauseText() const { return util::durationText(pauseLength()); }

 private:
  int tries_;
  std::chrono::milliseconds first_;
  int number_;
};

}  // namespace marlowick
