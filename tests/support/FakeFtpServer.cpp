#include "tests/support/FakeFtpServer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
using platform::Deadline;
constexpr auto kSlice = std::chrono::milliseconds(50);
constexpr auto kDataWait = std::chrono::seconds(10);
// How long a peer may leave a reply or a piece of data unread before the server gives up.
constexpr auto kSendWait = std::chrono::seconds(10);

bool sendAll(platform::Socket& socket, const std::string& data) {
  return socket.writeAll(data.data(), data.size(), Deadline::after(kSendWait)).ok();
}

// Each line of `reply` with CR LF.
bool sendReply(platform::Socket& socket, const std::string& reply) {
  std::string wire;
  std::size_t start = 0;
  while (start <= reply.size()) {
    std::size_t end = reply.find('\n', start);
    if (end == std::string::npos) end = reply.size();
    wire += reply.substr(start, end - start) + "\r\n";
    start = end + 1;
  }
  return sendAll(socket, wire);
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A pause ends early when the script says so or the server is stopping: a test never waits out a
// long pause that only had to outlast the client's time limit.
template <typename Stopping>
void pauseFor(const FakeTransfer& script, Stopping stopping) {
  const auto end = std::chrono::steady_clock::now() + script.pause;
  while (std::chrono::steady_clock::now() < end && !stopping() &&
         !(script.resumeWhen && script.resumeWhen())) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// The address of "EPRT |1|127.0.0.1|port|" or "EPRT |2|::1|port|" (any delimiter); nullopt for
// text that is not one, an address with family 0 for an unknown protocol number.
std::optional<platform::NetAddress> extendedAddress(const std::string& argument) {
  if (argument.size() < 2) return std::nullopt;
  const char delimiter = argument[0];
  std::vector<std::string> fields;
  std::size_t start = 1;
  for (std::size_t end = argument.find(delimiter, start); end != std::string::npos;
       end = argument.find(delimiter, start)) {
    fields.push_back(argument.substr(start, end - start));
    start = end + 1;
  }
  if (fields.size() != 3 || start != argument.size()) return std::nullopt;
  unsigned port = 0;
  char extra = 0;
  if (std::sscanf(fields[2].c_str(), "%u%c", &port, &extra) != 1 || port == 0 || port > 65535) {
    return std::nullopt;
  }
  if (fields[0] != "1" && fields[0] != "2") return platform::NetAddress{};
  std::string error;
  const auto found = platform::resolveHost(fields[1], static_cast<std::uint16_t>(port), error);
  const int family = fields[0] == "1" ? 4 : 6;
  if (found.size() != 1 || found.front().family != family) return std::nullopt;
  return found.front();
}

}  // namespace

struct FakeFtpServer::Session {
  platform::Socket control;
  platform::Listener passiveListener;
  std::optional<platform::NetAddress> activeAddress;
  std::string pending;
  /// The offset of the last REST, until the next transfer command.
  std::optional<std::uint64_t> restartAt;
  int number = 0;
};

FakeFtpServer::FakeFtpServer(int family) : family_(family == 6 ? 6 : 4) {
  const auto opened = listener_.open(platform::loopbackAddress(family_));
  if (!opened.ok()) {
    throw std::runtime_error(std::string("FakeFtpServer: cannot listen on ") + host() + ": " +
                             opened.reason);
  }
  port_ = listener_.address().port;
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

std::vector<std::string> FakeFtpServer::commandsOfConnection(int number) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < commands_.size(); ++i) {
    if (commandConnections_[i] == number) lines.push_back(commands_[i]);
  }
  return lines;
}

std::size_t FakeFtpServer::commandCount(const std::string& line) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(std::count(commands_.begin(), commands_.end(), line));
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

void FakeFtpServer::refuseSessions(int count, std::string greeting, int after) {
  std::lock_guard<std::mutex> lock(mutex_);
  refusalsLeft_ = count;
  refusalGreeting_ = std::move(greeting);
  servedBeforeRefusals_ = after;
}

void FakeFtpServer::setReply(const std::string& command, std::string reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[command] = std::move(reply);
}

