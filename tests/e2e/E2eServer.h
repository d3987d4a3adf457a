#pragma once

#include <memory>
#include <string>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace e2e {

/// The real FTP servers the program is tried against: Debian's packages, unpacked by
/// tests/e2e/servers.sh (all but pyftpdlib and Twisted, which are installed). GNU inetutils
/// ftpd and netkit ftpd serve one session on standard input and output: tests/e2e/inetd.py
/// accepts the connections for them. Twisted reads names as Latin-1: it serves
/// ServedTree::asciiNames().
enum class ServerKind { vsftpd, pureFtpd, proftpd, pyftpdlib, inetutils, netkit, twisted };

/// Lower-case name, usable in a test name.
std::string serverName(ServerKind kind);

/// Variations of a server's set-up.
struct ServerSetup {
  /// proftpd only: names go to the client in ISO-8859-1 while the disk holds UTF-8, and
  /// "OPTS UTF8 ON" is refused.
  bool latin1Names = false;
  /// vsftpd and pyftpdlib only: listen on ::1 instead of 127.0.0.1.
  bool ipv6 = false;
  /// TLS required for the login and for every data connection (explicit: AUTH TLS), with
  /// `certificate`, one of certificateFile()'s.
  bool tls = false;
  std::string certificate = "localhost.pem";
  /// vsftpd only, with tls: TLS from the first byte instead of after AUTH TLS.
  bool implicitTls = false;
};

/// A file that tests/e2e/certs.sh made for this run: "ca.pem" (the CA), "localhost.pem" (for
/// localhost and 127.0.0.1, issued by the CA), "other.pem" (for other.example, issued by the
/// CA), "self.pem" (for localhost and 127.0.0.1, signed by itself), "server.key" (their key).
std::string certificateFile(const std::string& name);

/// One server serving `root` read-only on 127.0.0.1 at a port picked at run time, started in
/// the constructor (which waits, bounded, for its greeting) and stopped when the object goes.
class FtpServerProcess {
 public:
  FtpServerProcess(ServerKind kind, const std::string& root, ServerSetup setup = {});
  ~FtpServerProcess();
  FtpServerProcess(const FtpServerProcess&) = delete;
  FtpServerProcess& operator=(const FtpServerProcess&) = delete;

  ServerKind kind() const { return kind_; }
  /// The address listened on: "127.0.0.1" or "::1".
  const std::string& host() const { return host_; }
  int port() const { return port_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  /// Ends the server and every session process at once, as a crash would.
  void kill();

 private:
  bool start(const std::string& root, const ServerSetup& setup);
  std::vector<std::string> commandLine(const std::string& root, const ServerSetup& setup);

  ServerKind kind_;
  std::string host_;
  testing_support::TempDir config_;
  std::unique_ptr<testing_support::BackgroundProcess> process_;
  int port_ = 0;
  std::string user_;
  std::string password_;
};

/// Where servers.sh unpacked the servers.
std::string serversRoot();

}  // namespace e2e
