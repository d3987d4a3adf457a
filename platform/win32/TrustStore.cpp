#include "platform/TrustStore.h"

// The Windows headers first, then OpenSSL's, which undefine the names wincrypt.h also defines
// (X509_NAME, ...).
#include <windows.h>
// wincrypt.h needs the types of windows.h.
#include <wincrypt.h>
// OpenSSL's last.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <memory>

namespace platform {

void addSystemTrustAnchors(x509_store_st* store) {
  if (store == nullptr) return;
  HCERTSTORE system = ::CertOpenSystemStoreW(0, L"ROOT");
  if (system == nullptr) return;
  // Each call frees the context it is given and returns the next one; null at the end.
  for (PCCERT_CONTEXT entry = ::CertEnumCertificatesInStore(system, nullptr); entry != nullptr;
       entry = ::CertEnumCertificatesInStore(system, entry)) {
    const unsigned char* der = entry->pbCertEncoded;
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        d2i_X509(nullptr, &der, static_cast<long>(entry->cbCertEncoded)), &X509_free);
    // One that OpenSSL cannot parse is left out; the store takes its own reference.
    if (certificate) X509_STORE_add_cert(store, certificate.get());
  }
  ::CertCloseStore(system, 0);
  ERR_clear_error();
}

}  // namespace platform
