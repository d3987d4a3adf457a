#!/usr/bin/env bash
# The main job against an embedded default: installs what is missing, builds, starts a local
# FTP server on 127.0.0.1 with sample files, downloads them all with marlowick into
# demo/download, shows the result and stops the server. Ends with status 0 when every file matches.
# MARLOWICK_DEMO_BINARY (a built program: nothing is installed or built) and MARLOWICK_DEMO_DIR
# (instead of demo/) let the tests run it.
set -euo pipefail
cd "$(dirname "$0")/.."
binary=${MARLOWICK_DEMO_BINARY:-}
if [ -z "$binary" ]; then
  scripts/deps.sh
  scripts/build.sh release >/dev/null
  binary=build/release/bin/marlowick
fi

demo=${MARLOWICK_DEMO_DIR:-$PWD/demo}
rm -rf "$demo"
mkdir -p "$demo/server/docs/guides" "$demo/server/images" "$demo/server/empty" "$demo/download"
printf 'Welcome to the Marlowick demo.\n' >"$demo/server/README.txt"
printf 'Release notes\n' >"$demo/server/docs/notes.txt"
printf 'How to get started\n' >"$demo/server/docs/guides/start here.txt"
printf 'caf\xc3\xa9 au lait\n' >"$demo/server/docs/"$'caf\xc3\xa9.txt'
head -c 300000 /dev/urandom >"$demo/server/images/photo.bin"
: >"$demo/server/empty.dat"

port_file=$(mktemp)
/usr/bin/python3 tests/support/pyftpd.py "$demo/server" --user demo --password demo >"$port_file" &
server=$!
# The server ends by the signal, so its status is not 0: under set -e that status would end the
# trap early, leave the port file behind and become the script's own.
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -f "$port_file"' EXIT
for _ in $(seq 100); do [ -s "$port_file" ] && break; sleep 0.1; done
port=$(head -n1 "$port_file")
echo "FTP server with sample files on 127.0.0.1:$port"

export HOME=${HOME:-$demo}
"$binary" --host=127.0.0.1 --port="$port" --username=demo --password=demo \
  --local="$demo/download" --recurse=true

echo
echo "Downloaded into $demo/download:"
(cd "$demo/download" && find . -type f | sort | sed 's|^\./|  |')
status=0
while IFS= read -r -d '' file; do
  cmp -s "$demo/server/$file" "$demo/download/$file" || { echo "differs: $file" >&2; status=1; }
done < <(cd "$demo/server" && find . -type f -print0)
[ $status -eq 0 ] && echo "Every file matches the server's copy byte for byte."
exit $status
