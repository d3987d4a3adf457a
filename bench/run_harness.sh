#!/usr/bin/env bash
# Runs the shared FTP benchmark harness (lftp, wget, ncftpget, curl and the references against
# vsftpd on 127.0.0.1) with marlowick as one more row, for the profiles that matter here:
#
#   small    2,001 small files on one connection (the default)
#   small2   the same with --connections=2
#   small4   the same with --connections=4
#   small8   the same with --connections=8
#   big      two big files (1 GiB and 300 MiB)
#
# Usage: bench/run_harness.sh [PROFILE...]   (default: small small4 big)
# Environment: MARLOWICK (default build/release/bin/marlowick), HARNESS (default: the shared
# harness beside the repository), RESULTS (default $TMPDIR/marlowick-bench/<UTC>), DATA_DIR
# (keep the generated trees there between runs), RUNS_SMALL / RUNS_BIG (rounds, harness
# defaults 7 and 5), FTP_TLS=1 (everything over TLS, see the harness). Each profile is one
# harness run: the ratios in its summary compare peers timed in the same interleaved rounds.
# Needs root (vsftpd) and
#   apt-get install -y lftp wget ncftp curl vsftpd python3-pyftpdlib
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
harness=${HARNESS:-$repo/../shared/bench}
marlowick=$(realpath "${MARLOWICK:-$repo/build/release/bin/marlowick}")
results=${RESULTS:-${TMPDIR:-/tmp}/marlowick-bench/$(date -u +%Y%m%dT%H%M%SZ)}
[ -x "$harness/run_peers.sh" ] || { echo "no harness at $harness (set HARNESS)" >&2; exit 1; }
[ -x "$marlowick" ] || { echo "no marlowick binary at $marlowick (set MARLOWICK)" >&2; exit 1; }

# The harness pastes the binary's path into its commands and vsftpd's user must reach the data:
# run a copy from a plain world-readable folder.
bin=$(mktemp -d -t mwbin.XXXXXX)
trap 'rm -rf "$bin"' EXIT
chmod 755 "$bin"
cp "$marlowick" "$bin/marlowick"

profiles=("$@")
[ ${#profiles[@]} -gt 0 ] || profiles=(small small4 big)
mkdir -p "$results"
for profile in "${profiles[@]}"; do
  case $profile in
    small) tree=small args="" ;;
    small2) tree=small args="--connections=2" ;;
    small4) tree=small args="--connections=4" ;;
    small8) tree=small args="--connections=8" ;;
    big) tree=big args="" ;;
    *) echo "unknown profile $profile (small|small2|small4|small8|big)" >&2; exit 2 ;;
  esac
  # With FTP_TLS=1 the server requires TLS; like the peers, marlowick does not check its
  # self-signed certificate.
  [ "${FTP_TLS:-0}" = 1 ] && args="$args --secure=true --verify=false"
  echo "== $profile: marlowick $args" >&2
  MARLOWICK="$bin/marlowick" MARLOWICK_ARGS="$args" RESULTS_DIR="$results/$profile" \
    "$harness/run_peers.sh" "$tree"
done
python3 "$repo/bench/ratios.py" "$results"/*/runs.tsv | tee "$results/ratios.md"
echo "results: $results" >&2
