#!/usr/bin/env bash
# Peak heap of the job's scan of 100,000 entries (COUNT), in one folder or spread over FOLDERS
# subfolders, against the size of the selected records, served by pyftpdlib on 127.0.0.1.
#
# Usage: bench/scan_memory.sh [path/to/scan_memory_bench]   (default: build/release/bench/)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$repo/build/release/bench/scan_memory_bench}
count=${COUNT:-100000}
folders=${FOLDERS:-1}
# shellcheck source=bench/pyftpd_server.sh
source "$repo/bench/pyftpd_server.sh"

mkdir -p "$work/root/many"
"$python" - "$work/root/many" "$count" "$folders" <<'PY'
import os, sys
root, count, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    folder = root if folders == 1 else os.path.join(root, "d%04d" % (i % folders))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "entry%06d.txt" % i), "wb").close()
PY
start_pyftpd "$work/root"
echo "pyftpdlib on 127.0.0.1:$port; many/ holds $count entries in $folders folder(s)"
MARLOWICK_BENCH_PORT=$port "$bench" --benchmark_counters_tabular=true
