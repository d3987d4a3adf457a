#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpLibChecks.h"
#include "kestrelkit/net/ftp/ListParser.h"
#include "kestrelkit/net/ftp/MlsdParser.h"

namespace kestrelkit::net::ftp {
namespace {

/// Cuts a listing's data into lines as it arrives, within a bounded buffer. Every CR before a
/// line feed belongs to the line end (a server in text mode may send CR CR LF). A line longer
/// than `FtpLib::kLongestListLine` is left out whole and counted: a piece of it could parse as
/// an entry the server never listed. The bytes are also summed up in a digest, so that two
/// listings can be told apart without keeping either.
class LineSplitter {
 public:
  template <typename Take>
  void feed(const char* data, std::size_t length, Take&& take) {
    addToDigest(data, length);
    while (length > 0) {
      const char* newline = static_cast<const char*>(std::memchr(data, '\n', length));
      const std::size_t piece = newline != nullptr ? static_cast<std::size_t>(newline - data) : length;
      if (!overlong_) {
        if (piece > FtpLib::kLongestListLine - line_.size()) {
          overlong_ = true;
          line_.clear();
        } else {
          line_.append(data, piece);
        }
      }
      if (newline == nullptr) return;
      emit(take);
      data += piece + 1;
      length -= piece + 1;
    }
  }

  /// The last line, when the data ended without a line feed.
  template <typename Take>
  void end(Take&& take) {
    if (midLine()) emit(take);
  }

  /// True when the data so far ends inside a line.
  bool midLine() const { return overlong_ || !line_.empty(); }
  std::size_t overlongLines() const { return overlongLines_; }
  std::uint64_t digest() const { return digest_; }
  std::uint64_t length() const { return length_; }

 private:
  template <typename Take>
  void emit(Take& take) {
    if (overlong_) {
      ++overlongLines_;
      overlong_ = false;
      return;
    }
    while (!line_.empty() && line_.back() == '\r') line_.pop_back();
    take(std::string_view(line_));
    line_.clear();
  }

  // FNV-1a, 64 bits: the same bytes give the same digest however they were cut into reads.
  void addToDigest(const char* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      digest_ = (digest_ ^ static_cast<unsigned char>(data[i])) * 0x100000001b3ULL;
    }
    length_ += length;
  }

  std::string line_;
  bool overlong_ = false;
  std::size_t overlongLines_ = 0;
  std::uint64_t digest_ = 0xcbf29ce484222325ULL;
  std::uint64_t length_ = 0;
};

FtpFileType typeOf(const ListLineFacts& facts) {
  if (facts.mayEnter && facts.mayRetrieve) return FtpFileType::unknown;  // links: neither
  if (facts.mayEnter) return FtpFileType::folder;
  if (facts.mayRetrieve) return FtpFileType::file;
  return FtpFileType::unknown;
}

// A FEAT reply, its lines joined by blanks, names MLST as a word of its own.
bool namesMlst(const std::string& features) {
  std::size_t start = 0;
  while (start < features.size()) {
    std::size_t end = features.find(' ', start);
    if (end == std::string::npos) end = features.size();
    const std::string_view word(features.data() + start, end - start);
    if (word.size() == 4 && (word[0] | 0x20) == 'm' && (word[1] | 0x20) == 'l' &&
        (word[2] | 0x20) == 's' && (word[3] | 0x20) == 't') {
      return true;
    }
    start = end + 1;
  }
  return false;
}

// The replies that say a server does not know a command (or that argument of it).
bool unknownCommand(const platform::Outcome& outcome) {
  return outcome.kind == platform::OutcomeKind::refused &&
         (outcome.replyCode == 500 || outcome.replyCode == 502 || outcome.replyCode == 504);
}

bool saysTruncated(const std::string& reply) {
  static constexpr std::string_view kWord = "truncated";
  auto sameLetter = [](char a, char b) { return (a | 0x20) == b; };
  return std::search(reply.begin(), reply.end(), kWord.begin(), kWord.end(), sameLetter) !=
         reply.end();
}

std::string withoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
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

FtpFileInfo FtpLib::toMlsdFileInfo(std::string_view line) {
  FtpFileInfo info;
  MlsdLineFacts facts;
  if (!parseMlsdLine(facts, line.data(), line.size())) return info;
  info.name.assign(facts.name, facts.nameLength);
  switch (facts.type) {
    case kMlsdFile:
      info.type = FtpFileType::file;
      break;
    case kMlsdFolder:
      info.type = FtpFileType::folder;
      break;
    case kMlsdCurrentFolder:
      info.type = FtpFileType::currentFolder;
      break;
    case kMlsdParentFolder:
      info.type = FtpFileType::parentFolder;
      break;
    default:
      break;
  }
  if (facts.hasSize) info.size = facts.size;
  if (facts.hasTime) info.modifyTime = ticks::fromUnixSecondsOrUnknown(facts.time);
  return info;
}

void FtpLib::setMlsdAllowed(bool allowed, ListingNotice notice) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  mlsdAllowed_ = allowed;
  listingNotice_ = std::move(notice);
}