void FakeFtpServer::setSilent(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_.push_back(command);
}

bool FakeFtpServer::isSilent(const std::string& line, const std::string& verb) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(silent_.begin(), silent_.end(), line) != silent_.end() ||
         std::find(silent_.begin(), silent_.end(), verb) != silent_.end();
}

void FakeFtpServer::dropConnectionOn(int number, std::string verb) {
  std::lock_guard<std::mutex> lock(mutex_);
  dropOn_[number] = std::move(verb);
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

void FakeFtpServer::setMlsdListing(const std::string& path, std::string data) {
  FakeTransfer transfer;
  transfer.data = std::move(data);
  std::lock_guard<std::mutex> lock(mutex_);
  mlsdListings_[path] = std::move(transfer);
}

void FakeFtpServer::setFile(const std::string& path, std::string data) {
  FakeTransfer transfer;
  transfer.data = std::move(data);
  setFile(path, std::move(transfer));
}

void FakeFtpServer::setFile(const std::string& path, FakeTransfer transfer) {
  setFileTries(path, {std::move(transfer)});
}

void FakeFtpServer::setFileTries(const std::string& path, std::vector<FakeTransfer> tries) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_[path] = std::move(tries);
  retrievals_.erase(path);
}

std::optional<FakeTransfer> FakeFtpServer::fileScript(const std::string& path, bool take) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = files_.find(path);
  if (found == files_.end() || found->second.empty()) return std::nullopt;
  std::size_t& used = retrievals_[path];
  const FakeTransfer& script = found->second[std::min(used, found->second.size() - 1)];
  if (take) ++used;
  return script;
}

std::optional<std::string> FakeFtpServer::stored(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = stored_.find(path);
  if (found == stored_.end()) return std::nullopt;
  return found->second;
}

bool FakeFtpServer::stopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

void FakeFtpServer::acceptLoop() {
  while (!stopping()) {
    platform::Socket control;
    platform::NetAddress peer;
    if (!listener_.accept(control, peer, Deadline::after(kSlice)).ok()) continue;
    std::optional<std::string> refusal;
    int number = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      number = ++accepted_;
      if (refusalsLeft_ > 0 && servedBeforeRefusals_ > 0) {
        --servedBeforeRefusals_;
      } else if (refusalsLeft_ > 0) {
        --refusalsLeft_;
        refusal = refusalGreeting_;
      }
    }
    sessions_.emplace_back(
        [this, connection = std::move(control), refusal = std::move(refusal), number]() mutable {
          serve(std::move(connection), std::move(refusal), number);
        });
  }
}

void FakeFtpServer::setReplyOnce(const std::string& command, std::string reply, int after) {
  std::lock_guard<std::mutex> lock(mutex_);
  repliesOnce_[command] = ReplyOnce{after, std::move(reply)};
}

std::optional<std::string> FakeFtpServer::replyOnce(const std::string& line,
                                                    const std::string& verb) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = repliesOnce_.find(line);
  if (found == repliesOnce_.end()) found = repliesOnce_.find(verb);
  if (found == repliesOnce_.end() || found->second.after < 0) return std::nullopt;
  if (found->second.after-- > 0) return std::nullopt;
  return found->second.reply;
}

void FakeFtpServer::setGreetingRepeated(std::string line, std::chrono::milliseconds every) {
  std::lock_guard<std::mutex> lock(mutex_);
  greeting_ = std::move(line);
  greetingEvery_ = every;
}

