#include "kestrelkit/net/ftp/FtpLibNetBuf.h"

#include <ftplib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "kestrelkit/net/ftp/FtpLibSocket.h"

namespace kestrelkit::net::ftp::detail {
namespace {

// ftplib 4.0's struct NetBuf, field for field (ftplib.c). Only its offsets are used; the
// library's records are read and written through them with memcpy.
struct NetBufMirror {
  char* cput;
  char* cget;
  int handle;
  int cavail;
  int cleft;
  char* buf;
  int dir;
  NetBuf* ctrl;
  NetBuf* data;
  int cmode;
  // The system's struct timeval: two longs on both Linux and Windows (where long is 32 bits).
  struct {
    long tv_sec;
    long tv_usec;
  } idletime;
  FtpCallback idlecb;
  void* idlearg;
  unsigned long int xfered;
  unsigned long int cbbytes;
  unsigned long int xfered1;
  char response[kResponseSize];
};

// The library's own code settles these: FtpLastResponse reads `dir` at 0x28 and returns the
// record plus the response offset, and FtpConnect allocates the record's size. On 64-bit Linux
// (LP64) that is 0x80 and 0x480; on 64-bit Windows (LLP64: 32-bit long, so a smaller timeval
// and byte counters) 0x6C and 0x470.
constexpr bool kLp64 = sizeof(void*) == 8 && sizeof(long) == 8;
constexpr bool kLlp64 = sizeof(void*) == 8 && sizeof(long) == 4;
static_assert(!(kLp64 || kLlp64) || offsetof(NetBufMirror, dir) == 0x28);
static_assert(!kLp64 || offsetof(NetBufMirror, response) == 0x80);
static_assert(!kLp64 || sizeof(NetBufMirror) == 0x480);
static_assert(!kLlp64 || offsetof(NetBufMirror, response) == 0x6C);
static_assert(!kLlp64 || sizeof(NetBufMirror) == 0x470);

constexpr std::size_t kLibraryBufferSize = 8192;  // FTPLIB_BUFSIZ
constexpr int kControl = 0;                       // FTPLIB_CONTROL
constexpr int kRead = 1;                          // FTPLIB_READ

template <typename T>
T field(const NetBuf* record, std::size_t offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const char*>(record) + offset, sizeof value);
  return value;
}

template <typename T>
void setField(NetBuf* record, std::size_t offset, T value) {
  std::memcpy(reinterpret_cast<char*>(record) + offset, &value, sizeof value);
}

constexpr std::size_t kCput = offsetof(NetBufMirror, cput);
constexpr std::size_t kCget = offsetof(NetBufMirror, cget);
constexpr std::size_t kHandle = offsetof(NetBufMirror, handle);
constexpr std::size_t kCavail = offsetof(NetBufMirror, cavail);
constexpr std::size_t kCleft = offsetof(NetBufMirror, cleft);
constexpr std::size_t kBuf = offsetof(NetBufMirror, buf);
constexpr std::size_t kDir = offsetof(NetBufMirror, dir);
constexpr std::size_t kCtrl = offsetof(NetBufMirror, ctrl);
constexpr std::size_t kData = offsetof(NetBufMirror, data);
constexpr std::size_t kCmode = offsetof(NetBufMirror, cmode);
constexpr std::size_t kResponse = offsetof(NetBufMirror, response);

std::uintptr_t address(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

// The read-buffer bookkeeping of ftplib's line reader: either untouched since the record was
// made (all zero), or cget <= cput inside the buffer with cavail and cleft agreeing.
bool bufferStateHolds(const NetBuf* record, const char* buffer) {
  const char* put = field<char*>(record, kCput);
  const char* get = field<char*>(record, kCget);
  const int available = field<int>(record, kCavail);
  const int left = field<int>(record, kCleft);
  if (put == nullptr && get == nullptr) return available == 0;
  const std::uintptr_t begin = address(buffer);
  const std::uintptr_t end = begin + kLibraryBufferSize;
  if (address(get) < begin || address(get) > address(put) || address(put) > end) return false;
  return static_cast<std::uintptr_t>(available) == address(put) - address(get) &&
         static_cast<std::uintptr_t>(left) == end - address(put);
}

// The library itself confirms where the reply buffer lies, which pins down every field before
// it; a control record also has no owning record of its own.
bool controlLayoutHolds(NetBuf* record) {
  return FtpLastResponse(record) == reinterpret_cast<char*>(record) + kResponse &&
         field<int>(record, kDir) == kControl && field<NetBuf*>(record, kCtrl) == nullptr;
}

}  // namespace

ControlChannel::ControlChannel(NetBuf* handle) : handle_(handle) {
  if (handle_ == nullptr) {
    failure_ = "not connected";
    return;
  }
  if (!controlLayoutHolds(handle_)) {
    failure_ = "ftplib's control connection record is not laid out as expected";
    return;
  }
  char* response = reinterpret_cast<char*>(handle_) + kResponse;
  if (field<NetBuf*>(handle_, kData) != nullptr) {
    failure_ = "a data connection is still open";
    return;
  }
  char* buffer = field<char*>(handle_, kBuf);
  if (buffer == nullptr || !bufferStateHolds(handle_, buffer)) {
    failure_ = "ftplib's read buffer is not in the expected state";
    return;
  }
  const int socket = field<int>(handle_, kHandle);
  if (!isConnectedSocket(socket)) {
    failure_ = "the control connection is not a connected socket";
    return;
  }
  socket_ = socket;
  buffer_ = buffer;
  response_ = response;
}

bool ControlChannel::exchange(const std::string& command, char expected) {
  if (!valid()) return false;
  // The library's own limit for one command line (its 1,024-byte command buffer).
  if (command.size() + 3 > kResponseSize) return false;
  const std::string line = command + "\r\n";
  if (!writeAll(socket_, line.data(), line.size())) return false;
  return readReply(expected);
}

bool ControlChannel::send(const std::string& lines) {
  return valid() && writeAll(socket_, lines.data(), lines.size());
}

bool ControlChannel::passive() const {
  return valid() && field<int>(handle_, kCmode) == FTPLIB_PASSIVE;
}

bool ControlChannel::readReply(char expected) {
  if (!valid()) return false;
  if (!readLine()) return false;
  if (std::strlen(response_) >= 4 && response_[3] == '-') {
    char match[4] = {response_[0], response_[1], response_[2], ' '};
    do {
      if (!readLine()) return false;
    } while (std::strncmp(response_, match, 4) != 0);
  }
  return response_[0] == expected;
}

// Refills the library's buffer from the socket; only called when it holds no unread byte.
bool ControlChannel::fill() {
  setField<char*>(handle_, kCput, buffer_);
  setField<char*>(handle_, kCget, buffer_);
  setField<int>(handle_, kCavail, 0);
  setField<int>(handle_, kCleft, static_cast<int>(kLibraryBufferSize));
  long got = readSome(socket_, buffer_, kLibraryBufferSize);
  if (got < 0) return false;
  if (got == 0) endOfStream_ = true;
  setField<char*>(handle_, kCput, buffer_ + got);
  setField<int>(handle_, kCavail, static_cast<int>(got));
  setField<int>(handle_, kCleft, static_cast<int>(kLibraryBufferSize - got));
  return true;
}

// One reply line (or, for an over-long line, its next 1,023 bytes) into the reply buffer, always
// NUL-terminated inside it. False on a read error, or at the end of the stream with nothing read
// (the reply buffer then keeps the previous reply, as with the library's reader).
bool ControlChannel::readLine() {
  std::size_t length = 0;
  for (;;) {
    const int available = field<int>(handle_, kCavail);
    if (available > 0) {
      char* get = field<char*>(handle_, kCget);
      std::size_t take = std::min<std::size_t>(available, kResponseSize - 1 - length);
      const void* newline = std::memchr(get, '\n', take);
      if (newline != nullptr) take = static_cast<const char*>(newline) - get + 1;
      std::memcpy(response_ + length, get, take);
      length += take;
      response_[length] = '\0';
      setField<char*>(handle_, kCget, get + take);
      setField<int>(handle_, kCavail, available - static_cast<int>(take));
      if (newline != nullptr) {
        if (length >= 2 && response_[length - 2] == '\r') {
          response_[length - 2] = '\n';
          response_[length - 1] = '\0';
        }
        return true;
      }
    }
    if (length == kResponseSize - 1) return true;
    if (endOfStream_) return length > 0;
    if (!fill()) return false;
  }
}

char* controlReadBuffer(NetBuf* control) {
  if (control == nullptr || !controlLayoutHolds(control)) return nullptr;
  return field<char*>(control, kBuf);
}

void noteLocalFailure(NetBuf* handle, const std::string& text) {
  if (handle == nullptr) return;
  char* response = FtpLastResponse(handle);
  if (response == nullptr) return;
  // Short texts only: every ftplib release has a reply buffer far larger than this.
  const std::size_t length = std::min<std::size_t>(text.size(), 200);
  std::memcpy(response, text.data(), length);
  response[length] = '\0';
}

int verifiedDataSocket(NetBuf* data, NetBuf* control, char mode, std::string& failure) {
  failure = "ftplib's data connection record is not laid out as expected";
  if (data == nullptr || control == nullptr) return -1;
  if (FtpLastResponse(data) != nullptr || field<int>(data, kDir) != kRead ||
      field<NetBuf*>(data, kCtrl) != control || field<NetBuf*>(control, kData) != data) {
    return -1;
  }
  // Fresh from FtpAccess: a line buffer in text mode only, nothing read into it yet.
  const bool textMode = mode == 'A';
  if ((field<char*>(data, kBuf) != nullptr) != textMode || field<char*>(data, kCput) != nullptr ||
      field<char*>(data, kCget) != nullptr || field<int>(data, kCavail) != 0) {
    return -1;
  }
  // A server may already have reset the connection; reading then ends like the end of data.
  const int socket = field<int>(data, kHandle);
  if (!isSocket(socket)) {
    failure = "the data connection is not a socket";
    return -1;
  }
  failure.clear();
  return socket;
}

}  // namespace kestrelkit::net::ftp::detail
