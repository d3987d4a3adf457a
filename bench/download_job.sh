#!/usr/bin/env bash
# Times the download job against a real pyftpdlib server on 127.0.0.1: 2,000 files of 4 KiB, one
# file of 1 GiB (sparse on the server side), and the peak memory of a scan of 100,000 entries in
# one folder (records only). Next to each download, the floor: Python's ftplib fetching the same
# files on one connection.
#
# Usage: bench/download_job.sh [path/to/download_bench]
# The download_bench program comes from a release build (default build/release/bench/).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$repo/build/release/bench/download_bench}
# shellcheck source=bench/pyftpd_server.sh
source "$repo/bench/pyftpd_server.sh"

mkdir -p "$work/root/small" "$work/root/big" "$work/root/many" "$work/dest"
"$python" - "$work/root" <<'PY'
import os, sys
root = sys.argv[1]
for i in range(2000):
    with open(os.path.join(root, "small", "file%04d.bin" % i), "wb") as out:
        out.write(os.urandom(4096))
for i in range(100000):
    open(os.path.join(root, "many", "entry%06d.txt" % i), "wb").close()
PY
truncate -s 1G "$work/root/big/one.bin"

start_pyftpd "$work/root"
echo "pyftpdlib on 127.0.0.1:$port; small/ 2,000 x 4 KiB, big/ 1 GiB, many/ 100,000 entries"

echo "== download job"
MARLOWICK_BENCH_PORT=$port MARLOWICK_BENCH_DEST=$work/dest "$bench" \
  --benchmark_filter='Download' --benchmark_counters_tabular=true

echo "== scan of many/ alone, in a process of its own"
MARLOWICK_BENCH_PORT=$port /usr/bin/time -f 'whole process: %M KiB peak resident, %e s' \
  "$bench" --benchmark_filter='Scan' --benchmark_counters_tabular=true

echo "== floor: Python ftplib, one connection, TYPE I + RETR per file into the same disk"
"$python" - "$port" "$work/dest" <<'PY'
import ftplib, os, shutil, sys, time
port, dest = int(sys.argv[1]), sys.argv[2]
ftp = ftplib.FTP()
ftp.connect("127.0.0.1", port, timeout=60)
ftp.login("user", "secret")
for folder in ("small", "big"):
    names = sorted(folder + "/" + os.path.basename(n) for n in ftp.nlst(folder))
    times = []
    for round in range(2):
        target = os.path.join(dest, "floor-" + folder)
        os.makedirs(target)
        start = time.perf_counter()
        for name in names:
            with open(os.path.join(target, os.path.basename(name)), "wb") as out:
                ftp.retrbinary("RETR " + name, out.write, blocksize=1 << 16)
        times.append(time.perf_counter() - start)
        shutil.rmtree(target)
    print("%-6s %5d files: best of 2 %.0f ms" % (folder, len(names), min(times) * 1000))
ftp.quit()
PY