void FakeFtpServer::serve(platform::Socket control, std::optional<std::string> refusal,
                          int number) {
  Session session;
  session.control = std::move(control);
  session.number = number;
  std::string greeting;
  std::chrono::milliseconds every{0};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    greeting = greeting_;
    every = greetingEvery_;
  }
  bool open = false;
  if (every.count() > 0) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stopping() && std::chrono::steady_clock::now() < until &&
           sendReply(session.control, greeting)) {
      std::this_thread::sleep_for(every);
    }
  } else if (refusal) {
    sendReply(session.control, *refusal);
  } else {
    open = isSilent("greeting", "greeting") || sendReply(session.control, greeting);
  }
  while (open) {
    std::size_t end = session.pending.find('\n');
    if (end != std::string::npos) {
      std::string line = session.pending.substr(0, end);
      session.pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(line);
        commandConnections_.push_back(session.number);
      }
      changed_.notify_all();
      open = handleCommand(session, line);
      continue;
    }
    if (stopping()) break;
    char buffer[4096];
    std::size_t got = 0;
    const auto read = session.control.readSome(buffer, sizeof buffer, got, Deadline::after(kSlice));
    if (read.kind == platform::OutcomeKind::timedOut) continue;
    if (!read.ok() || got == 0) break;
    session.pending.append(buffer, got);
  }
  session.control.shutdownSend();
  session.control.close();
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
  platform::Socket& control = session.control;
  // A restart point holds for the next transfer command only, however that one is answered.
  std::uint64_t restartAt = 0;
  if (verb == "RETR" || verb == "LIST" || verb == "NLST" || verb == "STOR") {
    restartAt = session.restartAt.value_or(0);
    session.restartAt.reset();
  }

  bool open = true;
  bool drop = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto at = dropOn_.find(session.number);
    drop = at != dropOn_.end() && at->second == verb;
    if (drop) dropOn_.erase(at);
  }
  if (drop) {
    open = false;
  } else if (!line.empty() && line.back() == ' ') {
    // As GNU inetutils and netkit ftpd answer: a trailing blank is a syntax error.
    open = sendReply(control, "500 '" + line + "': command not understood.");
  } else if (auto once = replyOnce(line, verb)) {
    open = !once->empty() && sendReply(control, *once);
  } else if (isSilent(line, verb)) {
    // Nothing, ever: the client's time limit has to end the wait.
  } else if (auto reply = scriptedReply(line, verb)) {
    open = sendReply(control, *reply);
  } else if (verb == "LIST" || verb == "NLST" || verb == "RETR" ||
             (verb == "MLSD" && offersMlsd())) {
    open = transfer(session, verb, argument, verb == "RETR" ? restartAt : 0);
  } else if (verb == "REST") {
    std::uint64_t offset = 0;
    const char* end = argument.data() + argument.size();
    const auto parsed = std::from_chars(argument.data(), end, offset);
    if (parsed.ec != std::errc() || parsed.ptr != end) {
      session.restartAt.reset();
      open = sendReply(control, "501 Bad restart point.");
    } else {
      session.restartAt = offset;
      open = sendReply(control,
                       "350 Restarting at " + std::to_string(offset) + ". Send STORE or RETRIEVE.");
    }
  } else if (verb == "STOR") {
    open = store(session, argument);
  } else if (verb == "PASV" || verb == "EPSV") {
    // PASV can name only IPv4 addresses; EPSV names a port on the address the client reached.
    session.activeAddress.reset();
    const auto opened =
        session.passiveListener.open(platform::loopbackAddress(verb == "PASV" ? 4 : family_));
    const int port = session.passiveListener.address().port;
    char reply[80];
    if (!opened.ok()) {
      std::snprintf(reply, sizeof reply, "425 Cannot listen.");
    } else if (verb == "PASV") {
      std::snprintf(reply, sizeof reply, "227 Entering Passive Mode (127,0,0,1,%d,%d).", port / 256,
                    port % 256);
    } else {
      std::snprintf(reply, sizeof reply, "229 Entering Extended Passive Mode (|||%d|)", port);
    }
    open = sendReply(control, reply);
  } else if (verb == "PORT") {
    unsigned h1, h2, h3, h4, p1, p2;
    if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6) {
      open = sendReply(control, "501 Syntax error in PORT.");
    } else {
      platform::NetAddress address;
      address.family = 4;
      address.bytes = {static_cast<unsigned char>(h1), static_cast<unsigned char>(h2),
                       static_cast<unsigned char>(h3), static_cast<unsigned char>(h4)};
      address.port = static_cast<std::uint16_t>(p1 * 256 + p2);
      session.activeAddress = address;
      session.passiveListener.close();
      open = sendReply(control, "200 PORT command successful.");
    }
  } else if (verb == "EPRT") {
    const auto address = extendedAddress(argument);
    if (!address) {
      open = sendReply(control, "501 Syntax error in EPRT.");
    } else if (!address->valid()) {
      open = sendReply(control, "522 Network protocol not supported, use (1,2)");
    } else {
      session.activeAddress = *address;
      session.passiveListener.close();
      open = sendReply(control, "200 EPRT command successful.");
    }
  } else if (verb == "SIZE") {
    const auto script = fileScript(argument, false);
    open = sendReply(control,
                     script ? "213 " + std::to_string(script->data.size()) : "550 No such file.");
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

bool FakeFtpServer::offersMlsd() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !mlsdListings_.empty();
}

