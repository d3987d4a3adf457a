#pragma once

#include <functional>
#include <string>

#include "marlowick/JobSettings.h"
#include "platform/Outcome.h"

namespace marlowick {

/// What one kind of work does when a try of it failed: which failures end its tries at once,
/// and how the Info line before another try begins (`{}` stands for what is tried).
struct GiveUpRule {
  const char* lead;
  bool (*final)(const platform::Outcome& outcome);
};

/// A refusal that will not change (530, 550, ...) or a failure on this side: another try would
/// fail the same way. A lost or silent connection and the "try again" replies are tried again.
inline bool refusedForGood(const platform::Outcome& outcome) { return !outcome.transient(); }

/// Opening a session: connect, TLS, login, UTF-8 names, the start folder.
inline constexpr GiveUpRule kOpening{" Connecting {} again", refusedForGood};
/// Listing one folder.
inline constexpr GiveUpRule kListing{" Retrying the listing of {}", refusedForGood};
/// Fetching one file.
inline constexpr GiveUpRule kFetching{" Retrying {}", refusedForGood};

/// The further tries of one thing (a session, a listing, a file) after failed ones, by its
/// rule: at most `settings.retries`, the pause before each twice the last one's, from
/// `settings.firstPause` up to `JobSettings::kLongestPause`, and none once the job's deadline
/// has come, which also cuts a pause short.
class Retrying {
 public:
  /// Gets the Info line before a further try.
  using Say = std::function<void(const std::string& line)>;

  /// `used`: further tries already made.
  Retrying(const JobSettings& settings, const GiveUpRule& rule, int used = 0)
      : settings_(settings), rule_(rule), number_(used) {}

  /// After a try that failed with `outcome`: true when another one is to be made, counting it.
  /// False when the rule makes the failure final, when the tries are used up, or when the
  /// deadline has come (`deadlineReached` then tells).
  bool another(const platform::Outcome& outcome);
  /// Says the Info line of the try just counted, for `subject` which failed with `failure`,
  /// then pauses. False when the deadline came meanwhile: no further try then.
  bool pause(const std::string& subject, const std::string& failure, const Say& say);
  /// `another`, then `pause`.
  bool again(const platform::Outcome& outcome, const std::string& subject,
             const std::string& failure, const Say& say) {
    return another(outcome) && pause(subject, failure, say);
  }
  /// True when the job's deadline has come (and is recorded as what stopped the job).
  bool deadlineReached() const { return settings_.deadlinePassed(); }

 private:
  const JobSettings& settings_;
  GiveUpRule rule_;
  int number_;
};

}  // namespace marlowick
