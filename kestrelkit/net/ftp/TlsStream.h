#pragma once

#include <memory>
#include <string>

#include "kestrelkit/net/ftp/ByteStream.h"
#include "platform/Deadline.h"
#include "platform/Outcome.h"

namespace kestrelkit::net::ftp {

/// How a session's secure connections check the server.
struct TlsSettings {
  /// Check the certificate chain against the system's trust store (and `caFile`), and the host
  /// name or address against the certificate. False accepts any certificate.
  bool verify = true;
  /// A PEM file with further trust anchors (a server's self-signed certificate, a company CA);
  /// empty for none.
  std::string caFile;
  /// The host as the user gave it (a name, or an IPv4 or IPv6 address): sent as the server name
  /// when it is a name, and checked against the certificate.
  std::string host;
};

/// The secure layer of one FTP session: its control connection and all its data connections.
/// TLS 1.2 and 1.3 only. A data connection resumes the control connection's TLS session, as
/// servers that guard against stolen data connections demand.
class TlsSession {
 public:
  /// The session's context, or null with the reason in `error` (an unreadable `caFile`, ...).
  static std::unique_ptr<TlsSession> create(const TlsSettings& settings, std::string& error);
  virtual ~TlsSession() = default;

  /// Makes `stream` the control connection's secure stream: a client handshake over it within
  /// `deadline`, then the server's certificate checked. On failure `stream` is left closed and
  /// the outcome says why in words: `localFailure` for a certificate that does not pass
  /// ("certificate verify failed: self-signed certificate", "... certificate has expired",
  /// "... not yet valid", "... unable to get local issuer certificate", "host name mismatch"),
  /// `timedOut` or `connectionLost` when the handshake could not finish.
  virtual platform::Outcome secureControl(std::unique_ptr<ByteStream>& stream,
                                          const platform::Deadline& deadline) = 0;
  /// The same for a data connection, resuming the control connection's TLS session where the
  /// server allows it.
  virtual platform::Outcome secureData(std::unique_ptr<ByteStream>& stream,
                                       const platform::Deadline& deadline) = 0;
  /// True when the last `secureData` resumed the control connection's session.
  virtual bool lastDataResumed() const = 0;
};

}  // namespace kestrelkit::net::ftp