platform::Socket FakeFtpServer::openDataConnection(Session& session) {
  platform::Socket data;
  if (session.activeAddress) {
    data.connect(*session.activeAddress, Deadline::after(kDataWait));
    return data;
  }
  if (!session.passiveListener.isOpen()) return data;
  const auto deadline = Deadline::after(kDataWait);
  platform::NetAddress peer;
  while (!deadline.expired() && !stopping()) {
    const auto accepted =
        session.passiveListener.accept(data, peer, Deadline::after(kSlice).earlier(deadline));
    if (accepted.kind != platform::OutcomeKind::timedOut) break;
  }
  session.passiveListener.close();
  return data;
}

bool FakeFtpServer::transfer(Session& session, const std::string& verb, const std::string& path,
                             std::uint64_t restartAt) {
  std::optional<FakeTransfer> script;
  if (verb == "RETR") {
    script = fileScript(path, true);
  } else {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& scripts = verb == "MLSD" ? mlsdListings_ : listings_;
    auto found = scripts.find(path);
    if (found != scripts.end()) script = found->second;
  }
  platform::Socket& control = session.control;
  if (!script) return sendReply(control, "550 No such file or directory.");
  if (script->dropControlAtStart) return false;
  if (!script->refusal.empty()) {
    return sendReply(control, script->refusal) && !script->closeAfterReply;
  }
  if (!sendReply(control, "150 Opening data connection.")) return false;

  if (script->noDataConnection) {
    const auto until = Clock::now() + script->holdControl;
    while (Clock::now() < until && !stopping()) std::this_thread::sleep_for(kSlice);
    return false;
  }

  platform::Socket data = openDataConnection(session);
  if (!data.isOpen()) return sendReply(control, "425 Can't open data connection.");
  const std::size_t limit =
      std::min(script->dropAfter.value_or(script->data.size()), script->data.size());
  // A restart past the end (or past the drop) sends nothing.
  std::size_t sent = static_cast<std::size_t>(std::min<std::uint64_t>(restartAt, limit));
  std::vector<std::size_t> pauses = script->pauseAt;
  std::sort(pauses.begin(), pauses.end());
  bool connected = true;
  for (std::size_t stop : pauses) {
    stop = std::min(stop, limit);
    if (stop < sent) continue;
    connected = sendAll(data, script->data.substr(sent, stop - sent));
    if (!connected) break;
    sent = stop;
    pauseFor(*script, [this] { return stopping(); });
  }
  if (connected) sendAll(data, script->data.substr(sent, limit - sent));
  if (script->dropAfter && script->resetOnDrop) {
    data.abort();
  } else {
    data.close();
  }
  if (!script->finalReply.empty() && !sendReply(control, script->finalReply)) return false;
  return !script->dropControl;
}

bool FakeFtpServer::store(Session& session, const std::string& path) {
  platform::Socket& control = session.control;
  if (!sendReply(control, "150 Ready to receive.")) return false;
  platform::Socket data = openDataConnection(session);
  if (!data.isOpen()) return sendReply(control, "425 Can't open data connection.");
  std::string received;
  const auto deadline = Deadline::after(kDataWait);
  char buffer[4096];
  std::size_t got = 0;
  while (data.readSome(buffer, sizeof buffer, got, deadline).ok() && got > 0) {
    received.append(buffer, got);
  }
  data.close();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stored_[path] = received;
  }
  return sendReply(control, "226 Transfer complete.");
}

}  // namespace testing_support
