#include "marlowick/ConsoleOutput.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "marlowick/Logger.h"
#include "marlowick/SafeName.h"
#include "platform/Console.h"

namespace marlowick {

namespace {

using kestrelkit::net::ftp::kUnknownSize;

using namespace std::chrono_literals;

constexpr auto kQuietStart = 1s;
constexpr auto kRedrawEvery = 250ms;
// Keeps the whole line within 80 columns.
constexpr std::size_t kLongestShownName = 28;

std::atomic<bool> quietConsole{false};

// Keeps a console line and its log line together when several threads report.
std::recursive_mutex& outputLock() {
  static std::recursive_mutex lock;
  return lock;
}

// The progress line on screen, if any: its width and whose it is. Guarded by the output lock.
struct ProgressState {
  std::size_t width = 0;
  const void* owner = nullptr;
};

ProgressState& progress() {
  static ProgressState state;
  return state;
}

// Blanks the progress line and puts the cursor back at its start. Plain blanks rather than a
// terminal's erase sequence, so that every console understands it.
void eraseProgressLocked() {
  ProgressState& state = progress();
  if (state.width == 0) return;
  std::string blank = "\r" + std::string(state.width, ' ') + "\r";
  platform::consoleWrite(blank);
  state.width = 0;
  state.owner = nullptr;
}

std::size_t codePoints(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

// The end of `name`, at most kLongestShownName characters, cut at a character boundary.
std::string shortName(const std::string& name) {
  if (codePoints(name) <= kLongestShownName) return name;
  std::size_t start = name.size();
  std::size_t kept = 0;
  while (start > 0 && kept < kLongestShownName - 3) {
    --start;
    if ((static_cast<unsigned char>(name[start]) & 0xC0) != 0x80) ++kept;
  }
  return "..." + name.substr(start);
}

std::string bytesText(std::uint64_t bytes) {
  constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  if (unit == 0) return fmt::format("{} B", bytes);
  return fmt::format("{:.1f} {}", value, kUnits[unit]);
}

std::string durationText(std::uint64_t seconds) {
  if (seconds >= 3600) {
    return fmt::format("{}:{:02}:{:02}", seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return fmt::format("{}:{:02}", seconds / 60, seconds % 60);
}

void writeLine(std::string_view text) {
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  eraseProgressLocked();
  platform::consoleWrite(text);
  platform::consoleWrite(platform::kLineEnd);
  // Flushed even when redirected, so a scheduler's capture holds every line however the run
  // ends.
  platform::consoleFlush();
}

}  // namespace

void setConsoleQuiet(bool quiet) { quietConsole = quiet; }

void consoleLine(std::string_view text) {
  if (!quietConsole) writeLine(text);
}

void consolePrint(std::string_view text) {
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  eraseProgressLocked();
  platform::consoleWrite(text);
  platform::consoleFlush();
}

bool printAndLog(std::string_view text, bool isInfo) {
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  if (!isInfo || !quietConsole) writeLine(text);
  logger().log(isInfo ? LogLevel::info : LogLevel::error, text);
  return isInfo;
}

bool MessageBatch::add(std::string text, bool isInfo) {
  messages_.push_back({std::move(text), isInfo});
  return isInfo;
}

void MessageBatch::report() {
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  for (const Message& message : messages_) printAndLog(message.text, message.isInfo);
  messages_.clear();
}

void showProgress(std::string_view text, const void* owner) {
  if (quietConsole || !platform::stdoutIsTerminal()) return;
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  ProgressState& state = progress();
  const std::size_t width = codePoints(text);
  std::string line = "\r" + std::string(text);
  // Blanks over whatever the longer line before left behind.
  if (width < state.width) line += std::string(state.width - width, ' ');
  platform::consoleWrite(line);
  platform::consoleFlush();
  state.width = std::max(width, state.width);
  state.owner = owner;
}

void eraseProgress(const void* owner) {
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  if (progress().owner != owner) return;
  eraseProgressLocked();
  platform::consoleFlush();
}

TransferProgress::TransferProgress(std::string name, std::uint64_t size)
    : name_(std::move(name)),
      size_(size),
      start_(Clock::now()),
      nextDraw_(start_ + kQuietStart),
      enabled_(visible()) {}

TransferProgress::~TransferProgress() {
  if (enabled_) eraseProgress(this);
}

bool TransferProgress::visible() { return !quietConsole && platform::stdoutIsTerminal(); }

void TransferProgress::update(std::uint64_t received) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now < nextDraw_) return;
  nextDraw_ = now + kRedrawEvery;
  showProgress(text(name_, received, size_, now - start_, earlier_), this);
}

std::string TransferProgress::text(const std::string& name, std::uint64_t received,
                                   std::uint64_t size, Clock::duration elapsed,
                                   std::uint64_t earlier) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  // A resumed file's earlier bytes did not cross the network now.
  const std::uint64_t moved = received > earlier ? received - earlier : 0;
  const double rate = seconds > 0 ? static_cast<double>(moved) / seconds : 0;
  // A remote name's control bytes would be obeyed by the terminal: shown as \xNN.
  std::string line = " " + shortName(visibleName(name)) + "  " + bytesText(received);
  if (size != kUnknownSize) line += " / " + bytesText(size);
  line += "  " + bytesText(static_cast<std::uint64_t>(rate)) + "/s";
  if (size != kUnknownSize && size >= received && rate > 0) {
    const auto left = static_cast<std::uint64_t>(static_cast<double>(size - received) / rate);
    line += "  " + durationText(left) + " left";
  }
  return line;
}

}  // namespace marlowick
