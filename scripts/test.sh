#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer configurations, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for config in release asan; do
  echo "== $config"
  scripts/build.sh "$config"
  ctest --test-dir "build/$config" --output-on-failure -j"$(nproc)" --timeout 600
done
