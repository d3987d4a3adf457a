#!/usr/bin/env bash
# End-to-end run of the Windows program under Wine against a real FTP server on 127.0.0.1
# (pyftpdlib): a copy of marlowick.exe alone in a folder downloads a tree into a Windows path.
# Checked: the files byte for byte, the console lines and their "\r\n" ends, the log file at its
# Windows place under the Wine prefix, the three shortcut files beside the .exe, a response file
# named by an absolute Windows path, typed requests on redirected input, and on a terminal (a
# real console under Wine) typed text, the title and Ctrl+C.
# Usage (WINEPREFIX set and initialised): MARLOWICK_WINE=/usr/lib/wine/wine64 e2e.sh marlowick.exe
set -euo pipefail
exe=$1
wine=${MARLOWICK_WINE:?the wine64 binary}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/marlowick-e2e.XXXXXX)
server_pid=""
cleanup() {
  local status=$?
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

failures=0
checks=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  checks=$((checks + 1))
  "$@" || fail "$what"
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# True when every line end in the file is CR LF (a last line without one, a prompt, is fine).
all_crlf() { /usr/bin/python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); sys.exit(d.count(b"\n") != d.count(b"\r\n") or not d)' "$1"; }
has_line() { grep -qxF -- "$2"$'\r' "$1"; }

# The served tree: a top-level file, nested folders, an empty file, a binary file and a name in
# UTF-8 that the program reads in the ANSI code page (the server does not take OPTS UTF8 ON).
srv=$work/server
mkdir -p "$srv/sub/deeper" "$srv/empty"
printf 'top level\n' >"$srv/a.txt"
head -c 300000 /dev/urandom >"$srv/sub/photo.bin"
: >"$srv/sub/zero.dat"
printf 'deep\r\nline two\n' >"$srv/sub/deeper/c.txt"
printf 'caf\xc3\xa9 au lait\n' >"$srv/caf$(printf '\xc3\xa9').txt"

/usr/bin/python3 "$here/../support/pyftpd.py" "$srv" --user user --password secret \
  >"$work/port" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n1 "$work/port")
[ -n "$port" ] || { echo "the FTP server did not start" >&2; cat "$work/server.err" >&2; exit 1; }

app=$work/app
mkdir -p "$app" "$work/dl" "$work/dl2" "$work/dl3"
cp "$exe" "$app/marlowick.exe"
run() {  # run NAME [ARG...] (standard input from $work/NAME.in when present)
  local name=$1 input=/dev/null
  shift
  [ -f "$work/$name.in" ] && input=$work/$name.in
  local status=0
  (cd "$work" && timeout 120 "$wine" "$app/marlowick.exe" "$@") <"$input" >"$work/$name.out" \
    2>"$work/$name.err" || status=$?
  check "$name: exit status 0 (was $status)" test "$status" -eq 0
  check "$name: every console line ends with CR LF" all_crlf "$work/$name.out"
}
started=$(date +%s)

# 1. Recursive download from the command line into a backslash path.
dl=$(winpath "$work/dl")
run recursive --host=127.0.0.1 --port="$port" --username=user --password=secret \
  "--local=$dl" --recurse=true
out=$work/recursive.out
check "recursive: connect line" has_line "$out" " Connecting 127.0.0.1 ..."
check "recursive: connected line" has_line "$out" " Connected to 127.0.0.1"
mojibake=$(printf 'caf\xc3\x83\xc2\xa9.txt')  # "café" read as Windows-1252, in UTF-8
for name in 'a.txt' 'sub\photo.bin' 'sub\zero.dat' 'sub\deeper\c.txt' "$mojibake"; do
  check "recursive: announces $name" grep -qE "^ Downloading $(sed 's/[\\.]/\\&/g' <<<"$name") [1-5]/5 \.\.\."$'\r$' "$out"
done
check "recursive: files-saved line" has_line "$out" " 5 files saved to $dl\\"
for file in a.txt sub/photo.bin sub/zero.dat sub/deeper/c.txt; do
  check "recursive: $file arrived unchanged" cmp -s "$srv/$file" "$work/dl/$file"
done
check "recursive: the ANSI-read name arrived unchanged" \
  cmp -s "$srv/caf$(printf '\xc3\xa9').txt" "$work/dl/$mojibake"
check "recursive: no temporary file left" test -z "$(find "$work/dl" -name '*.marlowick-part*')"

# The log at %APPDATA%\Orvendel\Marlowick\log.txt inside the prefix.
log=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Roaming/Orvendel/Marlowick/log.txt' | head -n1)
check "log file under the roaming application folder" test -n "$log"
if [ -n "$log" ]; then
  check "log: every line ends with CR LF" all_crlf "$log"
  check "log: line layout" grep -qE \
    '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2},[0-9]{3} Info   Marlowick -  Connected to 127\.0\.0\.1'$'\r$' "$log"
  check "log: files-saved line" grep -qF "Info   Marlowick -  5 files saved to $dl\\"$'\r' "$log"
  check "log: console-only lines stay out" bash -c "! grep -q 'Connecting' '$log'"
fi

