#include "tests/support/FakeFtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSlice = std::chrono::milliseconds(50);
constexpr auto kDataWait = std::chrono::seconds(10);

void setSendTimeout(int fd) {
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

int listenOnLoopback(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool sendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Each line of `reply` with CR LF.
bool sendReply(int fd, const std::string& reply) {
  std::string wire;
  std::size_t start = 0;
  while (start <= reply.size()) {
    std::size_t end = reply.find('\n', start);
    if (end == std::string::npos) end = reply.size();
    wire += reply.substr(start, end - start) + "\r\n";
    start = end + 1;
  }
  return sendAll(fd, wire);
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void closeAbortively(int fd) {
  linger abort{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(fd);
}

void pauseFor(const FakeTransfer& script) {
  const auto end = std::chrono::steady_clock::now() + script.pause;
  if (!script.resumeWhen) {
    std::this_thread::sleep_until(end);
    return;
  }
  while (!script.resumeWhen() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

struct FakeFtpServer::Session {
  int control = -1;
  int passiveListener = -1;
  std::optional<sockaddr_in> activeAddress;
  std::string pending;

  ~Session() {
    if (passiveListener >= 0) ::close(passiveListener);
    if (control >= 0) ::close(control);
  }
};

FakeFtpServer::FakeFtpServer() {
  listener_ = listenOnLoopback(port_);
  if (listener_ < 0) throw std::runtime_error("FakeFtpServer: cannot listen on 127.0.0.1");
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

FakeFtpServer::~FakeFtpServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  acceptThread_.join();
  for (auto& session : sessions_) session.join();
  ::close(listener_);
}

std::vector<std::string> FakeFtpServer::commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

std::vector<std::string> FakeFtpServer::commandsWithVerb(const std::string& verb) const {
  std::vector<std::string> result;
  for (const auto& line : commands()) {
    if (upper(line.substr(0, line.find(' '))) == verb) result.push_back(line);
  }
  return result;
}

bool FakeFtpServer::waitForCommands(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

int FakeFtpServer::connectionsAccepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

int FakeFtpServer::connectionsClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

bool FakeFtpServer::waitForClosedConnections(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return closed_ >= count; });
}

void FakeFtpServer::setGreeting(std::string reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  greeting_ = std::move(reply);
}

void FakeFtpServer::setReply(const std::string& command, std::string reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[command] = std::move(reply);
}

void FakeFtpServer::closeAfter(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  closeAfter_.push_back(command);
}

void FakeFtpServer::setListing(const std::string& path, std::string data) {
  FakeTransfer transfer;
  transfer.data = std::move(data);
  setListing(path, std::move(transfer));
}

void FakeFtpServer::setListing(const std::string& path, FakeTransfer transfer) {
  std::lock_guard<std::mutex> lock(mutex_);
  listings_[path] = std::move(transfer);
}

void FakeFtpServer::setFile(const std::string& path, std::string data) {
  FakeTransfer transfer;
  transfer.data = std::move(data);
  setFile(path, std::move(transfer));
}

void FakeFtpServer::setFile(const std::string& path, FakeTransfer transfer) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_[path] = std::move(transfer);
}

std::optional<std::string> FakeFtpServer::stored(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = stored_.find(path);
  if (found == stored_.end()) return std::nullopt;
  return found->second;
}

void FakeFtpServer::acceptLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(kSlice.count())) <= 0) continue;
    int control = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (control < 0) continue;
    setSendTimeout(control);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++accepted_;
    }
    sessions_.emplace_back([this, control] { serve(control); });
  }
}

void FakeFtpServer::serve(int control) {
  Session session;
  session.control = control;
  std::string greeting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    greeting = greeting_;
  }
  bool open = sendReply(control, greeting);
  while (open) {
    std::size_t end = session.pending.find('\n');
    if (end != std::string::npos) {
      std::string line = session.pending.substr(0, end);
      session.pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(line);
      }
      changed_.notify_all();
      open = handleCommand(session, line);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
    }
    pollfd ready{control, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(kSlice.count())) <= 0) continue;
    char buffer[4096];
    ssize_t got = ::recv(control, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    session.pending.append(buffer, static_cast<std::size_t>(got));
  }
  ::shutdown(control, SHUT_RDWR);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++closed_;
  }
  changed_.notify_all();
}

std::optional<std::string> FakeFtpServer::scriptedReply(const std::string& line,
                                                        const std::string& verb) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = replies_.find(line);
  if (found == replies_.end()) found = replies_.find(verb);
  if (found == replies_.end()) return std::nullopt;
  return found->second;
}

bool FakeFtpServer::shouldCloseAfter(const std::string& line, const std::string& verb) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(closeAfter_.begin(), closeAfter_.end(), line) != closeAfter_.end() ||
         std::find(closeAfter_.begin(), closeAfter_.end(), verb) != closeAfter_.end();
}

