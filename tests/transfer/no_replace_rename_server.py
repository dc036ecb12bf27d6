#!/usr/bin/python3
"""An FTP server that, like some real ones, refuses to rename onto an existing name.

usage: no_replace_rename_server.py ROOT USER PASSWORD

Serves ROOT on a free port of 127.0.0.1 and prints "port N" once it listens. Every
refused rename is printed as "refused RNTO <path>".
"""
import logging
import os
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class Handler(FTPHandler):
    def ftp_RNTO(self, path):
        if os.path.lexists(path):
            print("refused RNTO " + self.fs.fs2ftp(path), flush=True)
            self._rnfr = None
            self.respond("550 Rename failed: the target exists.")
            return
        return FTPHandler.ftp_RNTO(self, path)


def main():
    root, user, password = sys.argv[1:4]
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
