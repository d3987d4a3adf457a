#!/usr/bin/env bash
# The served tree of the end-to-end tests, made once per test run.
#   tree.sh make STATE   unpacks the servers (servers.sh), writes a fresh tree, the same tree
#                        with ASCII names only (tree-ascii) and fresh certificates (certs.sh)
#                        into a new temporary folder and records that folder's path in the
#                        file STATE
#   tree.sh remove STATE removes the folder named in STATE, and STATE itself
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
state=$2
case "$1" in
  make)
    "$here/servers.sh"
    if [ -f "$state" ]; then rm -rf "$(cat "$state")"; fi
    root=$(mktemp -d "${TMPDIR:-/tmp}/marlowick-e2e.XXXXXX")
    chmod 755 "$root"
    /usr/bin/python3 "$here/make_tree.py" "$root/tree"
    /usr/bin/python3 "$here/make_tree.py" "$root/tree-ascii" --ascii
    mkdir "$root/certs"
    "$here/certs.sh" "$root/certs"
    mkdir -p "$(dirname "$state")"
    echo "$root" >"$state"
    ;;
  remove)
    if [ -f "$state" ]; then
      rm -rf "$(cat "$state")"
      rm -f "$state"
    fi
    ;;
  *)
    echo "usage: tree.sh make|remove STATE" >&2
    exit 2
    ;;
esac
