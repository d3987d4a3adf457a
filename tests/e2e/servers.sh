#!/usr/bin/env bash
# Unpacks Debian's vsftpd, pure-ftpd, proftpd (with its TLS module), GNU inetutils ftpd and netkit
# ftpd (Debian 12 has it only in its TLS build, ftpd-ssl: the package ftpd is a transition to it),
# with the few libraries they need that a plain system lacks, below one folder (default:
# build/servers), so that all of them can run side by side without being installed: Debian's
# FTP server packages conflict with one another.
# Also makes the account the servers drop to and check passwords against (user marlowick-e2e,
# password secret-e2e, PAM service marlowick-e2e), which needs root the first time.
# Quiet and idempotent; prints nothing unless something fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
target=${1:-build/servers}
packages=(vsftpd pure-ftpd proftpd-core proftpd-mod-crypto inetutils-ftpd ftpd-ssl
  libwrap0 libhiredis0.14 libmemcached11 libmemcachedutil2 libhashkit2 libpcre2-posix3
  libsodium23)
stamp="$target/root/.unpacked"
want="${packages[*]}"

mkdir -p "$target"
exec 9>"$target/.lock"
flock -w 600 9

account=marlowick-e2e
if ! id "$account" >/dev/null 2>&1 || [ ! -f /etc/pam.d/$account ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "servers.sh: run once as root to make the test account $account" >&2
    exit 1
  fi
  home=/var/lib/$account  # vsftpd refuses a login whose home folder is missing
  mkdir -p "$home"
  if ! id "$account" >/dev/null 2>&1; then
    useradd --system --home-dir "$home" --shell /usr/sbin/nologin "$account"
    echo "$account:secret-e2e" | chpasswd
  fi
  # Passwords only, without the delays and checks of a login service.
  printf 'auth required pam_unix.so nodelay\naccount required pam_permit.so\nsession required pam_permit.so\n' \
    >/etc/pam.d/$account
fi

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt's download user writes here
log="$work/apt.log"
if ! (cd "$work" && apt-get download "${packages[@]}" >"$log" 2>&1); then
  # The package lists may be missing or stale on a fresh machine.
  if ! { apt-get update -qq && (cd "$work" && apt-get download "${packages[@]}"); } >"$log" 2>&1; then
    cat "$log" >&2
    echo "servers.sh: cannot download ${packages[*]}" >&2
    exit 1
  fi
fi
# Unpacked beside the old copy and swapped in at once: tests of another build folder may be
# starting servers from it meanwhile.
rm -rf "$target/root.new" "$target/root.old"
mkdir -p "$target/root.new"
for deb in "$work"/*.deb; do
  dpkg-deb -x "$deb" "$target/root.new"
done
echo "$want" >"$target/root.new/.unpacked"
[ ! -d "$target/root" ] || mv "$target/root" "$target/root.old"
mv "$target/root.new" "$target/root"
rm -rf "$target/root.old"
