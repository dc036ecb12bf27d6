#!/usr/bin/python3
"""An FTP server that, like some real ones, refuses to rename onto an existing name.

usage: no_replace_rename_server.py ROOT USER PASSWORD [QUIRKS]

Serves ROOT on a free port of 127.0.0.1 and prints "port N" once it listens. Every
refused rename is printed as "refused RNTO <path>". QUIRKS, comma-separated, adds
the ways of other servers: "no-rename" refuses every rename, "no-dot-stor" refuses
to store a name that begins with a dot, "keep-old" refuses to delete a file moved
aside by a replace.
"""
import logging
import os
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


QUIRKS = set()


class Handler(FTPHandler):
    def ftp_RNFR(self, path):
        if "no-rename" in QUIRKS:
            self.respond("502 Renaming is not allowed here.")
            return
        return FTPHandler.ftp_RNFR(self, path)

    def ftp_STOR(self, file, mode="w"):
        if "no-dot-stor" in QUIRKS and os.path.basename(file).startswith("."):
            self.respond("553 Hidden names are not allowed.")
            return
        return FTPHandler.ftp_STOR(self, file, mode)

    def ftp_APPE(self, file):
        if "no-dot-stor" in QUIRKS and os.path.basename(file).startswith("."):
            self.respond("553 Hidden names are not allowed.")
            return
        return FTPHandler.ftp_APPE(self, file)

    def ftp_DELE(self, path):
        if "keep-old" in QUIRKS and ".velmar-old-" in os.path.basename(path):
            self.respond("550 Permission denied.")
            return
        return FTPHandler.ftp_DELE(self, path)

    def ftp_RNTO(self, path):
        if os.path.lexists(path):
            print("refused RNTO " + self.fs.fs2ftp(path), flush=True)
            self._rnfr = None
            self.respond("550 Rename failed: the target exists.")
            return
        return FTPHandler.ftp_RNTO(self, path)


def main():
    root, user, password = sys.argv[1:4]
    QUIRKS.update(q for q in (sys.argv[4] if len(sys.argv) > 4 else "").split(",") if q)
    warnings.simplefilter("ignore")
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("port %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
