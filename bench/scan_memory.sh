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
python=/usr/bin/python3  # the interpreter that has pyftpdlib

work=$(mktemp -d)
server_pid=
cleanup() {
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root/many"
"$python" - "$work/root/many" "$count" "$folders" <<'PY'
import os, sys
root, count, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    folder = root if folders == 1 else os.path.join(root, "d%04d" % (i % folders))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "entry%06d.txt" % i), "wb").close()
PY
"$python" "$repo/tests/support/pyftpd.py" "$work/root" --user user --password secret \
  >"$work/port" 2>/dev/null &
server_pid=$!
for _ in $(seq 100); do
  [[ -s $work/port ]] && break
  sleep 0.1
done
port=$(head -n1 "$work/port")
[[ -n $port ]] || { echo "the server did not start" >&2; exit 1; }
echo "pyftpdlib on 127.0.0.1:$port; many/ holds $count entries in $folders folder(s)"
MARLOWICK_BENCH_PORT=$port "$bench" --benchmark_counters_tabular=true
