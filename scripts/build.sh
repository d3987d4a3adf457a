#!/usr/bin/env bash
# Configures and builds one configuration: release (default) or asan.
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
case "$config" in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DMARLOWICK_SANITIZE=ON -DMARLOWICK_BENCH=OFF) ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac
cmake -S . -B "build/$config" -Wno-dev -DMARLOWICK_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "build/$config" -j"$(nproc)"
