#!/usr/bin/env bash
# Times a recursive scan against a real pyftpdlib server on 127.0.0.1 serving FOLDERS folders of
# FILES files each, next to the floor: the same LIST round trips made by Python's ftplib on one
# connection, with nothing else in between.
#
# Usage: bench/scan_server_bench.sh [path/to/scan_bench] [FOLDERS] [FILES] [ROUNDS]
# The scan_bench program comes from a release build (default build/release/bench/scan_bench).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$repo/build/release/bench/scan_bench}
folders=${2:-100}
files=${3:-100}
rounds=${4:-10}
# shellcheck source=bench/pyftpd_server.sh
source "$repo/bench/pyftpd_server.sh"

"$python" - "$work/root" "$folders" "$files" <<'EOF'
import os, sys
root, folders, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for f in range(folders):
    folder = os.path.join(root, "folder%03d" % f)
    os.makedirs(folder)
    for i in range(files):
        with open(os.path.join(folder, "file%03d.txt" % i), "wb") as out:
            out.write(b"x" * (i % 7))
EOF

start_pyftpd "$work/root"
echo "tree: $folders folders x $files files, pyftpdlib on 127.0.0.1:$port"

"$python" - "$port" "$folders" "$rounds" <<'EOF'
import ftplib, statistics, sys, time
port, folders, rounds = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
paths = [""] + ["folder%03d" % f for f in range(folders)]
ftp = ftplib.FTP()
ftp.connect("127.0.0.1", port, timeout=30)
ftp.login("user", "secret")
totals = []
for _ in range(rounds + 1):  # the first round warms up
    total = 0.0
    for path in paths:
        lines = []
        start = time.perf_counter()
        ftp.retrlines("LIST " + path if path else "LIST", lines.append)
        total += time.perf_counter() - start
    totals.append(total)
ftp.quit()
totals = totals[1:]
median = statistics.median(totals)
print("python ftplib, sum of %d LIST round trips: median %.1f ms (min %.1f, max %.1f) over %d"
      " rounds, %.3f ms per LIST" % (len(paths), median * 1e3, min(totals) * 1e3,
                                     max(totals) * 1e3, rounds, median * 1e3 / len(paths)))
EOF

SCAN_BENCH_PORT=$port "$bench" --benchmark_filter=BM_ScanServer \
  --benchmark_repetitions="$rounds" --benchmark_report_aggregates_only=true
