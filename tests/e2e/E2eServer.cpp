#include "tests/e2e/E2eServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/Socket.h"
#include "tests/e2e/E2eTree.h"

namespace e2e {
namespace {

using testing_support::BackgroundProcess;
using testing_support::ProcessOptions;
using testing_support::writeFile;
using Clock = std::chrono::steady_clock;

// The account servers.sh makes: vsftpd checks its password through PAM, the others map their
// own user "user" onto it.
constexpr const char* kAccount = "marlowick-e2e";
constexpr const char* kPassword = "secret-e2e";
// crypt(3) SHA-512 of kPassword: cheap to check, unlike pure-pw's default argon2.
constexpr const char* kPasswordHash =
    "$6$marlowick$i9IKDcfJfZG36doMjczewhgt.Tz9zPbUpA/EwzOWjzXIfknxAVVyOtRLWs/"
    "qHigTlRqnXoowyv7TO3vZZ6d3a/";

int freeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

/// True once a connection to `port` gets a complete "220" greeting (with `greetingInClear`;
/// otherwise once it is taken), within `timeout`.
bool greets(int family, int port, bool greetingInClear, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    platform::Socket socket;
    const auto address = platform::loopbackAddress(family, static_cast<std::uint16_t>(port));
    if (socket.connect(address, platform::Deadline::after(std::chrono::seconds(2))).ok()) {
      if (!greetingInClear) return true;
      std::string seen;
      char buffer[1024];
      std::size_t got = 0;
      while (socket.readSome(buffer, sizeof buffer, got,
                             platform::Deadline::after(std::chrono::seconds(2)))
                 .ok() &&
             got > 0) {
        seen.append(buffer, got);
        // The last line of a reply has a blank after the code.
        if (seen.rfind("220 ", 0) == 0 || seen.find("\n220 ") != std::string::npos) return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string libraryPath() {
  for (const auto& entry : std::filesystem::directory_iterator(serversRoot() + "/usr/lib")) {
    if (entry.path().filename().string().find("-linux-gnu") != std::string::npos) {
      return entry.path().string();
    }
  }
  return serversRoot() + "/usr/lib";
}

/// Every process below `root`, read from /proc while they all still stand. vsftpd puts each
/// session in a process group of its own, so signalling the server's group misses them.
std::vector<pid_t> descendants(pid_t root) {
  std::multimap<pid_t, pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // pid (command) state ppid ...: the command may hold blanks and parentheses.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    children.emplace(parent, static_cast<pid_t>(std::stoi(name)));
  }
  std::vector<pid_t> found;
  std::vector<pid_t> pending{root};
  while (!pending.empty()) {
    const pid_t next = pending.back();
    pending.pop_back();
    auto [from, to] = children.equal_range(next);
    for (auto it = from; it != to; ++it) {
      found.push_back(it->second);
      pending.push_back(it->second);
    }
  }
  return found;
}

/// Servers that check the account's own password, through PAM; the others map their own user
/// "user" onto the account, or need none.
bool checksTheAccount(ServerKind kind) {
  return kind == ServerKind::vsftpd || kind == ServerKind::inetutils || kind == ServerKind::netkit;
}

/// Servers started on port 0 that print the port they were given.
bool reportsItsPort(ServerKind kind) {
  return kind == ServerKind::pyftpdlib || kind == ServerKind::inetutils ||
         kind == ServerKind::netkit || kind == ServerKind::twisted;
}

std::string accountIds() {
  const passwd* account = ::getpwnam(kAccount);
  if (!account) throw std::runtime_error("no account marlowick-e2e: run tests/e2e/servers.sh");
  return std::to_string(account->pw_uid) + ":" + std::to_string(account->pw_gid);
}

}  // namespace

std::string serversRoot() { return std::string(MARLOWICK_SOURCE_DIR) + "/build/servers/root"; }

std::string certificateFile(const std::string& name) {
  // tree.sh makes the certificates beside the tree.
  return std::filesystem::path(ServedTree::get().root()).parent_path() / "certs" / name;
}

std::string serverName(ServerKind kind) {
  switch (kind) {
    case ServerKind::vsftpd:
      return "vsftpd";
    case ServerKind::pureFtpd:
      return "pureftpd";
    case ServerKind::proftpd:
      return "proftpd";
    case ServerKind::pyftpdlib:
      return "pyftpdlib";
    case ServerKind::inetutils:
      return "inetutils";
    case ServerKind::netkit:
      return "netkit";
    case ServerKind::twisted:
      return "twisted";
  }
  return "unknown";
}

FtpServerProcess::FtpServerProcess(ServerKind kind, const std::string& root, ServerSetup setup)
    : kind_(kind),
      host_(setup.ipv6 ? "::1" : "127.0.0.1"),
      user_(checksTheAccount(kind) ? kAccount : "user"), password_(kPassword) {
  ::chmod(config_.path().c_str(), 0755);
  // A port picked here may be taken before the server binds it: try again with another.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (start(root, setup)) return;
  }
  throw std::runtime_error("the " + serverName(kind) + " server did not start");
}

FtpServerProcess::~FtpServerProcess() { kill(); }

void FtpServerProcess::kill() {
  if (!process_) return;
  const auto sessions = descendants(process_->pid());
  ::kill(-process_->pid(), SIGKILL);
  for (pid_t session : sessions) ::kill(session, SIGKILL);
  process_->stop();
}

bool FtpServerProcess::start(const std::string& root, const ServerSetup& setup) {
  kill();
  process_.reset();
  ProcessOptions options;
  options.env["LD_LIBRARY_PATH"] = libraryPath();
  options.env["TZ"] = "UTC";
  if (reportsItsPort(kind_)) {
    process_ = std::make_unique<BackgroundProcess>(commandLine(root, setup), options);
    try {
      port_ = std::stoi(process_->readLine(std::chrono::seconds(20)));
    } catch (const std::exception&) {
      return false;
    }
  } else {
    port_ = freeLoopbackPort();
    process_ = std::make_unique<BackgroundProcess>(commandLine(root, setup), options);
  }
  // A server that found its port taken exits at once, while whatever took the port (another
  // test's server) may well greet: it must still be running a moment later.
  const auto settle = reportsItsPort(kind_) ? std::chrono::milliseconds(0)
                                            : std::chrono::milliseconds(300);
  return greets(setup.ipv6 ? 6 : 4, port_, !setup.implicitTls, std::chrono::seconds(10)) &&
         process_->wait(settle) == -1;
}

std::vector<std::string> FtpServerProcess::commandLine(const std::string& root,
                                                       const ServerSetup& setup) {
  const std::string port = std::to_string(port_);
  const std::string sbin = serversRoot() + "/usr/sbin/";
  const std::string certificate = setup.tls ? certificateFile(setup.certificate) : "";
  const std::string key = setup.tls ? certificateFile("server.key") : "";
  switch (kind_) {
    case ServerKind::vsftpd: {
      // require_ssl_reuse stays at its default (YES): data connections must resume the
      // control connection's session.
      const std::string tlsConfig = "ssl_enable=YES\nforce_local_logins_ssl=YES\n"
                                    "force_local_data_ssl=YES\nrsa_cert_file=" +
                                    certificate + "\nrsa_private_key_file=" + key + "\n" +
                                    (setup.implicitTls ? "implicit_ssl=YES\n" : "");
      std::filesystem::create_directories(config_.file("empty"));
      const std::string listen = setup.ipv6
                                     ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n"
                                     : "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n";
      writeFile(config_.file("vsftpd.conf"),
                listen + "listen_port=" + port +
                    "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=NO\n"
                    "local_root=" +
                    root + "\nchroot_local_user=YES\npam_service_name=" + kAccount +
                    "\nsecure_chroot_dir=" + config_.file("empty") +
                    "\nseccomp_sandbox=NO\nport_enable=YES\nconnect_from_port_20=NO\n"
                    "pasv_address=127.0.0.1\nxferlog_enable=NO\nuse_localtime=NO\n" +
                    (setup.tls ? tlsConfig : std::string()));
      return {sbin + "vsftpd", config_.file("vsftpd.conf")};
    }
    case ServerKind::pureFtpd: {
      const std::string ids = accountIds();
      writeFile(config_.file("pure.passwd"), "user:" + std::string(kPasswordHash) + ":" + ids +
                                                 "::" + root + "/./::::::::::::\n");
      ProcessOptions tool;
      tool.env["LD_LIBRARY_PATH"] = libraryPath();
      auto made =
          testing_support::runProcess({serversRoot() + "/usr/bin/pure-pw", "mkdb",
                                       config_.file("pure.pdb"), "-f", config_.file("pure.passwd")},
                                      tool);
      if (made.exitCode != 0) throw std::runtime_error("pure-pw mkdb failed: " + made.err);
      // -E no anonymous, -H no name look-ups, -4 IPv4, -A chroot, -u 1 any account id.
      std::vector<std::string> line{sbin + "pure-ftpd", "-S", "127.0.0.1," + port,
                                    "-l", "puredb:" + config_.file("pure.pdb"),
                                    "-E", "-H", "-4", "-A", "-u", "1"};
      // -Y 3: TLS required for the login and for data.
      if (setup.tls) line.insert(line.end(), {"-Y", "3", "-2", certificate + "," + key});
      return line;
    }
    case ServerKind::proftpd: {
      const std::string ids = accountIds();
      writeFile(config_.file("proftpd.passwd"),
                "user:" + std::string(kPasswordHash) + ":" + ids + "::" + root + ":/bin/false\n");
      ::chmod(config_.file("proftpd.passwd").c_str(), 0600);
      std::string conf =
          "ServerType standalone\nServerName \"e2e\"\nPort " + port +
          "\nDefaultAddress 127.0.0.1\nSocketBindTight on\nUseIPv6 off\n"
          "User " +
          kAccount + "\nGroup " + kAccount + "\nPidFile " + config_.file("pid") +
          "\nScoreboardFile " + config_.file("scoreboard") +
          "\nDelayTable none\nWtmpLog off\nUseReverseDNS off\nRequireValidShell off\n"
          "AuthOrder mod_auth_file.c\nAuthUserFile " +
          config_.file("proftpd.passwd") + "\nDefaultRoot ~\nTransferLog none\nSystemLog " +
          config_.file("proftpd.log") + "\nMaxInstances 30\nAuthPAM off\nControlsEngine off\n";
      // Without PreferServerEncoding, "OPTS UTF8 ON" would switch the session back to UTF-8.
      if (setup.latin1Names) {
        conf += "UseEncoding UTF-8 ISO-8859-1\nLangOptions PreferServerEncoding\n";
      }
      // mod_tls asks data connections to resume the control connection's session by default.
      if (setup.tls) {
        conf += "ModulePath " + serversRoot() +
                "/usr/lib/proftpd\nLoadModule mod_tls.c\nTLSEngine on\nTLSRequired on\n"
                "TLSProtocol TLSv1.2 TLSv1.3\nTLSVerifyClient off\nTLSRSACertificateFile " +
                certificate + "\nTLSRSACertificateKeyFile " + key + "\nTLSLog " +
                config_.file("tls.log") + "\n";
      }
      writeFile(config_.file("proftpd.conf"), conf);
      return {sbin + "proftpd", "-n", "-q", "-c", config_.file("proftpd.conf")};
    }
    case ServerKind::pyftpdlib: {
      std::vector<std::string> line{testing_support::kSystemPython,
                                    std::string(MARLOWICK_SOURCE_DIR) + "/tests/support/pyftpd.py",
                                    root, "--user", user_, "--password", password_,
                                    "--perm", "elr", "--host", host_};
      if (setup.tls) line.insert(line.end(), {"--tls", certificate, "--tls-key", key});
      return line;
    }
    case ServerKind::inetutils:
    case ServerKind::netkit: {
      // Both ask PAM for the service "ftp"; their conversation needs pam_ftp first in it, as
      // the PAM file of their packages says. It passes other names on to pam_unix.
      writeFile(config_.file("pam-ftp"),
                "auth sufficient pam_ftp.so\nauth required pam_unix.so nodelay\n"
                "account required pam_permit.so\nsession required pam_permit.so\n");
      std::vector<std::string> line{testing_support::kSystemPython,
                                    std::string(MARLOWICK_SOURCE_DIR) + "/tests/e2e/inetd.py",
                                    "--home", root, "--account", kAccount,
                                    "--pam", config_.file("pam-ftp"), "--"};
      // inetutils: -a pam checks passwords through PAM (not /etc/shells, which lacks the
      // account's shell). netkit: -z nossl, a plain server.
      if (kind_ == ServerKind::inetutils) {
        line.insert(line.end(), {sbin + "ftpd", "-a", "pam"});
      } else {
        line.insert(line.end(), {sbin + "in.ftpd", "-z", "nossl"});
      }
      return line;
    }
    case ServerKind::twisted:
      return {testing_support::kSystemPython,
              std::string(MARLOWICK_SOURCE_DIR) + "/tests/e2e/twistedftpd.py", root, "--user",
              user_, "--password", password_, "--host", host_};
  }
  return {};
}

}  // namespace e2e
