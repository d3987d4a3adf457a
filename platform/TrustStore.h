#pragma once

// OpenSSL's certificate store (X509_STORE), declared here so that this header needs no OpenSSL.
struct x509_store_st;

namespace platform {

/// Adds the system's trust anchors to `store`, the certificate store of an OpenSSL TLS context:
/// on POSIX OpenSSL's default file and folder, which the system's CA package fills; on Windows
/// the certificates of the system's ROOT store (OpenSSL's compiled-in folder there belongs to
/// no one and so is not trusted). What cannot be read is skipped: a server whose chain then
/// ends nowhere fails verification ("unable to get local issuer certificate").
void addSystemTrustAnchors(x509_store_st* store);

}  // namespace platform
