#include "kestrelkit/net/ftp/TlsStream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <string_view>
#include <vector>
#include <utility>

#include "kestrelkit/net/ftp/TlsStreamOpenSsl.h"
#include "platform/Files.h"
#include "platform/TrustStore.h"

namespace kestrelkit::net::ftp {
namespace {

/// How much a TLS stream asks of the network at once: several records a read while a big file
/// flows.
constexpr std::size_t kReadAhead = 256 * 1024;

using platform::Deadline;
using platform::Outcome;
using platform::OutcomeKind;

constexpr std::string_view kEndedWithoutClose =
    "connection lost: the data ended without the TLS close";

/// The reason of the errors OpenSSL queued, in words, and an empty queue: the system's message
/// where a system call failed (a file that cannot be opened), else OpenSSL's last reason.
std::string openSslReason() {
  std::string reason;
  bool fromSystem = false;
  for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
    if (fromSystem) continue;
    if (ERR_SYSTEM_ERROR(code)) {
      reason = platform::errorText(ERR_GET_REASON(code));
      fromSystem = true;
    } else if (const char* text = ERR_reason_error_string(code)) {
      reason = text;
    }
  }
  return reason.empty() ? "unknown error" : reason;
}

/// The text of a certificate check's result.
std::string verifyFailure(long result) {
  // OpenSSL says "hostname"; the messages say "host name" like the rest of the program.
  const std::string text = result == X509_V_ERR_HOSTNAME_MISMATCH
                               ? "host name mismatch"
                               : X509_verify_cert_error_string(result);
  return "certificate verify failed: " + text;
}

/// The control connection's latest TLS session, for data connections to resume. Shared by the
/// session and its control stream: a ticket may arrive on the control connection whenever it
/// is read.
struct SessionStore {
  SslSessionPtr latest;
  /// The key exchange group the control connection ended with (0: none known yet).
  int group = 0;
};

/// Offers `group` first, so that a data connection's key share is the one the server chose for
/// the control connection: a server that prefers another group than the library's first
/// otherwise answers each data connection with a retry request, one round trip more.
void preferGroup(SSL* ssl, int group) {
  static constexpr int kUsual[] = {NID_X25519, NID_X9_62_prime256v1, NID_X448, NID_secp521r1,
                                   NID_secp384r1};
  std::vector<int> groups = {group};
  for (int usual : kUsual) {
    if (usual != group) groups.push_back(usual);
  }
  SSL_set1_groups(ssl, groups.data(), static_cast<int>(groups.size()));
}

/// What the BIO under one TLS connection reads from and writes to. OpenSSL learns only "try
/// again" (a timeout) or "failed"; the stream's own outcome stays here for the caller.
struct Transport {
  ByteStream* stream = nullptr;
  Deadline deadline = Deadline::never();
  Outcome failure;
  bool ended = false;  ///< the stream beneath ended (the peer's end of the TCP stream)
};

int transportRead(BIO* bio, char* buffer, int capacity) {
  auto& transport = *static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  if (capacity <= 0) return 0;
  std::size_t got = 0;
  Outcome read = transport.stream->readSome(buffer, static_cast<std::size_t>(capacity), got,
                                            transport.deadline);
  if (read.ok() && got > 0) return static_cast<int>(got);
  if (read.ok()) {
    transport.ended = true;
    return 0;
  }
  // A timeout is "try again" to OpenSSL, which keeps the connection usable for a later read.
  if (read.kind == OutcomeKind::timedOut) BIO_set_retry_read(bio);
  transport.failure = std::move(read);
  return -1;
}

int transportWrite(BIO* bio, const char* data, int length) {
  auto& transport = *static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  if (length <= 0) return 0;
  Outcome written =
      transport.stream->writeAll(data, static_cast<std::size_t>(length), transport.deadline);
  if (written.ok()) return length;
  // Never "try again": how much of the record went out is unknown, the stream is broken.
  transport.failure = std::move(written);
  return -1;
}

long transportControl(BIO*, int command, long, void*) {
  // Writes go straight to the stream: nothing to flush. Nothing else is supported.
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

const BIO_METHOD* transportMethod() {
  static const BioMethodPtr method = [] {
    BioMethodPtr made(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ByteStream"));
    if (made) {
      BIO_meth_set_read(made.get(), transportRead);
      BIO_meth_set_write(made.get(), transportWrite);
      BIO_meth_set_ctrl(made.get(), transportControl);
    }
    return made;
  }();
  return method.get();
}

/// Keeps the control connection's newest session; a data connection's own are not kept.
int keepControlSession(SSL* ssl, SSL_SESSION* session) {
  auto* store = static_cast<SessionStore*>(SSL_get_app_data(ssl));
  if (store == nullptr) return 0;
  store->latest.reset(session);
  return 1;  // the reference is the store's now
}

/// A TLS client connection over a plain stream, which it owns. Every wait is the plain stream's,
/// bounded by the deadline of the call that causes it.
class TlsStream final : public ByteStream {
 public:
  explicit TlsStream(std::unique_ptr<ByteStream> plain) : plain_(std::move(plain)) {
    transport_.stream = plain_.get();
  }

  /// The client handshake within `deadline`, resuming the session kept in `resume` (its key
  /// exchange group offered first) when given and the server agrees; a control stream hands
  /// the sessions it receives to `keeper`. On failure the outcome says why and the stream is of
  /// no further use.
  Outcome handshake(SSL_CTX* context, const std::string& serverName,
                    std::shared_ptr<SessionStore> keeper, const SessionStore* resume,
                    const Deadline& deadline);
  bool resumed() const { return SSL_session_reused(ssl_.get()) == 1; }

  Outcome readSome(char* buffer, std::size_t capacity, std::size_t& got,
                   const Deadline& deadline) override;
  Outcome writeAll(const char* data, std::size_t length, const Deadline& deadline) override;
  void finish(const Deadline& deadline) override;
  platform::Socket& socket() override { return plain_->socket(); }

 private:
  /// Readies the transport for one call into OpenSSL.
  void begin(const Deadline& deadline) {
    ERR_clear_error();
    transport_.deadline = deadline;
    transport_.failure = Outcome::success();
  }
  /// What a failed call into OpenSSL means: the stream's own failure, its end, or OpenSSL's
  /// reason prefixed with `what`.
  Outcome failure(std::string_view what);
  /// After a read that gave `got` bytes: adds what more is there without waiting for it.
  void takeWaiting(char* buffer, std::size_t capacity, std::size_t& got);

  std::unique_ptr<ByteStream> plain_;
  Transport transport_;
  std::shared_ptr<SessionStore> keeper_;
  SslPtr ssl_;
  /// Set by a failure after which the connection is out of step (all but a read's timeout).
  Outcome broken_;
};

Outcome TlsStream::failure(std::string_view what) {
  Outcome result = transport_.failure;
  if (result.ok()) {
    result = transport_.ended ? Outcome::lost(std::string(kEndedWithoutClose))
                              : Outcome::lost(std::string(what) + ": " + openSslReason());
  }
  ERR_clear_error();
  return result;
}

Outcome TlsStream::handshake(SSL_CTX* context, const std::string& serverName,
                             std::shared_ptr<SessionStore> keeper, const SessionStore* resume,
                             const Deadline& deadline) {
  ssl_.reset(SSL_new(context));
  BIO* bio = BIO_new(transportMethod());
  if (!ssl_ || bio == nullptr) {
    BIO_free(bio);
    return Outcome::local("TLS set-up failed: " + openSslReason());
  }
  BIO_set_data(bio, &transport_);
  BIO_set_init(bio, 1);
  SSL_set_bio(ssl_.get(), bio, bio);
  keeper_ = std::move(keeper);
  SSL_set_app_data(ssl_.get(), keeper_.get());
  if (!serverName.empty() && SSL_set_tlsext_host_name(ssl_.get(), serverName.c_str()) != 1) {
    return Outcome::local("TLS set-up failed: " + openSslReason());
  }
  if (resume != nullptr && resume->latest) {
    // A copy: OpenSSL marks a session it sees end badly as not resumable, and a data
    // connection that ends without its TLS close must not spoil the control's session.
    const SslSessionPtr copy(SSL_SESSION_dup(resume->latest.get()));
    if (copy) SSL_set_session(ssl_.get(), copy.get());
  }
  if (resume != nullptr && resume->group != 0) preferGroup(ssl_.get(), resume->group);

  begin(deadline);
  if (SSL_connect(ssl_.get()) == 1) {
    if (keeper_) keeper_->group = SSL_get_negotiated_group(ssl_.get());
    return Outcome::success();
  }
  const long verified = SSL_get_verify_result(ssl_.get());
  if (SSL_get_verify_mode(ssl_.get()) != SSL_VERIFY_NONE && verified != X509_V_OK) {
    ERR_clear_error();
    return Outcome::local(verifyFailure(verified));
  }
  const bool refused = transport_.failure.ok() && !transport_.ended;
  Outcome failed = failure("TLS handshake failed");
  if (failed.kind == OutcomeKind::timedOut) failed.reason = "TLS handshake timed out";
  if (transport_.ended) failed.reason = "connection lost during the TLS handshake";
  // The two sides do not agree (a version, a cipher, plain text where TLS belongs): another
  // try would not either.
  if (refused) failed.kind = OutcomeKind::localFailure;
  return failed;
}

Outcome TlsStream::readSome(char* buffer, std::size_t capacity, std::size_t& got,
                            const Deadline& deadline) {
  got = 0;
  if (!broken_.ok()) return broken_;
  if (capacity == 0) return Outcome::success();
  begin(deadline);
  if (SSL_read_ex(ssl_.get(), buffer, capacity, &got) == 1) {
    takeWaiting(buffer, capacity, got);
    return Outcome::success();
  }
  got = 0;
  const int error = SSL_get_error(ssl_.get(), 0);
  // Only the peer's close_notify is an orderly end.
  if (error == SSL_ERROR_ZERO_RETURN) return Outcome::success();
  Outcome failed = failure("TLS read failed");
  if (error != SSL_ERROR_WANT_READ) broken_ = failed;
  return failed;
}

void TlsStream::takeWaiting(char* buffer, std::size_t capacity, std::size_t& got) {
  // A read gives one record at most (16 KiB): the records already here go along, so that the
  // caller writes a few big pieces rather than many small ones. None of these reads may wait.
  while (got < capacity && SSL_has_pending(ssl_.get()) == 1) {
    begin(Deadline::after(std::chrono::milliseconds(0)));
    std::size_t more = 0;
    if (SSL_read_ex(ssl_.get(), buffer + got, capacity - got, &more) != 1) {
      const int error = SSL_get_error(ssl_.get(), 0);
      // The end or a failure is the next call's to tell, after the data before it.
      if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_ZERO_RETURN) {
        broken_ = failure("TLS read failed");
      }
      ERR_clear_error();
      return;
    }
    got += more;
  }
}

Outcome TlsStream::writeAll(const char* data, std::size_t length, const Deadline& deadline) {
  if (!broken_.ok()) return broken_;
  begin(deadline);
  while (length > 0) {
    std::size_t written = 0;
    if (SSL_write_ex(ssl_.get(), data, length, &written) != 1) {
      broken_ = failure("TLS write failed");
      return broken_;
    }
    data += written;
    length -= written;
  }
  return Outcome::success();
}

void TlsStream::finish(const Deadline& deadline) {
  // Once sent, SSL_shutdown would wait for the peer's close_notify instead.
  if (broken_.ok() && (SSL_get_shutdown(ssl_.get()) & SSL_SENT_SHUTDOWN) == 0) {
    begin(deadline);
    // Sends close_notify without waiting for the peer's; a failure to send it changes nothing
    // for this side, which is done with the connection.
    SSL_shutdown(ssl_.get());
    ERR_clear_error();
  }
  plain_->finish(deadline);
}

class OpenSslSession final : public TlsSession {
 public:
  OpenSslSession(SslContextPtr context, std::string serverName)
      : context_(std::move(context)), serverName_(std::move(serverName)) {}

  Outcome secureControl(std::unique_ptr<ByteStream>& stream, const Deadline& deadline) override {
    return secure(stream, deadline, true);
  }
  Outcome secureData(std::unique_ptr<ByteStream>& stream, const Deadline& deadline) override {
    return secure(stream, deadline, false);
  }
  bool lastDataResumed() const override { return lastDataResumed_; }

 private:
  Outcome secure(std::unique_ptr<ByteStream>& stream, const Deadline& deadline, bool control);

  SslContextPtr context_;
  std::string serverName_;
  std::shared_ptr<SessionStore> sessions_ = std::make_shared<SessionStore>();
  bool lastDataResumed_ = false;
};

Outcome OpenSslSession::secure(std::unique_ptr<ByteStream>& stream, const Deadline& deadline,
                               bool control) {
  if (!control) lastDataResumed_ = false;
  if (!stream) return Outcome::lost("not connected");
  auto secured = std::make_unique<TlsStream>(std::move(stream));
  // A new control connection starts its own line of sessions.
  if (control) *sessions_ = SessionStore{};
  const Outcome made =
      secured->handshake(context_.get(), serverName_, control ? sessions_ : nullptr,
                         control ? nullptr : sessions_.get(), deadline);
  // On failure the secure stream goes, and with it the plain one: the stream is left closed.
  if (!made.ok()) return made;
  if (!control) lastDataResumed_ = secured->resumed();
  stream = std::move(secured);
  return made;
}

/// The host to check: without the brackets of an IPv6 address written for a URL.
std::string bareHost(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

/// True for an IPv4 or IPv6 address in text form, false for a name.
bool isAddress(const std::string& host) {
  const std::unique_ptr<ASN1_OCTET_STRING, OpenSslFree<&ASN1_OCTET_STRING_free>> parsed(
      a2i_IPADDRESS(host.c_str()));
  ERR_clear_error();
  return parsed != nullptr;
}

}  // namespace

std::unique_ptr<TlsSession> TlsSession::create(const TlsSettings& settings, std::string& error) {
  ERR_clear_error();
  SslContextPtr context(SSL_CTX_new(TLS_client_method()));
  if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1) {
    error = "TLS set-up failed: " + openSslReason();
    return nullptr;
  }
  // Whole records from the network at once where they are there: fewer reads.
  SSL_CTX_set_read_ahead(context.get(), 1);
  SSL_CTX_set_default_read_buffer_len(context.get(), kReadAhead);
  // A TLS 1.3 ticket comes after the handshake; the callback sees it whenever it comes.
  SSL_CTX_set_session_cache_mode(context.get(),
                                 SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context.get(), keepControlSession);

  const std::string host = bareHost(settings.host);
  const bool address = isAddress(host);
  if (settings.verify) {
    if (host.empty()) {
      error = "no host to check the server's certificate against";
      return nullptr;
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    platform::addSystemTrustAnchors(SSL_CTX_get_cert_store(context.get()));
    if (!settings.caFile.empty() &&
        SSL_CTX_load_verify_file(context.get(), settings.caFile.c_str()) != 1) {
      error = "cannot read the certificates in " + settings.caFile + ": " + openSslReason();
      return nullptr;
    }
    X509_VERIFY_PARAM* check = SSL_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const int set = address ? X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str())
                            : X509_VERIFY_PARAM_set1_host(check, host.c_str(), host.size());
    if (set != 1) {
      error = "cannot check the certificate against " + host + ": " + openSslReason();
      return nullptr;
    }
  }
  error.clear();
  // The server's name goes out only when it is one: an address is no name (RFC 6066).
  return std::make_unique<OpenSslSession>(std::move(context), address ? "" : host);
}

}  // namespace kestrelkit::net::ftp
