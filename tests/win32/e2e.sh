#!/usr/bin/env bash
# End-to-end run of the Windows program under Wine against a real FTP server on 127.0.0.1
# (pyftpdlib): a copy of marlowick.exe alone in a folder downloads a tree into a Windows path.
# Checked: the files byte for byte, the console lines and their "\r\n" ends, the log file at its
# Windows place under the Wine prefix, the three shortcut files beside the .exe, a response file
# named by an absolute Windows path, typed requests on redirected input, downloads over explicit
# TLS (1.3 with the certificate checked against a --cafile, 1.2 unchecked, and the refusal of a
# certificate nothing vouches for), and on a terminal (a real console under Wine) typed text, the
# title and Ctrl+C.
# Usage (WINEPREFIX set and initialised): MARLOWICK_WINE=/usr/lib/wine/wine64 e2e.sh marlowick.exe
set -euo pipefail
exe=$1
wine=${MARLOWICK_WINE:?the wine64 binary}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/marlowick-e2e.XXXXXX)
server_pids=()
cleanup() {
  local status=$? pid
  for pid in "${server_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
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

start_server() {  # start_server NAME COMMAND...: served_port, the port it prints within 20 s
  local name=$1 _
  shift
  "$@" >"$work/$name.port" 2>"$work/$name.err" &
  server_pids+=($!)
  for _ in $(seq 200); do [ -s "$work/$name.port" ] && break; sleep 0.1; done
  served_port=$(head -n1 "$work/$name.port")
}
start_server server /usr/bin/python3 "$here/../support/pyftpd.py" "$srv" --user user \
  --password secret
port=$served_port
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

# 4. Over explicit TLS, from servers that refuse anything unencrypted, login and data alike.
# An RSA CA made now signs the server's ECDSA certificate; pyftpdlib (Debian's python with
# python3-openssl) notes the protocol and cipher of every handshake, control and data.
tls=$work/tls
mkdir -p "$tls" "$work/dl4" "$work/dl5" "$work/dl6"
(
  cd "$tls"
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out ca.key
  openssl req -x509 -new -key ca.key -days 1 -subj "/CN=Marlowick Wine test CA" -out ca.pem \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out server.key
  openssl req -new -key server.key -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 |
    openssl x509 -req -CA ca.pem -CAkey ca.key -days 1 -copy_extensions copy -out server.pem
) >"$work/certs.log" 2>&1 || { cat "$work/certs.log" >&2; exit 1; }
cat >"$tls/server.py" <<'PY'
import logging
import sys
from OpenSSL import SSL
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

root, cert, key, newest, notes = sys.argv[1:6]
logging.basicConfig(level=logging.CRITICAL)
def report(handler):
    with open(notes, "a") as out:
        print(handler.socket.get_protocol_version_name(), handler.socket.get_cipher_name(), file=out)
class Data(TLS_DTPHandler):
    handle_ssl_established = report
class Control(TLS_FTPHandler):
    certfile, keyfile, dtp_handler = cert, key, Data
    tls_control_required = tls_data_required = True
    handle_ssl_established = report
Control.authorizer = DummyAuthorizer()
Control.authorizer.add_user("user", "secret", root, perm="elr")
if newest == "1.2":
    # The other usual cipher where TLS 1.3 picks AES-GCM.
    Control.get_ssl_context().set_max_proto_version(SSL.TLS1_2_VERSION)
    Control.get_ssl_context().set_cipher_list(b"ECDHE-ECDSA-CHACHA20-POLY1305")
server = FTPServer(("127.0.0.1", 0), Control)
print(server.address[1], flush=True)
server.serve_forever(timeout=0.5)
PY
tls_server() {  # tls_server NEWEST-VERSION: served_port
  start_server "tls$1" /usr/bin/python3 "$tls/server.py" "$srv" "$tls/server.pem" \
    "$tls/server.key" "$1" "$work/tls$1.notes"
}
tls_server 1.3
tls13=$served_port
tls_server 1.2
tls12=$served_port
if [ -z "$tls13" ] || [ -z "$tls12" ]; then
  fail "tls: a TLS server did not start: $(cat "$work/tls1.3.err" "$work/tls1.2.err")"
else
  tls_tree() {  # tls_tree NAME FOLDER: the tree arrived unchanged
    local file
    for file in a.txt sub/photo.bin sub/zero.dat sub/deeper/c.txt; do
      check "$1: $file arrived unchanged" cmp -s "$srv/$file" "$2/$file"
    done
  }
  handshakes() {  # handshakes NOTES TEXT: every handshake, at least 5, was TEXT
    test "$(grep -cxF "$2" "$1")" -ge 5 && ! grep -qvxF "$2" "$1"
  }
  run tls13 --host=127.0.0.1 --port="$tls13" --username=user --password=secret --secure=true \
    "--cafile=$(winpath "$tls/ca.pem")" "--local=$(winpath "$work/dl4")" --recurse=true
  check "tls13: files-saved line" has_line "$work/tls13.out" " 5 files saved to $(winpath "$work/dl4")\\"
  tls_tree tls13 "$work/dl4"
  check "tls13: control and data over TLS 1.3" \
    handshakes "$work/tls1.3.notes" "TLSv1.3 TLS_AES_256_GCM_SHA384"
  # Active mode, TLS 1.2 with ChaCha20-Poly1305, and no check of the certificate.
  run tls12 --host=127.0.0.1 --port="$tls12" --username=user --password=secret --secure=true \
    --verify=false "--local=$(winpath "$work/dl5")" --recurse=true --passive=false
  check "tls12: the unchecked certificate is said" \
    has_line "$work/tls12.out" " the server's certificate is not checked (--verify=false)"
  tls_tree tls12 "$work/dl5"
  check "tls12: control and data over TLS 1.2" \
    handshakes "$work/tls1.2.notes" "TLSv1.2 ECDHE-ECDSA-CHACHA20-POLY1305"
  # Without --cafile nothing vouches for the test CA: Windows' root store (Wine's) does not.
  run untrusted --host=127.0.0.1 --port="$tls13" --username=user --password=secret \
    --secure=true "--local=$(winpath "$work/dl6")"
  check "untrusted: refused with the reason" has_line "$work/untrusted.out" \
    "Unable to connect to 127.0.0.1 certificate verify failed: unable to get local issuer certificate"
  check "untrusted: nothing downloaded" test -z "$(ls -A "$work/dl6")"
fi

# 5. Names a Unix server holds apart that Windows cannot: two differing only in letter case
# end in one local file, and a colon would name a hidden stream. The first of the pair is saved,
# the second and the colon fail with their reasons and are not counted.
odd=$work/odd
mkdir -p "$odd" "$work/dl7"
printf 'upper\n' >"$odd/Same.txt"
printf 'lower\n' >"$odd/same.txt"
printf 'noon\n' >"$odd/at 12:00.log"
start_server odd /usr/bin/python3 "$here/../support/pyftpd.py" "$odd" --user user --password secret
dl7=$(winpath "$work/dl7")
run odd --host=127.0.0.1 --port="$served_port" --username=user --password=secret "--local=$dl7"
check "odd: one of the pair saved" has_line "$work/odd.out" " 1 files saved to $dl7\\"
check "odd: the other one fails" grep -qE '^Download (S|s)ame\.txt failed: another remote name of this job has the same local name'$'\r$' "$work/odd.out"
check "odd: the colon fails" grep -qF 'Download at 12:00.log failed: ' "$work/odd.out"
saved=$(ls "$work/dl7")
check "odd: the saved file holds its own bytes, not the other's" cmp -s "$odd/$saved" "$work/dl7/$saved"

# 6. On a terminal, which Wine turns into a real console: UTF-16 console reads and writes, the
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
  for name in recursive response typed tls13 tls12 untrusted odd terminal; do
    echo "--- $name.out" >&2
    cat -A "$work/$name.out" >&2 || true
  done
fi
echo "Windows end-to-end under Wine took $(($(date +%s) - started)) s"
echo "wine-e2e: $((checks - failures)) passed, $failures failed"
((failures == 0))