bool FakeFtpServer::handleCommand(Session& session, const std::string& line) {
  const std::size_t blank = line.find(' ');
  const std::string verb = upper(line.substr(0, blank));
  const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
  const int control = session.control;

  bool open = true;
  if (auto reply = scriptedReply(line, verb)) {
    open = sendReply(control, *reply);
  } else if (verb == "LIST" || verb == "NLST" || verb == "RETR") {
    open = transfer(session, verb, argument);
  } else if (verb == "STOR") {
    open = store(session, argument);
  } else if (verb == "PASV") {
    if (session.passiveListener >= 0) ::close(session.passiveListener);
    int port = 0;
    session.passiveListener = listenOnLoopback(port);
    session.activeAddress.reset();
    char reply[80];
    std::snprintf(reply, sizeof reply, "227 Entering Passive Mode (127,0,0,1,%d,%d).", port / 256,
                  port % 256);
    open = sendReply(control, reply);
  } else if (verb == "PORT") {
    unsigned h1, h2, h3, h4, p1, p2;
    if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6) {
      open = sendReply(control, "501 Syntax error in PORT.");
    } else {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl((h1 << 24) | (h2 << 16) | (h3 << 8) | h4);
      address.sin_port = htons(static_cast<std::uint16_t>(p1 * 256 + p2));
      session.activeAddress = address;
      if (session.passiveListener >= 0) ::close(session.passiveListener);
      session.passiveListener = -1;
      open = sendReply(control, "200 PORT command successful.");
    }
  } else if (verb == "SIZE") {
    std::optional<std::size_t> size;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = files_.find(argument);
      if (found != files_.end()) size = found->second.data.size();
    }
    open = sendReply(control, size ? "213 " + std::to_string(*size) : "550 No such file.");
  } else if (verb == "QUIT") {
    sendReply(control, "221 Goodbye.");
    return false;
  } else {
    static const std::map<std::string, std::string> kDefaults = {
        {"USER", "331 Password required."},
        {"PASS", "230 Logged in."},
        {"SYST", "215 UNIX Type: L8"},
        {"TYPE", "200 Type set."},
        {"CWD", "250 Directory changed."},
        {"CDUP", "250 Directory changed."},
        {"DELE", "250 Deleted."},
        {"RMD", "250 Removed."},
        {"RNTO", "250 Renamed."},
        {"MKD", "257 Created."},
        {"RNFR", "350 Ready for RNTO."},
        {"PWD", "257 \"/\" is the current directory."},
        {"OPTS", "200 OK."},
        {"NOOP", "200 OK."},
        {"MDTM", "213 20260101000000"},
    };
    auto found = kDefaults.find(verb);
    open = sendReply(control,
                     found != kDefaults.end() ? found->second : "502 Command not implemented.");
  }
  return open && !shouldCloseAfter(line, verb);
}

int FakeFtpServer::openDataConnection(Session& session) {
  if (session.activeAddress) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in address = *session.activeAddress;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return -1;
    }
    setSendTimeout(fd);
    return fd;
  }
  if (session.passiveListener < 0) return -1;
  const auto deadline = Clock::now() + kDataWait;
  int fd = -1;
  while (fd < 0 && Clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
    }
    pollfd ready{session.passiveListener, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(kSlice.count())) > 0) {
      fd = ::accept4(session.passiveListener, nullptr, nullptr, SOCK_CLOEXEC);
    }
  }
  ::close(session.passiveListener);
  session.passiveListener = -1;
  if (fd >= 0) setSendTimeout(fd);
  return fd;
}

bool FakeFtpServer::transfer(Session& session, const std::string& verb, const std::string& path) {
  std::optional<FakeTransfer> script;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& table = verb == "RETR" ? files_ : listings_;
    auto found = table.find(path);
    if (found != table.end()) script = found->second;
  }
  const int control = session.control;
  if (!script) return sendReply(control, "550 No such file or directory.");
  if (!sendReply(control, "150 Opening data connection.")) return false;

  if (script->noDataConnection) {
    const auto until = Clock::now() + script->holdControl;
    while (Clock::now() < until) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) break;
      }
      std::this_thread::sleep_for(kSlice);
    }
    return false;
  }

  const int data = openDataConnection(session);
  if (data < 0) return sendReply(control, "425 Can't open data connection.");
  const std::size_t limit =
      std::min(script->dropAfter.value_or(script->data.size()), script->data.size());
  std::size_t sent = 0;
  std::vector<std::size_t> pauses = script->pauseAt;
  std::sort(pauses.begin(), pauses.end());
  bool connected = true;
  for (std::size_t stop : pauses) {
    stop = std::min(stop, limit);
    if (stop < sent) continue;
    connected = sendAll(data, script->data.substr(sent, stop - sent));
    if (!connected) break;
    sent = stop;
    pauseFor(*script);
  }
  if (connected) sendAll(data, script->data.substr(sent, limit - sent));
  if (script->dropAfter && script->resetOnDrop) {
    closeAbortively(data);
  } else {
    ::close(data);
  }
  if (!script->finalReply.empty() && !sendReply(control, script->finalReply)) return false;
  return !script->dropControl;
}

bool FakeFtpServer::store(Session& session, const std::string& path) {
  const int control = session.control;
  if (!sendReply(control, "150 Ready to receive.")) return false;
  const int data = openDataConnection(session);
  if (data < 0) return sendReply(control, "425 Can't open data connection.");
  std::string received;
  const auto deadline = Clock::now() + kDataWait;
  while (Clock::now() < deadline) {
    pollfd ready{data, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(kSlice.count())) <= 0) continue;
    char buffer[4096];
    ssize_t got = ::recv(data, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(data);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stored_[path] = received;
  }
  return sendReply(control, "226 Transfer complete.");
}

}  // namespace testing_support
