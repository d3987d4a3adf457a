"""Serves an inetd-style FTP server (one session on standard input and output) on 127.0.0.1,
for the end-to-end tests.

Usage: inetd.py --home ROOT --account NAME --pam FILE -- SERVER [ARGUMENTS...]
Runs in a mount namespace of its own (needs root), where ROOT is mounted over the home folder of
the account, so that the login lands in the served tree, and FILE stands for the PAM service
"ftp" these servers ask for. Nothing outside the namespace changes. Listens on a port picked by
the system and prints it as the first line of output; for each connection, starts SERVER with
the connection as its standard input and output. Serves until killed.
"""
import argparse
import ctypes
import os
import pwd
import signal
import socket
import sys

CLONE_NEWNS = 0x00020000
MS_BIND = 4096
MS_REC = 16384
MS_PRIVATE = 1 << 18

libc = ctypes.CDLL(None, use_errno=True)


def checked(result, what):
    if result != 0:
        error = ctypes.get_errno()
        raise OSError(error, f"{what}: {os.strerror(error)}")


def bind(source, target):
    checked(libc.mount(source.encode(), target.encode(), None, MS_BIND, None),
            f"mount --bind {source} {target}")


def private_mounts(home, pam_file):
    checked(libc.unshare(CLONE_NEWNS), "unshare")
    # Mounts made here must not reach the rest of the system.
    checked(libc.mount(b"none", b"/", None, MS_REC | MS_PRIVATE, None), "mount --make-rprivate /")
    bind(home[0], home[1])
    # Without /etc/pam.d/ftp, PAM takes the service "other".
    service = "/etc/pam.d/ftp" if os.path.exists("/etc/pam.d/ftp") else "/etc/pam.d/other"
    bind(pam_file, service)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--home", required=True)
    parser.add_argument("--account", required=True)
    parser.add_argument("--pam", required=True)
    parser.add_argument("server", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.server[1:] if args.server[:1] == ["--"] else args.server

    private_mounts((args.home, pwd.getpwnam(args.account).pw_dir), args.pam)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print(listener.getsockname()[1], flush=True)
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)  # sessions are reaped by the system
    while True:
        connection, _ = listener.accept()
        if os.fork() == 0:
            try:
                listener.close()
                os.dup2(connection.fileno(), 0)
                os.dup2(connection.fileno(), 1)
                connection.close()
                signal.signal(signal.SIGCHLD, signal.SIG_DFL)
                os.execv(command[0], command)
            finally:
                os._exit(127)
        connection.close()


if __name__ == "__main__":
    sys.exit(main())
