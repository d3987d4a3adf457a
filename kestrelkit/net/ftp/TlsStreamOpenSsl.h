#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace kestrelkit::net::ftp {

/// Frees an OpenSSL object with its own free function.
template <auto Free>
struct OpenSslFree {
  template <class T>
  void operator()(T* object) const {
    Free(object);
  }
};

using SslContextPtr = std::unique_ptr<SSL_CTX, OpenSslFree<&SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<&SSL_free>>;
using SslSessionPtr = std::unique_ptr<SSL_SESSION, OpenSslFree<&SSL_SESSION_free>>;
using BioMethodPtr = std::unique_ptr<BIO_METHOD, OpenSslFree<&BIO_meth_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<&X509_free>>;
using EvpKeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<&EVP_PKEY_free>>;

}  // namespace kestrelkit::net::ftp
