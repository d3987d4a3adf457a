#include <ftplib.h>

#include <cstring>
#include <memory>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpLibDataConnection.h"
#include "kestrelkit/net/ftp/FtpLibNetBuf.h"
#include "kestrelkit/net/ftp/FtpLibSocket.h"
#include "kestrelkit/net/ftp/ListParser.h"

namespace kestrelkit::net::ftp {
namespace {

constexpr std::size_t kListBufferSize = 8192;
// As with ftplib's text-mode reader, a line longer than this arrives in pieces of this size,
// each taken as a line of its own.
constexpr std::size_t kLongestPiece = kListBufferSize - 1;

/// Splits the data connection of a listing into lines, as ftplib's text-mode reader would hand
/// them out (CR LF reduced to LF, long lines in pieces), but within its own bounds: ftplib's
/// reader writes past the caller's buffer when a line longer than the buffer arrives in
/// unlucky pieces.
class ListingReader {
 public:
  explicit ListingReader(int socket)
      : socket_(socket), buffer_(std::make_unique<char[]>(kListBufferSize)) {}

  /// The next line without its line end; false once the data has ended. A read error or a
  /// dropped connection ends the data like its regular end.
  bool next(std::string_view& line) {
    for (;;) {
      if (cutLine(line)) return true;
      if (ended_) return cutRest(line);
      refill();
    }
  }

 private:
  bool cutLine(std::string_view& line) {
    const char* begin = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    const std::size_t window = std::min(available, kLongestPiece);
    const char* newline = static_cast<const char*>(std::memchr(begin, '\n', window));
    if (newline != nullptr) {
      std::size_t length = newline - begin;
      begin_ += length + 1;
      if (length > 0 && begin[length - 1] == '\r') --length;
      line = std::string_view(begin, length);
      return true;
    }
    if (available < kLongestPiece) return false;
    begin_ += kLongestPiece;
    line = std::string_view(begin, kLongestPiece);
    return true;
  }

  bool cutRest(std::string_view& line) {
    if (begin_ == end_) return false;
    line = std::string_view(buffer_.get() + begin_, end_ - begin_);
    begin_ = end_;
    return true;
  }

  void refill() {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    const long got = detail::readSome(socket_, buffer_.get() + end_, kListBufferSize - end_);
    if (got <= 0) {
      ended_ = true;
      return;
    }
    end_ += static_cast<std::size_t>(got);
  }

  int socket_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
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
  if (!misread || handle_ == nullptr || !pwd(back) || back.empty()) return listPath(path, take);
  if (!chdir(path)) return false;
  bool listed = false;
  try {
    listed = listPath(std::string(), take);
  } catch (...) {
    chdir(back);  // a failure of the taker must not leave the connection elsewhere
    throw;
  }
  // Every later relative path would be wrong without the way back: the listing is void then.
  return chdir(back) && listed;
}

bool FtpLib::listPath(const std::string& path, const FtpListSink& take) {
  if (handle_ == nullptr ||
      path.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos) {
    return false;
  }
  detail::StandardInputGuard keepInput;
  NetBuf* data = nullptr;
  // The path is always passed: the empty path gives "LIST " and the server's current folder.
  if (FtpAccess(path.c_str(), FTPLIB_DIR_VERBOSE, FTPLIB_ASCII, handle_, &data) <= 0) {
    return false;
  }
  detail::DataConnection connection(data);
  std::string failure;
  const int socket = detail::verifiedDataSocket(data, handle_, FTPLIB_ASCII, failure);
  if (socket < 0) {
    connection.close();
    detail::noteLocalFailure(handle_, "list: " + failure);
    return false;
  }
  ListingReader reader(socket);
  std::string_view line;
  while (reader.next(line)) {
    FtpFileInfo info = toFileInfo(line);
    if (!info.name.empty()) take(std::move(info));
  }
  return true;
}

}  // namespace kestrelkit::net::ftp
