#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer configurations, runs every test.
# The end-to-end tests against real FTP servers (label e2e) run in the release configuration
# only, which keeps the whole run within the time CI allows. Last, the Windows build: cross-built
# with MinGW-w64 and tested under Wine (scripts/windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for config in release asan; do
  echo "== $config"
  scripts/build.sh "$config"
  labels=()
  [ "$config" = asan ] && labels=(-LE e2e)
  ctest --test-dir "build/$config" --output-on-failure -j"$(nproc)" --timeout 600 "${labels[@]}"
done
echo "== windows"
scripts/windows.sh