# Shortcut files beside the program, and nothing else but them and the program.
for name in Marlowick_Home How_to_Marlowick Command_Line_Ftp; do
  file=$app/$name.url
  check "shortcut $name.url written" test -f "$file"
  [ -f "$file" ] || continue
  check "shortcut $name.url: header" grep -qx $'\\[InternetShortcut\\]\r' "$file"
  check "shortcut $name.url: page address" grep -qE '^URL=https?://[^ ]+\?utm_source=shortcut'$'.*\r$' "$file"
  check "shortcut $name.url: icon in the system folder" \
    grep -qxiF 'IconFile=C:\windows\system32\url.dll'$'\r' "$file"
  check "shortcut $name.url: no line end after the last line" test "$(tail -c 7 "$file")" = "HotKey="
done
check "only the program and its shortcuts beside it" \
  test "$(cd "$app" && ls | sort | tr '\n' ' ')" = \
  "Command_Line_Ftp.url How_to_Marlowick.url Marlowick_Home.url marlowick.exe "

# 2. A response file named by an absolute Windows path; "/" in the local folder becomes "\".
# Active mode: the server connects back to a port ftplib listens on through Winsock.
printf '%s\r\n' --host=127.0.0.1 "--port=$port" --username=user --password=secret \
  "--local=Z:${work}/dl2" '--include=*.txt' --passive=false >"$work/job.txt"
run response "@$(winpath "$work/job.txt")"
dl2=$(winpath "$work/dl2")
check "response: files-saved line with backslashes" has_line "$work/response.out" \
  " 2 files saved to $dl2\\"
check "response: a.txt arrived" cmp -s "$srv/a.txt" "$work/dl2/a.txt"
check "response: not recursive" test ! -e "$work/dl2/sub"

# 3. Typed requests on redirected input, with CR LF line ends as a Windows pipe gives them.
dl3=$(winpath "$work/dl3")
printf '%s\r\n' 'help me' "--host=127.0.0.1 --port=$port --username=user --password=secret --local=$dl3" \
  'exit' >"$work/typed.in"
run typed
out=$work/typed.out
check "typed: prompt shown" grep -qF ' Marlowick>' "$out"
check "typed: two tokens are a request" grep -qF 'host required but was not discovered'$'\r' "$out"
check "typed: request downloaded" grep -qF " 2 files saved to $dl3\\"$'\r' "$out"
check "typed: a.txt arrived" cmp -s "$srv/a.txt" "$work/dl3/a.txt"

# 4. On a terminal, which Wine turns into a real console: UTF-16 console reads and writes, the
# console title, and Ctrl+C, which writes the missing shortcut files and leaves the program
# running. tmux plays the terminal; every wait is bounded.
if command -v tmux >/dev/null; then
  app2=$work/app2
  mkdir -p "$app2"
  cp "$exe" "$app2/marlowick.exe"
  session=marlowick-wine-$$
  # A server of its own, apart from any other tmux on the machine.
  tm() { tmux -L "$session" "$@"; }
  screen() { tm capture-pane -p -t "$session" 2>/dev/null; }
  wait_for() {  # wait_for TEXT: true once TEXT is on the screen, false after 20 seconds
    local _
    for _ in $(seq 200); do
      screen | grep -qF -- "$1" && return 0
      sleep 0.1
    done
    return 1
  }
  tm new-session -d -s "$session" -x 160 -y 40 \
    "cd '$work' && '$wine' '$app2/marlowick.exe'; echo \"status=\$?\"; sleep 60"
  check "terminal: banner and prompt" wait_for " Marlowick>"
  check "terminal: console title" test "$(tm display -p -t "$session" '#{pane_title}')" = Marlowick
  tm send-keys -t "$session" -l -- "--host=127.0.0.1 --username=user --password=secret \
--local=$(winpath "$work") --passive=na$(printf '\xc3\xaf')ve"
  tm send-keys -t "$session" Enter
  check "terminal: typed non-ASCII text comes back unchanged" \
    wait_for "Invalid passive value: na$(printf '\xc3\xaf')ve"
  # Ctrl+C once the program waits at the prompt again (a key pressed while the console is not
  # being read may be taken as input); pressed up to three times, as a user would.
  wait_for "valid value is true or false"$'\n'" Marlowick>" || true
  for _ in 1 2 3; do
    sleep 0.5
    tm send-keys -t "$session" C-c
    for _ in $(seq 50); do [ -f "$app2/Command_Line_Ftp.url" ] && break; sleep 0.1; done
    [ -f "$app2/Command_Line_Ftp.url" ] && break
  done
  check "terminal: Ctrl+C writes the shortcut files" test -f "$app2/Command_Line_Ftp.url"
  tm send-keys -t "$session" -l version
  tm send-keys -t "$session" Enter
  check "terminal: still running after Ctrl+C" wait_for "Type help for the arguments, exit to leave."$'\n'" Marlowick>"
  tm send-keys -t "$session" -l exit
  tm send-keys -t "$session" Enter
  check "terminal: exit word ends the program with status 0" wait_for "status=0"
  screen >"$work/terminal.out" || true
  tm kill-server 2>/dev/null || true
fi

if ((failures)); then
  for name in recursive response typed terminal; do
    echo "--- $name.out" >&2
    cat -A "$work/$name.out" >&2 || true
  done
fi
echo "Windows end-to-end under Wine took $(($(date +%s) - started)) s"
echo "wine-e2e: $((checks - failures)) passed, $failures failed"
((failures == 0))
