#!/usr/bin/env bash
# The Windows build: installs what is missing (MinGW-w64, Wine, ftplib's Debian source package),
# cross-builds marlowick.exe and the Windows test programs into build/win-rel, checks that the
# .exe imports nothing but system DLLs, and runs the tests and an end-to-end download under Wine
# in a throw-away Wine prefix. Usage: scripts/windows.sh [build|test] (default: both).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode=${1:-all}
build=$root/build/win-rel
deps=$root/build/win-deps

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

install_packages() {
  local packages=(cmake make dpkg-dev g++-mingw-w64-x86-64-posix libfmt-dev googletest
    wine64 wine python3-pyftpdlib tmux)
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

build_windows() {
  install_packages
  # ftplib, and fmt so that it is compiled once rather than header-only in every file.
  fetch_source ftplib 'ftplib-*/src/ftplib.c'
  fetch_source libfmt-dev 'fmtlib-*/src/format.cc'
  local ftplib fmt
  ftplib=$(dirname "$(compgen -G "$deps/ftplib-*/src/ftplib.c" | head -n1)")
  fmt=$(dirname "$(dirname "$(compgen -G "$deps/fmtlib-*/src/format.cc" | head -n1)")")
  cmake -S . -B "$build" -Wno-dev -DMARLOWICK_WERROR=ON -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DMARLOWICK_BENCH=OFF \
    -DMARLOWICK_FTPLIB_SOURCE="$ftplib" -DMARLOWICK_FMT_SOURCE="$fmt" >/dev/null
  cmake --build "$build" -j"$(nproc)"
  check_imports "$build/bin/marlowick.exe"
}

# A single .exe for any Windows machine: it may import only DLLs that Windows itself ships.
check_imports() {
  local allowed="^(KERNEL32|USER32|SHELL32|ADVAPI32|WS2_32|msvcrt)\.dll$"
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
  all) build_windows && test_windows ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac
