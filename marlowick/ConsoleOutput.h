#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace marlowick {

/// Writes `text` and a line end to the console, then the same text to the log at level Info
/// (`isInfo`) or Error. Returns `isInfo`.
bool printAndLog(std::string_view text, bool isInfo);

/// While on, the console shows only Error lines: Info lines still reach the log, console-only
/// lines and the progress line are left out. For runs whose output nobody reads but a scheduler
/// that mails it.
void setConsoleQuiet(bool quiet);

/// Writes `text` and a line end to the console only, and flushes; nothing while the console is
/// quiet.
void consoleLine(std::string_view text);

/// Writes `text` to the console and flushes; no line end, nothing logged.
void consolePrint(std::string_view text);

/// One message for `printAndLog`.
struct Message {
  std::string text;
  bool isInfo;
};

/// Messages collected while a piece of work runs, reported together so that no other thread's
/// line falls between them.
class MessageBatch {
 public:
  /// Collects one message; returns `isInfo`, like `printAndLog`.
  bool add(std::string text, bool isInfo);
  /// Reports every collected message through `printAndLog`, in order, without a line of another
  /// thread in between, and forgets them.
  void report();

 private:
  std::vector<Message> messages_;
};

/// Shows `text` as the one self-updating line at the foot of the console, replacing the one shown
/// before. Only when standard output is a terminal; never logged. The next console line erases
/// it first. `owner` tells whose line it is (see `eraseProgress`).
void showProgress(std::string_view text, const void* owner);

/// Erases the progress line when `owner` showed the one on screen.
void eraseProgress(const void* owner);

/// The progress line of one transfer: silent for its first second, then one line with the name,
/// bytes so far / size, rate and time left, redrawn a few times a second; erased when the object
/// goes away. Does nothing when standard output is not a terminal.
class TransferProgress {
 public:
  using Clock = std::chrono::steady_clock;

  /// `size`: the expected number of bytes, or all bits set when unknown.
  TransferProgress(std::string name, std::uint64_t size);
  ~TransferProgress();
  TransferProgress(const TransferProgress&) = delete;
  TransferProgress& operator=(const TransferProgress&) = delete;

  /// True when progress lines can be seen at all (standard output is a terminal, and the console
  /// is not quiet).
  static bool visible();

  /// Notes that the transfer continues a file of which `held` bytes were there before it: the
  /// rate counts only the bytes that arrive now.
  void resumedAt(std::uint64_t held) { earlier_ = held; }

  /// Notes that `received` bytes have arrived; may redraw the line.
  void update(std::uint64_t received);

  /// The line's text for `received` bytes after `elapsed`, `earlier` of them there before the
  /// transfer began (exposed for tests).
  static std::string text(const std::string& name, std::uint64_t received, std::uint64_t size,
                          Clock::duration elapsed, std::uint64_t earlier = 0);

 private:
  std::string name_;
  std::uint64_t size_;
  std::uint64_t earlier_ = 0;
  Clock::time_point start_;
  Clock::time_point nextDraw_;
  bool enabled_;
};

}  // namespace marlowick