bool FtpLib::listsByMlsd() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return mlsdAllowed_ && mlstOffered_ && !mlsdRefused_;
}

void FtpLib::askFeatures() {
  mlstOffered_ = false;
  FtpReply reply;
  // A server without FEAT offers nothing beyond RFC 959: LIST it is.
  if (exchange("FEAT", '2', reply).ok()) mlstOffered_ = namesMlst(reply.text);
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
  // The name line of a VMS entry that takes two lines, until its second line arrives.
  std::string vmsName;
  // VMS keeps earlier versions of a file (";1", ";2") beside the latest, and a download by name
  // gets the latest: one record per name, from its highest version, handed over at the end.
  std::map<std::string, std::pair<std::uint64_t, FtpFileInfo>> vmsVersions;
  const bool byMlsd = listsByMlsd();
  auto toRecord = [&](std::string_view line) {
    if (byMlsd) {
      FtpFileInfo info = toMlsdFileInfo(line);
      if (!info.name.empty()) take(std::move(info));
      return;
    }
    std::string joined;
    if (!vmsName.empty() && !line.empty() && line[0] == ' ') {
      joined = vmsName + std::string(line);
      line = joined;
    }
    vmsName.clear();
    FtpFileInfo info = toFileInfo(line);
    std::uint64_t version = 0;
    if (!info.name.empty() && vmsVersionOf(line.data(), line.size(), version)) {
      auto [at, fresh] = vmsVersions.try_emplace(info.name, version, info);
      if (!fresh && at->second.first < version) at->second = {version, std::move(info)};
    } else if (!info.name.empty()) {
      take(std::move(info));
    } else if (joined.empty() && isVmsNameAlone(line.data(), line.size())) {
      vmsName.assign(line);
    }
  };
  auto parse = [&](char* data, std::size_t length) {
    lines.feed(data, length, toRecord);
    return platform::Outcome::success();
  };
  bool started = false;
  overlongLines_ = 0;
  // The current folder is a bare "LIST": some servers refuse a trailing blank as a syntax error.
  platform::Outcome outcome =
      receive(detail::commandLine(byMlsd ? "MLSD" : "LIST", path), 'A', parse, started);
  if (byMlsd && !started && unknownCommand(outcome)) {
    mlsdRefused_ = true;
    if (listingNotice_) listingNotice_(withoutLineEnd(lastResponse()));
    return listPath(path, take);
  }
  overlongLines_ = lines.overlongLines();
  // A listing cut short would make its folder look smaller than it is: it counts as failed.
  // A data connection closed early in order, with a "226" all the same, shows only in a last
  // line without its line end. A server that always ends its listings so sends the same bytes
  // when asked again, and is believed then; a listing cut at another place is not.
  if (outcome.ok() && lines.midLine() && checkListingEnds_) {
    ListingEnd ending{path, lines.digest(), lines.length()};
    if (unterminated_ != ending) {
      unterminated_ = std::move(ending);
      return finish(platform::Outcome::lost("listing cut short"));
    }
  }
  if (outcome.ok()) lines.end(toRecord);
  if (outcome.ok()) {
    for (auto& [name, latest] : vmsVersions) take(std::move(latest.second));
  }
  unterminated_.reset();
  // pure-ftpd ends a listing it cut at its match limit with "226-Output truncated to N
  // matches": a success code, but not the whole folder.
  if (outcome.ok() && saysTruncated(lastResponse())) {
    return finish(platform::Outcome::refusal(226, withoutLineEnd(lastResponse())));
  }
  return finish(std::move(outcome));
}

}  // namespace kestrelkit::net::ftp
