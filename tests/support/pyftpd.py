"""A real FTP server for tests: pyftpdlib serving one folder on 127.0.0.1.

Usage: pyftpd.py ROOT [--user U --password P] [--perm elr] [--host 127.0.0.1|::1]
                 [--tls CERTFILE --tls-key KEYFILE]
With --tls, TLS (AUTH TLS) is required for the login and for every data connection; this needs
Debian's python3-openssl.
Prints the port it listens on as the first line of output, then serves until killed.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--perm", default="elr")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--tls", metavar="CERTFILE")
    parser.add_argument("--tls-key", metavar="KEYFILE")
    args = parser.parse_args()

    logging.basicConfig(level=logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm=args.perm)
    if args.anonymous:
        authorizer.add_anonymous(args.root)

    if args.tls:
        from pyftpdlib.handlers import TLS_FTPHandler

        class Handler(TLS_FTPHandler):
            certfile = args.tls
            keyfile = args.tls_key
            tls_control_required = True
            tls_data_required = True
    else:
        class Handler(FTPHandler):
            pass

    Handler.authorizer = authorizer
    Handler.permit_foreign_addresses = False
    Handler.passive_ports = None
    server = FTPServer((args.host, 0), Handler)
    server.max_cons = 64
    print(server.address[1], flush=True)
    try:
        server.serve_forever(timeout=0.5, handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    sys.exit(main())
