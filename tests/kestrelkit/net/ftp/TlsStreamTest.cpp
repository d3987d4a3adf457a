#include "kestrelkit/net/ftp/TlsStream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "kestrelkit/net/ftp/TlsStreamOpenSsl.h"
#include "tests/support/TempDir.h"

namespace kestrelkit::net::ftp {
namespace {

using namespace std::chrono_literals;
using platform::Deadline;
using platform::Outcome;
using platform::OutcomeKind;

// The limit for waits that should end at once; a test that reaches it has failed.
constexpr auto kAtOnce = 10s;

// A certificate for `altNames` ("" for a CA), valid from `fromDays` to `toDays` from now, signed
// by `issuer` (null: by itself). One key serves all: the tests are about the certificates.
X509Ptr certificate(EVP_PKEY* key, const char* name, const char* altNames, X509* issuer,
                    long fromDays = -1, long toDays = 1) {
  static long serial = 1;
  X509Ptr made(X509_new());
  X509_set_version(made.get(), X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(made.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(made.get()), fromDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(made.get()), toDays * 86400);
  X509_set_pubkey(made.get(), key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(made.get()), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : made.get();
  X509_set_issuer_name(made.get(), X509_get_subject_name(signer));
  X509V3_CTX context;
  X509V3_set_ctx(&context, signer, made.get(), nullptr, nullptr, 0);
  X509_EXTENSION* extension =
      *altNames == '\0'
          ? X509V3_EXT_conf_nid(nullptr, &context, NID_basic_constraints, "critical,CA:TRUE")
          : X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, altNames);
  X509_add_ext(made.get(), extension, -1);
  X509_EXTENSION_free(extension);
  X509_sign(made.get(), key, EVP_sha256());
  return made;
}

struct Certificates {
  EvpKeyPtr key{EVP_EC_gen("P-256")};
  X509Ptr authority = certificate(key.get(), "Test CA", "", nullptr);
  X509Ptr trusted =
      certificate(key.get(), "trusted", "DNS:localhost,IP:127.0.0.1", authority.get());
  X509Ptr selfSigned = certificate(key.get(), "self", "DNS:localhost", nullptr);
  X509Ptr otherName = certificate(key.get(), "other", "DNS:other.example", authority.get());
  X509Ptr expired = certificate(key.get(), "old", "DNS:localhost", authority.get(), -3, -1);
  testing_support::TempDir dir;
  // Several anchors in one file: the CA and the self-signed one.
  std::string anchors = dir.file("anchors.pem");

  Certificates() {
    std::unique_ptr<BIO, OpenSslFree<&BIO_free_all>> file(BIO_new_file(anchors.c_str(), "w"));
    PEM_write_bio_X509(file.get(), authority.get());
    PEM_write_bio_X509(file.get(), selfSigned.get());
  }
};

const Certificates& certificates() {
  static const Certificates made;
  return made;
}

// A TLS server on 127.0.0.1 with `served` and only TLS `version`, each connection on a thread of
// its own: it echoes until the client's close_notify, which it answers, or with `bareClose` sends
// "bye" and closes the TCP connection alone.
class TlsServer {
 public:
  explicit TlsServer(X509* served, int version = TLS1_3_VERSION, bool bareClose = false)
      : bareClose_(bareClose) {
    SSL_CTX_use_certificate(context_.get(), served);
    SSL_CTX_use_PrivateKey(context_.get(), certificates().key.get());
    SSL_CTX_set_min_proto_version(context_.get(), version);
    SSL_CTX_set_max_proto_version(context_.get(), version);
    EXPECT_TRUE(listener_.open(platform::loopbackAddress(4)).ok());
    acceptor_ = std::thread([this] {
      while (!stop_) {
        platform::Socket socket;
        platform::NetAddress peer;
        if (!listener_.accept(socket, peer, Deadline::after(50ms)).ok()) continue;
        connections_.emplace_back([this, s = std::move(socket)]() mutable { serve(s); });
      }
    });
  }
  ~TlsServer() {
    stop_ = true;
    acceptor_.join();
    for (std::thread& connection : connections_) connection.join();
  }

  std::unique_ptr<ByteStream> connect() {
    platform::Socket socket;
    EXPECT_TRUE(socket.connect(listener_.address(), Deadline::after(kAtOnce)).ok());
    return std::make_unique<SocketStream>(std::move(socket));
  }

 private:
  void serve(platform::Socket& socket) {
    const int fd = static_cast<int>(socket.native());
    // Blocking OpenSSL calls, every wait bounded by the socket's own time limits.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    SslPtr ssl(SSL_new(context_.get()));
    SSL_set_fd(ssl.get(), fd);
    if (SSL_accept(ssl.get()) != 1) return;
    if (bareClose_) {
      SSL_write(ssl.get(), "bye", 3);
      return;
    }
    char buffer[4096];
    int read = 0;
    while ((read = SSL_read(ssl.get(), buffer, sizeof buffer)) > 0) {
      SSL_write(ssl.get(), buffer, read);
    }
    if (SSL_get_error(ssl.get(), read) == SSL_ERROR_ZERO_RETURN) SSL_shutdown(ssl.get());
  }

  SslContextPtr context_{SSL_CTX_new(TLS_server_method())};
  bool bareClose_;
  platform::Listener listener_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

// A session that trusts the test CA and the self-signed certificate, for `host`.
std::unique_ptr<TlsSession> session(const char* host = "localhost", bool anchors = true,
                                    bool verify = true) {
  std::string error;
  auto made = TlsSession::create({verify, anchors ? certificates().anchors : "", host}, error);
  EXPECT_TRUE(made) << error;
  return made;
}

// Everything the stream gives until its end, and the outcome that ended it.
Outcome readToEnd(ByteStream& stream, std::string& text) {
  char buffer[256];
  for (;;) {
    std::size_t got = 0;
    Outcome read = stream.readSome(buffer, sizeof buffer, got, Deadline::after(kAtOnce));
    if (!read.ok() || got == 0) return read;
    text.append(buffer, got);
  }
}

// "ping" there and back (the server's handshake is over then); with `close`, then this side's
// close_notify, which the server answers: an orderly end.
void expectEcho(ByteStream& stream, bool close = false) {
  ASSERT_TRUE(stream.writeAll("ping", 4, Deadline::after(kAtOnce)).ok());
  char buffer[8];
  std::size_t got = 0;
  ASSERT_TRUE(stream.readSome(buffer, sizeof buffer, got, Deadline::after(kAtOnce)).ok());
  EXPECT_EQ(std::string(buffer, got), "ping");
  if (!close) return;
  stream.finish(Deadline::after(kAtOnce));
  std::string rest;
  const Outcome end = readToEnd(stream, rest);
  EXPECT_TRUE(end.ok() && rest.empty()) << end.reason;
}

struct VerifyCase {
  const char* label;
  X509Ptr Certificates::*served;
  bool anchors;
  const char* host;
  bool verify;
  const char* failure;  // "" for a connection that is made
};

class TlsVerify : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(TlsVerify, ChecksChainNameAndTimeInWords) {
  const VerifyCase& row = GetParam();
  TlsServer server((certificates().*row.served).get());
  auto stream = server.connect();
  const Outcome made =
      session(row.host, row.anchors, row.verify)->secureControl(stream, Deadline::after(kAtOnce));
  if (*row.failure == '\0') {
    ASSERT_TRUE(made.ok()) << made.reason;
    expectEcho(*stream, true);
  } else {
    EXPECT_EQ(made.kind, OutcomeKind::localFailure);
    EXPECT_EQ(made.reason, std::string("certificate verify failed: ") + row.failure);
    EXPECT_EQ(stream, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    TlsCertificates, TlsVerify,
    ::testing::ValuesIn(std::vector<VerifyCase>{
        {"TrustedByName", &Certificates::trusted, true, "localhost", true, ""},
        {"TrustedByAddress", &Certificates::trusted, true, "127.0.0.1", true, ""},
        {"SelfSigned", &Certificates::selfSigned, false, "localhost", true,
         "self-signed certificate"},
        {"SelfSignedAnchor", &Certificates::selfSigned, true, "localhost", true, ""},
        {"OtherName", &Certificates::otherName, true, "localhost", true, "host name mismatch"},
        {"OtherAddress", &Certificates::otherName, true, "127.0.0.1", true, "IP address mismatch"},
        {"Expired", &Certificates::expired, true, "localhost", true, "certificate has expired"},
        {"Unchecked", &Certificates::otherName, false, "localhost", false, ""}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TlsSessionCreate, AnUnreadableCaFileIsRefused) {
  std::string error;
  EXPECT_FALSE(TlsSession::create({true, certificates().dir.file("none.pem"), "localhost"}, error));
  EXPECT_NE(error.find("none.pem: No such file or directory"), std::string::npos) << error;
}

TEST(TlsStream, AServerSilentInTheHandshakeTimesOutAtTheDeadline) {
  // The system takes the connection into the backlog; no one ever answers on it.
  platform::Listener silent;
  ASSERT_TRUE(silent.open(platform::loopbackAddress(4)).ok());
  platform::Socket socket;
  ASSERT_TRUE(socket.connect(silent.address(), Deadline::after(kAtOnce)).ok());
  std::unique_ptr<ByteStream> stream = std::make_unique<SocketStream>(std::move(socket));
  const auto start = std::chrono::steady_clock::now();
  const Outcome made = session()->secureControl(stream, Deadline::after(300ms));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(made.kind, OutcomeKind::timedOut) << made.reason;
  EXPECT_GE(took, 300ms);
  EXPECT_LT(took, 900ms);
}

TEST(TlsStream, AnEndWithoutTheTlsCloseIsALostConnection) {
  TlsServer server(certificates().trusted.get(), TLS1_3_VERSION, true);
  auto stream = server.connect();
  ASSERT_TRUE(session()->secureControl(stream, Deadline::after(kAtOnce)).ok());
  std::string text;
  const Outcome end = readToEnd(*stream, text);
  EXPECT_EQ(text, "bye");
  EXPECT_EQ(end.kind, OutcomeKind::connectionLost);
  EXPECT_EQ(end.reason, "connection lost: the data ended without the TLS close");
}

class TlsResumption : public ::testing::TestWithParam<int> {};

TEST_P(TlsResumption, DataConnectionsResumeTheControlSession) {
  TlsServer server(certificates().trusted.get(), GetParam());
  auto tls = session();
  auto control = server.connect();
  ASSERT_TRUE(tls->secureControl(control, Deadline::after(kAtOnce)).ok());
  // A data connection before the control's first read: a TLS 1.3 ticket is not in yet.
  const bool tls12 = GetParam() == TLS1_2_VERSION;
  auto early = server.connect();
  ASSERT_TRUE(tls->secureData(early, Deadline::after(kAtOnce)).ok());
  EXPECT_EQ(tls->lastDataResumed(), tls12);
  expectEcho(*early);
  // Reading on the control connection brings the ticket.
  expectEcho(*control);
  // The first ends without its TLS close; the next must resume all the same.
  for (int round = 0; round < 2; ++round) {
    auto data = server.connect();
    ASSERT_TRUE(tls->secureData(data, Deadline::after(kAtOnce)).ok());
    EXPECT_TRUE(tls->lastDataResumed()) << "round " << round;
    expectEcho(*data, round == 1);
  }
}

INSTANTIATE_TEST_SUITE_P(TlsVersions, TlsResumption,
                         ::testing::Values(TLS1_2_VERSION, TLS1_3_VERSION), [](const auto& info) {
                           return info.param == TLS1_2_VERSION ? "Tls12" : "Tls13";
                         });

}  // namespace
}  // namespace kestrelkit::net::ftp
