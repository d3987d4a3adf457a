#!/usr/bin/env bash
# marlowick over a broken link: the small tree (2,001 files) from the shared harness's vsftpd on
# 127.0.0.1, once directly, then RUNS times through bench/delay_proxy.py in chaos mode (no delay;
# 2 % of connections, control or data, cut and 1 % stalled for 60 s; run N uses seed N, so a run
# meets the same faults each time). Each run goes into an empty folder and is checked file by
# file against the served tree (marlowick does not make the tree's two empty folders, so only
# files are compared) and by the count in marlowick's closing line " N files saved to ...".
# Prints a Markdown table; exits 1 if the clean run or any chaos run did not copy the whole tree.
#
# Usage: bench/chaos_bench.sh [RUNS]   (default 5)
# Environment: MARLOWICK (default build/release/bin/marlowick), HARNESS (default ../shared/bench
# beside the repository), DATA_DIR (where the tree is made, or found, and kept), TIMEOUT
# (marlowick's --timeout in seconds, default 5), EXTRA_ARGS (more marlowick arguments, split on
# blanks). Needs root (vsftpd).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
harness=${HARNESS:-$repo/../shared/bench}
marlowick=$(realpath "${MARLOWICK:-$repo/build/release/bin/marlowick}")
runs=${1:-5}
read -r -a extra <<<"${EXTRA_ARGS:-}"
die() { echo "chaos_bench.sh: $*" >&2; exit 2; }
[[ $runs =~ ^[0-9]+$ ]] || die "usage: $0 [RUNS]"
[[ ${TIMEOUT:-5} =~ ^[0-9]+$ ]] || die "TIMEOUT must be a whole number of seconds"
[ -x "$harness/make_tree.sh" ] || die "no harness at $harness (set HARNESS)"
[ -x "$marlowick" ] || die "no marlowick binary at $marlowick (set MARLOWICK)"
export LC_ALL=C.UTF-8

work=$(mktemp -d -t chaosbench.XXXXXX)
chmod 755 "$work"  # vsftpd's user must reach the tree when it lies in here
data=${DATA_DIR:-$work/data}
mkdir -p "$data"
data=$(cd "$data" && pwd -P)
src=$data/small
proxy_pid=
run_pid=

stop_proxy() {  # SIGTERM makes the proxy print its summary; a stuck one is killed after 5 s
  [ -n "$proxy_pid" ] || return 0
  kill "$proxy_pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$proxy_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$proxy_pid" 2>/dev/null || true
  wait "$proxy_pid" 2>/dev/null || true
  proxy_pid=
}
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  if [ -n "$run_pid" ]; then
    kill "$run_pid" 2>/dev/null || true
    wait "$run_pid" 2>/dev/null || true
  fi
  stop_proxy
  "$harness/ftpserver.sh" stop "$src" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_proxy() {  # start_proxy SEED LOG: sets proxy_pid and proxy_port
  rm -f "$work/proxy.port"
  /usr/bin/python3 "$repo/bench/delay_proxy.py" --upstream "$server_port" --delay-ms 0 \
    --cut-percent 2 --stall-percent 1 --stall-seconds 60 --seed "$1" \
    --port-file "$work/proxy.port" --lifetime 3600 >/dev/null 2>"$2" &
  proxy_pid=$!
  for _ in $(seq 50); do [ -s "$work/proxy.port" ] && break; sleep 0.1; done
  proxy_port=$(cat "$work/proxy.port" 2>/dev/null || true)
  [[ $proxy_port =~ ^[0-9]+$ ]] || die "the proxy did not start: $(tail -c 300 "$2")"
}

listing() {  # listing DIR: path and SHA-256 of every file, in a fixed order
  (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
}

run() {  # run NAME PORT: one copy into an empty folder; sets secs, status, last, saved, whole
  local dest=$work/$1 out=$work/$1.out start
  mkdir "$dest"
  start=$(date +%s.%N)
  status=0
  # in the background, so that a signal to this script is handled at once, not after the run
  timeout 900 "$marlowick" --host=127.0.0.1 --port="$2" --username=bench --password=bench \
    --local="$dest/" --recurse=true --timeout="${TIMEOUT:-5}" ${extra[@]+"${extra[@]}"} \
    </dev/null >"$out" 2>&1 &
  run_pid=$!
  wait "$run_pid" || status=$?
  run_pid=
  secs=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
  last=$(tail -n 1 "$out")
  saved=$(sed -nE 's/^ *([0-9]+) files? saved to .*/\1/p' <<<"$last")
  local differ
  listing "$dest" >"$work/got.sha"
  differ=$(diff "$work/want.sha" "$work/got.sha" | grep -c '^<' || true)
  whole=no
  if cmp -s "$work/want.sha" "$work/got.sha" && [ "${saved:-}" = "$files" ]; then whole=yes; fi
  echo "$1: ${secs} s, exit $status, $differ of $files files missing or different;" \
       "last line: '$last'" >&2
  rm -rf "$dest"
}

[ -d "$src" ] || "$harness/make_tree.sh" "$src" small >&2
files=$(find "$src" -type f -printf . | wc -c)
listing "$src" >"$work/want.sha"
server_port=$("$harness/ftpserver.sh" start "$src" vsftpd)
echo "marlowick: $marlowick; $files files served on port $server_port; $runs chaos run(s)" >&2

rows=
failed=0
row() {  # row RUN SEED CONNECTIONS CUTS STALLS: the table's row for the run just made
  rows+="| $1 | $2 | $secs | $status | $3 | $4 | $5 | ${saved:-?} | $whole |"$'\n'
  [ "$whole" = yes ] || failed=1
}

run clean "$server_port"
row clean - - - -
for i in $(seq "$runs"); do
  log=$work/proxy$i.log
  start_proxy "$i" "$log"
  run "run$i" "$proxy_port"
  stop_proxy
  connections=$(sed -nE 's/^chaos: ([0-9]+) connections, .*/\1/p' "$log")
  cuts=$(grep -c '^chaos: cut ' "$log" || true)
  stalls=$(grep -c '^chaos: stalled ' "$log" || true)
  sed "s/^/run$i: /" "$log" >&2
  # anything else from the proxy (a traceback, or no summary) would make the counts doubtful
  if grep -qv '^chaos: ' "$log" || [ -z "$connections" ]; then
    echo "run$i: the proxy's log is not only its fault reports and summary" >&2
  fi
  row "$i" "$i" "${connections:-?}" "$cuts" "$stalls"
done

echo "| run | seed | seconds | exit | connections | cuts | stalls |" \
     "files saved (of $files) | whole |"
echo "|---|---|---|---|---|---|---|---|---|"
printf '%s' "$rows"
exit "$failed"
