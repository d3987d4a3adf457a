#!/usr/bin/env bash
# Installs the Debian packages needed to build and test Marlowick, only those still missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libfmt-dev libgtest-dev libgmock-dev libbenchmark-dev libedit-dev libssl-dev openssl
  nlohmann-json3-dev python3-pyftpdlib python3-openssl python3-twisted tmux locales
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The FTP servers of the end-to-end tests, unpacked side by side (their packages conflict).
"$(dirname "$0")/../tests/e2e/servers.sh"
