# Sourced by the benchmark scripts that serve a tree with pyftpdlib. Needs $repo. Makes $work, a
# temporary folder removed on exit (after the server, if any, is stopped), and start_pyftpd ROOT,
# which serves ROOT to user "user", password "secret", on 127.0.0.1 and sets $port.
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

start_pyftpd() {
  "$python" "$repo/tests/support/pyftpd.py" "$1" --user user --password secret \
    >"$work/port" 2>/dev/null &
  server_pid=$!
  for _ in $(seq 100); do
    [[ -s $work/port ]] && break
    sleep 0.1
  done
  port=$(head -n1 "$work/port")
  [[ -n $port ]] || { echo "the server did not start" >&2; exit 1; }
}
