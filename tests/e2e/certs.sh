#!/usr/bin/env bash
# Certificates for the end-to-end tests over TLS, made at run time into the folder DIR:
#   ca.pem          a certificate authority (its key ca.key)
#   server.key      the one key of all the server certificates below
#   localhost.pem   for localhost and 127.0.0.1, issued by ca.pem
#   other.pem       for other.example only, issued by ca.pem
#   self.pem        for localhost and 127.0.0.1, signed by itself
# Usage: certs.sh DIR
set -euo pipefail
cd "$1"
ossl() { openssl "$@" 2>/dev/null; }
ossl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out ca.key
ossl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out server.key
ossl req -x509 -new -key ca.key -days 2 -subj "/CN=Marlowick test CA" -out ca.pem \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
leaf() {  # leaf NAME COMMON_NAME SUBJECT_ALT_NAMES
  ossl req -new -key server.key -subj "/CN=$2" -out "$1.csr"
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' \
    "$3" >"$1.ext"
  ossl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem"
  rm -f "$1.csr" "$1.ext"
}
leaf localhost localhost "DNS:localhost,IP:127.0.0.1"
leaf other other.example "DNS:other.example"
ossl req -x509 -new -key server.key -days 2 -subj "/CN=localhost" -out self.pem \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"
