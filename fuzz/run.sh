#!/usr/bin/env bash
# Builds one libFuzzer target with Debian's clang (libFuzzer, ASan, UBSan) and runs it for
# SECONDS seconds (default 60), starting from its seed corpus. Not part of the default build.
# Usage: fuzz/run.sh TARGET [SECONDS], TARGET being NAME of fuzz/NAME_fuzz.cpp:
#   listparser   a listing line through the parser and the record conversion
#   pattern      the wildcard matcher and the pattern lists
#   arguments    response-file bytes (any byte-order mark) through the decoder and the parser
#   promptline   a typed line through the prompt's splitting and exit-word test
# Seeds are in fuzz/corpus/NAME/; what the run finds is kept in build/fuzz/NAME/.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz/run.sh TARGET [SECONDS]}
seconds=${2:-60}

case "$target" in
  listparser)
    sources=(kestrelkit/net/ftp/ListParser.cpp kestrelkit/net/ftp/FtpLib*.cpp
      platform/posix/Socket.cpp platform/posix/Clock.cpp platform/posix/Files.cpp
      /usr/lib/x86_64-linux-gnu/libftp.a) ;;
  pattern) sources=(kestrelkit/net/ftp/PatternMatch.cpp util/Text.cpp) ;;
  arguments)
    sources=(util/Arguments.cpp util/Definition.cpp util/Text.cpp marlowick/ResponseFile.cpp
      platform/posix/Encoding.cpp) ;;
  promptline) sources=(marlowick/PromptLine.cpp util/Text.cpp) ;;
  *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac

out=build/fuzz/$target
mkdir -p "$out/corpus"
cp -n "fuzz/corpus/$target"/* "$out/corpus/" 2>/dev/null || true

clang++ -std=c++20 -O1 -g -I. -I/usr/include -Wall -Wextra \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
  "fuzz/${target}_fuzz.cpp" "${sources[@]}" -o "$out/${target}_fuzz"

"$out/${target}_fuzz" -max_total_time="$seconds" -max_len=512 -timeout=10 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/corpus"
