"""Twisted's FTP server (twisted.protocols.ftp) serving one folder read-only, for the
end-to-end tests.

Usage: twistedftpd.py ROOT --user U --password P [--host 127.0.0.1]
Listens on a port picked by the system and prints it as the first line of output, then serves
until killed. The account (and "anonymous") gets the read-only shell rooted at ROOT. Twisted
reads commands and writes names as Latin-1, so ROOT should hold ASCII names only.
"""
import argparse
import sys

from twisted.cred import checkers, credentials, error, portal
from twisted.internet import defer, reactor
from twisted.protocols import ftp
from twisted.python import filepath
from zope.interface import implementer


@implementer(checkers.ICredentialsChecker)
class OneAccount:
    """The one account, compared as text: Twisted's in-memory checker keeps names as bytes,
    while its FTP server hands them over as text."""

    credentialInterfaces = (credentials.IUsernamePassword,)

    def __init__(self, user, password):
        self.user = user
        self.password = password

    def requestAvatarId(self, given):
        if given.username == self.user and given.password == self.password:
            return defer.succeed(given.username)
        return defer.fail(error.UnauthorizedLogin())


class ReadOnlyRealm(ftp.BaseFTPRealm):
    """Every login, the account's included, gets the anonymous (read-only) shell on ROOT."""

    def requestAvatar(self, avatarId, mind, *interfaces):
        if ftp.IFTPShell not in interfaces:
            raise NotImplementedError("only IFTPShell is served")
        return ftp.IFTPShell, ftp.FTPAnonymousShell(self.anonymousRoot), lambda: None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()

    access = portal.Portal(
        ReadOnlyRealm(filepath.FilePath(args.root).path),
        [OneAccount(args.user, args.password), checkers.AllowAnonymousAccess()],
    )
    factory = ftp.FTPFactory(access)
    port = reactor.listenTCP(0, factory, interface=args.host)
    print(port.getHost().port, flush=True)
    reactor.run()


if __name__ == "__main__":
    sys.exit(main())
