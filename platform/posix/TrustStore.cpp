#include "platform/TrustStore.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace platform {

void addSystemTrustAnchors(x509_store_st* store) {
  // The system's CA package fills the default file and folder (SSL_CERT_FILE, SSL_CERT_DIR
  // point elsewhere when set).
  X509_STORE_set_default_paths(store);
  // A default file or folder that does not exist is no failure, but leaves errors queued.
  ERR_clear_error();
}

}  // namespace platform
