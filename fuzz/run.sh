#!/usr/bin/env bash
# Builds one libFuzzer target with Debian's clang (libFuzzer, ASan, UBSan) and runs it for SECONDS
# seconds (default 60). Not part of the default build.
# Usage: fuzz/run.sh NAME [SECONDS]   (NAME: the target fuzz/NAME_fuzz.cpp, e.g. listparser,
# pattern, arguments, promptline, mlsdparser)
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: fuzz/run.sh NAME [SECONDS]}
seconds=${2:-60}
[ -f "fuzz/${name}_fuzz.cpp" ] || { echo "no target fuzz/${name}_fuzz.cpp" >&2; exit 2; }
out=build/fuzz/$name
mkdir -p "$out/corpus"
# A target's own seeds, if it has any (the listing parser's lie in fuzz/corpus itself).
seeds=fuzz/corpus/$name
[ "$name" = listparser ] && seeds=fuzz/corpus
cp -n "$seeds"/* "$out/corpus/" 2>/dev/null || true

# What a target is built from besides its own file.
case "$name" in
  pattern) sources=(kestrelkit/net/ftp/PatternMatch.cpp util/Text.cpp) ;;
  arguments) sources=(util/*.cpp marlowick/ResponseFile.cpp platform/posix/Encoding.cpp) ;;
  promptline) sources=(marlowick/PromptLine.cpp util/Text.cpp) ;;
  *)
    sources=(kestrelkit/net/ftp/*.cpp util/Text.cpp platform/Socket.cpp
      platform/posix/{Socket,Clock,Files,TrustStore}.cpp
      -lssl -lcrypto) ;;
esac
clang++ -std=c++20 -O1 -g -I. \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
  "fuzz/${name}_fuzz.cpp" "${sources[@]}" -o "$out/fuzz"

"$out/fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/corpus"
