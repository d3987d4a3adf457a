// FtpLib over the Windows build of ftplib, against a small scripted server on 127.0.0.1: the
// control record's layout is checked by the library's own run-time checks (the command sender
// and the listing reader refuse a record that does not look as mirrored), data connections go
// through Winsock, and the fetched file lands at a Windows path unchanged.
// clang-format off
// Winsock 2 before anything that brings in windows.h, which would add the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "tests/support/TempDir.h"

namespace {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpFileType;
using kestrelkit::net::ftp::FtpLib;

const std::string kFileContent =
    std::string("binary\r\n\x00\x1A\xFF tail", 17) + std::string(200000, 'q');

SOCKET listenOnLoopback(int& port) {
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener, 1);
  int length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return listener;
}

void sendText(SOCKET socket, const std::string& text) {
  ::send(socket, text.data(), static_cast<int>(text.size()), 0);
}

// One control connection served by a script; records every command line it receives.
class ScriptedServer {
 public:
  ScriptedServer() {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedServer() {
    ::closesocket(listener_);
    thread_.join();
    ::WSACleanup();
  }
  int port() const { return port_; }
  std::vector<std::string> transcript() {
    std::lock_guard<std::mutex> guard(mutex_);
    return transcript_;
  }

 private:
  void serve() {
    SOCKET control = ::accept(listener_, nullptr, nullptr);
    if (control == INVALID_SOCKET) return;
    sendText(control, "220 scripted\r\n");
    std::string pending;
    char buffer[1024];
    SOCKET passive = INVALID_SOCKET;
    for (;;) {
      std::size_t end = pending.find("\r\n");
      if (end == std::string::npos) {
        int got = ::recv(control, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 2);
      {
        std::lock_guard<std::mutex> guard(mutex_);
        transcript_.push_back(line);
      }
      std::string verb = line.substr(0, line.find(' '));
      if (verb == "USER") {
        sendText(control, "331 password please\r\n");
      } else if (verb == "PASS") {
        sendText(control, "230-welcome\r\n230 logged in\r\n");
      } else if (verb == "SYST") {
        sendText(control, "215 UNIX Type: L8\r\n");
      } else if (line == "OPTS UTF8 ON") {
        sendText(control, "200 always in UTF8\r\n");
      } else if (verb == "PASV") {
        int dataPort = 0;
        passive = listenOnLoopback(dataPort);
        sendText(control, "227 Entering Passive Mode (127,0,0,1," + std::to_string(dataPort / 256) +
                              "," + std::to_string(dataPort % 256) + ")\r\n");
      } else if (verb == "LIST" || verb == "RETR") {
        sendText(control, "150 data follows\r\n");
        SOCKET data = ::accept(passive, nullptr, nullptr);
        ::closesocket(passive);
        passive = INVALID_SOCKET;
        if (verb == "LIST") {
          sendText(data,
                   "drwxr-xr-x 2 u g 4096 Jan 02 2024 sub\r\n"
                   "-rw-r--r-- 1 u g 200017 Mar 04 2024 caf\xC3\xA9.bin\r\n");
        } else {
          sendText(data, kFileContent);
        }
        ::shutdown(data, SD_SEND);
        ::closesocket(data);
        sendText(control, "226 done\r\n");
      } else if (verb == "CWD" || verb == "TYPE") {
        sendText(control, "250 ok\r\n");
      } else {
        sendText(control, "502 not scripted\r\n");
      }
    }
    ::closesocket(control);
  }

  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> transcript_;
};

TEST(FtpLibWin32, LogsInSwitchesToUtf8ListsAndFetches) {
  ScriptedServer server;
  testing_support::TempDir dir;
  {
    FtpLib ftp;
    ASSERT_TRUE(ftp.connect("127.0.0.1", server.port())) << ftp.lastResponse();
    ftp.setPassiveMode();
    ASSERT_TRUE(ftp.login("user", "secret")) << ftp.lastResponse();
    // Sent on the control connection with the library's record and read buffer.
    ASSERT_TRUE(ftp.utf8On()) << ftp.lastResponse();
    EXPECT_EQ(ftp.lastResponse(), "200 always in UTF8\n");

    std::vector<FtpFileInfo> entries;
    ASSERT_TRUE(ftp.list("", entries)) << ftp.lastResponse();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "sub");
    EXPECT_EQ(entries[0].type, FtpFileType::folder);
    EXPECT_EQ(entries[1].name, "caf\xC3\xA9.bin");
    EXPECT_EQ(entries[1].size, 200017u);

    const std::string target = dir.file("fetched.bin");
    ASSERT_TRUE(ftp.get(target, "caf\xC3\xA9.bin", 'I')) << ftp.lastResponse();
    EXPECT_EQ(testing_support::readFile(target), kFileContent);
  }
  std::vector<std::string> commands = server.transcript();
  ASSERT_GE(commands.size(), 5u);
  EXPECT_EQ(commands[0], "USER user");
  EXPECT_EQ(commands[1], "PASS secret");
  EXPECT_EQ(commands[2], "SYST");
  EXPECT_EQ(commands[3], "OPTS UTF8 ON");
  EXPECT_EQ(commands.back(), "RETR caf\xC3\xA9.bin");
}

TEST(FtpLibWin32, RefusedConnectionLeavesNoReply) {
  int port = 0;
  WSADATA data{};
  ::WSAStartup(MAKEWORD(2, 2), &data);
  ::closesocket(listenOnLoopback(port));
  FtpLib ftp;
  EXPECT_FALSE(ftp.connect("127.0.0.1", port));
  EXPECT_EQ(ftp.lastResponse(), "");
  EXPECT_FALSE(ftp.utf8On());
  ::WSACleanup();
}

}  // namespace
