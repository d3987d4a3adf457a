#!/usr/bin/env bash
# Builds the listing-parser fuzzer with Debian's clang (libFuzzer, ASan, UBSan) and runs it for
# SECONDS seconds (default 60). Not part of the default build. Usage: fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build/fuzz
mkdir -p "$out/corpus"
cp -n fuzz/corpus/* "$out/corpus/" 2>/dev/null || true

clang++ -std=c++20 -O1 -g -I. -I/usr/include \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
  fuzz/listparser_fuzz.cpp \
  kestrelkit/net/ftp/ListParser.cpp kestrelkit/net/ftp/FtpLib*.cpp \
  platform/posix/Socket.cpp platform/posix/Clock.cpp platform/posix/Files.cpp \
  /usr/lib/x86_64-linux-gnu/libftp.a -o "$out/listparser_fuzz"

"$out/listparser_fuzz" -max_total_time="$seconds" -max_len=512 -timeout=10 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/corpus"
