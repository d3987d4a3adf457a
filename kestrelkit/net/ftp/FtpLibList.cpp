#include <algorithm>
#include <cstring>
#include <string>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpLibChecks.h"
#include "kestrelkit/net/ftp/ListParser.h"

namespace kestrelkit::net::ftp {
namespace {

constexpr std::size_t kListBufferSize = 8192;
// As with ftplib's text-mode reader, a line longer than this arrives in pieces of this size,
// each taken as a line of its own.
constexpr std::size_t kLongestPiece = kListBufferSize - 1;

/// Cuts a listing's data into lines as it arrives (CR LF reduced to LF), within a bounded
/// buffer: a line longer than `kLongestPiece` arrives in pieces of that size, each taken as a
/// line of its own.
class LineSplitter {
 public:
  template <typename Take>
  void feed(const char* data, std::size_t length, Take&& take) {
    while (length > 0) {
      const char* newline = static_cast<const char*>(std::memchr(data, '\n', length));
      const std::size_t piece = newline != nullptr ? static_cast<std::size_t>(newline - data) : length;
      std::size_t used = 0;
      while (used < piece) {
        const std::size_t room = kLongestPiece - line_.size();
        const std::size_t part = std::min(room, piece - used);
        line_.append(data + used, part);
        used += part;
        if (line_.size() == kLongestPiece) emit(take);
      }
      if (newline == nullptr) return;
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      emit(take);
      data += piece + 1;
      length -= piece + 1;
    }
  }

  /// The last line, when the data ended without a line feed.
  template <typename Take>
  void end(Take&& take) {
    if (!line_.empty()) emit(take);
  }

  /// True when the data so far ends inside a line.
  bool midLine() const { return !line_.empty(); }

 private:
  template <typename Take>
  void emit(Take& take) {
    take(std::string_view(line_));
    line_.clear();
  }

  std::string line_;
};

FtpFileType typeOf(const ListLineFacts& facts) {
  if (facts.mayEnter && facts.mayRetrieve) return FtpFileType::unknown;  // links: neither
  if (facts.mayEnter) return FtpFileType::folder;
  if (facts.mayRetrieve) return FtpFileType::file;
  return FtpFileType::unknown;
}

}  // namespace

FtpFileInfo FtpLib::toFileInfo(std::string_view line) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  FtpFileInfo info;
  if (line.empty()) return info;
  ListLineFacts facts;
  if (!parseListLine(facts, line.data(), line.size())) return info;
  // Every server's listing time, "Windows_NT" ones included, is the listed wall clock read as
  // UTC (or exact seconds for EPLF); all are carried over the same way. Without a system type
  // the time is left unknown.
  if (facts.timeKind != kTimeUnknown && !systemType_.empty()) {
    info.modifyTime = ticks::fromUnixSecondsOrUnknown(facts.time);
  }
  if (facts.nameLength > 0) info.name.assign(facts.name, facts.nameLength);
  info.type = typeOf(facts);
  if (facts.sizeKind != 0) info.size = facts.size;
  if (info.name == ".") info.type = FtpFileType::currentFolder;
  if (info.name == "..") info.type = FtpFileType::parentFolder;
  return info;
}

bool FtpLib::list(const std::string& path, std::vector<FtpFileInfo>& out) {
  out.clear();
  auto keep = [&out](FtpFileInfo&& record) { out.push_back(std::move(record)); };
  const bool listed = listEach(path, keep);
  if (!listed) out.clear();
  return listed;
}

bool FtpLib::listEach(const std::string& path, const FtpListSink& take) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  // Servers read a LIST argument that begins with "-" as options of ls, and some split it at
  // blanks, so such a folder's files would silently go missing. That folder is listed from
  // inside instead, and the connection goes back to where it was.
  const bool misread = !path.empty() && (path[0] == '-' || path.find(' ') != std::string::npos);
  std::string back;
  if (!misread || !connected() || !pwd(back) || back.empty()) return listPath(path, take);
  if (!chdir(path)) return false;
  bool listed = false;
  try {
    listed = listPath(std::string(), take);
  } catch (...) {
    chdir(back);  // a failure of the taker must not leave the connection elsewhere
    throw;
  }
  // Every later relative path would be wrong without the way back: the listing is void then.
  if (!listed) {
    const platform::Outcome failed = lastOutcome();
    chdir(back);
    return finish(failed);
  }
  return chdir(back);
}

bool FtpLib::listPath(const std::string& path, const FtpListSink& take) {
  LineSplitter lines;
  auto toRecord = [&](std::string_view line) {
    FtpFileInfo info = toFileInfo(line);
    if (!info.name.empty()) take(std::move(info));
  };
  auto parse = [&](char* data, std::size_t length) {
    lines.feed(data, length, toRecord);
    return platform::Outcome::success();
  };
  bool started = false;
  // The current folder is a bare "LIST": some servers refuse a trailing blank as a syntax error.
  platform::Outcome outcome = receive(detail::commandLine("LIST", path), 'A', parse, started);
  // A listing cut short would make its folder look smaller than it is: it counts as failed.
  // A data connection closed early in order, with a "226" all the same, shows only in a last
  // line without its line end; a server that always ends its listings so shows it twice in a
  // row, and is believed then.
  if (outcome.ok() && lines.midLine() && checkListingEnds_ && unterminated_ != path) {
    unterminated_ = path;
    return finish(platform::Outcome::lost("listing cut short"));
  }
  if (outcome.ok()) lines.end(toRecord);
  unterminated_.reset();
  return finish(std::move(outcome));
}

}  // namespace kestrelkit::net::ftp
