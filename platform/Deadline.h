#pragma once

#include <algorithm>
#include <chrono>

namespace platform {

/// The moment by which a blocking call must give up. Every call that may wait on the network
/// takes one; `never()` is the one way to wait without limit, and only a user's setting of 0
/// asks for it.
class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  static Deadline never() { return Deadline(); }
  static Deadline after(std::chrono::milliseconds span) { return Deadline(Clock::now() + span); }
  /// `span` from now, or no limit when `span` is zero or less (a setting of 0 means "no limit").
  static Deadline within(std::chrono::milliseconds span) {
    return span.count() > 0 ? after(span) : never();
  }

  /// `span` from now (no limit when zero or less), but never past `end`: a wait that has its
  /// own time limit inside a job that has one too.
  static Deadline within(std::chrono::milliseconds span, const Deadline& end) {
    return within(span).earlier(end);
  }

  bool limited() const { return limited_; }
  bool expired() const { return limited_ && Clock::now() >= at_; }
  /// Milliseconds left, rounded up and at least 0; -1 without a limit (as poll takes it).
  int remainingMs() const {
    if (!limited_) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
  }
  /// Whichever of the two comes first.
  Deadline earlier(const Deadline& other) const {
    if (!limited_) return other;
    if (!other.limited_) return *this;
    return at_ <= other.at_ ? *this : other;
  }

 private:
  Deadline() = default;
  explicit Deadline(Clock::time_point at) : limited_(true), at_(at) {}

  bool limited_ = false;
  Clock::time_point at_{};
};

/// Why a wait, or a job, ended when its end (`Deadline`) came, not its own time limit.
inline constexpr const char* kDeadlineReached = "deadline reached";

}  // namespace platform
