#!/usr/bin/env bash
# The Windows build: installs what is missing (MinGW-w64, Wine, the Debian source packages of fmt
# and OpenSSL), cross-builds a static OpenSSL into build/win-deps once, cross-builds marlowick.exe
# and the Windows test programs into build/win-rel, checks that the .exe imports nothing but
# system DLLs, and runs the tests and end-to-end downloads (plain and over TLS) under Wine in a
# throw-away Wine prefix. Usage: scripts/windows.sh [build|test] (default: both).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode=${1:-all}
build=$root/build/win-rel
deps=$root/build/win-deps

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

install_packages() {
  local packages=(cmake make dpkg-dev g++-mingw-w64-x86-64-posix libfmt-dev nlohmann-json3-dev googletest
    perl wine64 wine python3-pyftpdlib python3-openssl openssl tmux)
  local missing=()
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# apt-get source needs a deb-src entry: the deb stanzas of Debian's own list, as deb-src.
ensure_source_entries() {
  if grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ ||
    grep -qs '^deb-src ' /etc/apt/sources.list; then
    return 0
  fi
  local list=/etc/apt/sources.list.d/debian.sources
  [ -f "$list" ] || { echo "no $list to derive deb-src entries from" >&2; return 1; }
  sed 's/^Types: deb$/Types: deb-src/' "$list" | $sudo tee /etc/apt/sources.list.d/debsrc.sources \
    >/dev/null
  $sudo apt-get update -qq
}

# Debian's source package of PACKAGE (a binary package name is enough) below $deps, once.
fetch_source() {
  local package=$1 marker=$2
  if compgen -G "$deps/$marker" >/dev/null; then return 0; fi
  ensure_source_entries
  mkdir -p "$deps"
  (cd "$deps" && apt-get source -qq "$package" >/dev/null 2>&1) ||
    (cd "$deps" && $sudo apt-get update -qq && apt-get source -qq "$package" >/dev/null)
}

# OpenSSL for MinGW, which Debian does not ship: its source package, cross-built static below
# $deps. Only libcrypto and libssl are built, with what a TLS 1.2/1.3 client needs (735 files to
# compile instead of 932, a sixth less time); OpenSSL 3.0's default cipher list uses none of the
# algorithms left out (DES, Camellia, ARIA, SEED, IDEA, RC2/RC4, SM2/3/4, DSA, binary curves),
# and the client sets no other list.
openssl_options=(no-shared no-module no-dso no-engine no-legacy no-deprecated no-tests
  # No openssl.cnf read behind the program's back: OPENSSLDIR would be a drive-relative path
  # (the build machine's) that any user of the Windows machine could create.
  no-autoload-config
  # Protocols and formats a TLS client does not speak.
  no-dgram no-srtp no-nextprotoneg no-ssl-trace no-srp no-comp no-ui-console
  no-cms no-ts no-ocsp no-ct no-cmp
  no-aria no-bf no-camellia no-cast no-des no-dsa no-ec2m no-idea no-md4 no-mdc2 no-rc2 no-rc4
  no-rmd160 no-seed no-siphash no-sm2 no-sm3 no-sm4 no-whirlpool no-blake2 no-scrypt no-ocb
  no-siv)
openssl_prefix=$deps/openssl-win64

# The unpacked OpenSSL sources (printed): Debian's newest source package, or an older one the
# archive still has. The security archive may serve the upstream tarball but not the .dsc and
# the Debian patches; then the tarball, checked against the package index, is unpacked as is.
fetch_openssl() {
  local source
  source=$(compgen -G "$deps/openssl-src/openssl-[0-9]*/Configure" | sort -V | tail -n1 || true)
  if [ -n "$source" ]; then dirname "$source"; return 0; fi
  ensure_source_entries || return 1
  mkdir -p "$deps"
  local versions version upstream tarball want
  versions=$(apt-cache showsrc openssl | sed -n 's/^Version: //p' | sort -u -rV)
  [ -n "$versions" ] || { echo "apt-cache knows no openssl source package" >&2; return 1; }
  for version in $versions; do
    upstream=${version#*:}
    upstream=${upstream%-*}
    tarball=$deps/openssl_$upstream.orig.tar.gz
    if [ ! -f "$tarball" ]; then
      echo "Fetching Debian's openssl $version source package" >&2
      (cd "$deps" && apt-get source -qq --download-only "openssl=$version" >/dev/null 2>&1) || true
    fi
    [ -f "$tarball" ] || continue
    want=$(apt-cache showsrc openssl | awk -v name="${tarball##*/}" \
      '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 == name { print $1; exit }')
    if [ "$(sha256sum <"$tarball" | cut -d' ' -f1)" != "$want" ]; then
      echo "${tarball##*/} does not match the package index; removed" >&2
      rm -f "$tarball"
      continue
    fi
    rm -rf "$deps/openssl-src"
    mkdir -p "$deps/openssl-src"
    local dsc=$deps/openssl_${version#*:}.dsc
    if [ -f "$dsc" ] && [ -f "$deps/openssl_${version#*:}.debian.tar.xz" ]; then
      # The whole source package: Debian's patches applied.
      dpkg-source -q --no-check -x "$dsc" "$deps/openssl-src/openssl-$upstream" >/dev/null ||
        return 1
    else
      tar -xzf "$tarball" -C "$deps/openssl-src" || return 1
    fi
    echo "$deps/openssl-src/openssl-$upstream"
    return 0
  done
  echo "no openssl source package could be fetched (tried: $(tr '\n' ' ' <<<"$versions"))" >&2
  return 1
}

# Builds OpenSSL into $openssl_prefix unless it holds a build of the same sources and options.
build_openssl() {
  local source version stamp work=$deps/openssl-build
  mkdir -p "$deps"
  # One build at a time: a second run in the same tree would delete the first one's files.
  exec 8>"$deps/.openssl.lock"
  flock -w 1800 8 || { echo "another OpenSSL build holds $deps/.openssl.lock" >&2; return 1; }
  source=$(fetch_openssl)
  version=${source##*/openssl-}
  stamp="openssl $version: ${openssl_options[*]}"
  if [ -f "$openssl_prefix/lib/libssl.a" ] && [ -f "$openssl_prefix/lib/libcrypto.a" ] &&
    [ "$(cat "$openssl_prefix/built-from" 2>/dev/null)" = "$stamp" ]; then
    echo "OpenSSL $version for MinGW: already built in $openssl_prefix"
    exec 8>&-
    return 0
  fi
  echo "== Cross-building OpenSSL $version for MinGW (static; logs in $work)"
  local started=$SECONDS
  rm -rf "$work" "$openssl_prefix"
  mkdir -p "$work"
  # Built outside the sources, so that a change of options starts from clean sources.
  if ! (cd "$work" &&
    "$source/Configure" mingw64 "${openssl_options[@]}" \
      --cross-compile-prefix=x86_64-w64-mingw32- --prefix="$openssl_prefix" --libdir=lib \
      >configure.log 2>&1 &&
    make -j"$(nproc)" build_libs >make.log 2>&1 &&
    make install_dev >install.log 2>&1); then
    tail -n 30 "$work"/*.log >&2
    echo "the OpenSSL build failed; logs in $work" >&2
    return 1
  fi
  echo "$stamp" >"$openssl_prefix/built-from"
  echo "OpenSSL $version for MinGW built in $((SECONDS - started)) s"
  exec 8>&-
}

build_windows() {
  install_packages
  # fmt, so that it is compiled once rather than header-only in every file.
  fetch_source libfmt-dev 'fmtlib-*/src/format.cc'
  local fmt
  fmt=$(dirname "$(dirname "$(compgen -G "$deps/fmtlib-*/src/format.cc" | head -n1)")")
  build_openssl
  cmake -S . -B "$build" -Wno-dev -DMARLOWICK_WERROR=ON -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DMARLOWICK_BENCH=OFF \
    -DMARLOWICK_FMT_SOURCE="$fmt" -DMARLOWICK_OPENSSL_PREFIX="$openssl_prefix" >/dev/null
  cmake --build "$build" -j"$(nproc)"
  check_imports "$build/bin/marlowick.exe"
}

# A single .exe for any Windows machine: it may import only DLLs that Windows itself ships.
check_imports() {
  # CRYPT32: the system's certificate stores, where the trusted roots come from for TLS.
  local allowed="^(KERNEL32|USER32|SHELL32|ADVAPI32|WS2_32|CRYPT32|msvcrt)\.dll$"
  local dlls bad
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\tDLL Name: //p')
  bad=$(grep -viE "$allowed" <<<"$dlls" || true)
  if [ -n "$bad" ]; then
    echo "marlowick.exe imports DLLs a Windows machine may lack: $bad" >&2
    return 1
  fi
  echo "marlowick.exe imports only: $(tr '\n' ' ' <<<"$dlls")"
}

wine_binary() {
  local candidate
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; return 0; }
  done
  echo "no wine64 binary found" >&2
  return 1
}

test_windows() {
  install_packages
  local wine
  wine=$(wine_binary)
  prefix=$(mktemp -d /tmp/marlowick-wine.XXXXXX)
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
  # No .NET or HTML engine: their installers would be offered when the prefix is made.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # A fixed Unix locale gives Wine a fixed ANSI code page (1252).
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
  trap 'wineserver_stop; rm -rf "$prefix"' EXIT
  echo "== Wine prefix $prefix"
  "$wine" wineboot --init >/dev/null 2>&1
  ctest --test-dir "$build" --output-on-failure -L windows --timeout 300
  MARLOWICK_WINE=$wine bash tests/win32/e2e.sh "$build/bin/marlowick.exe"
}

wineserver_stop() {
  local server
  for server in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver || true)"; do
    if [ -n "$server" ] && [ -x "$server" ]; then
      "$server" -k 2>/dev/null || true
      "$server" -w 2>/dev/null || true
      return 0
    fi
  done
}

case "$mode" in
  build) build_windows ;;
  test) test_windows ;;
  # Not "build && test": in a function run on the left of && a failing command would not end
  # the script, and the tests would run the programs of an earlier build.
  all)
    build_windows
    test_windows
    ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac
