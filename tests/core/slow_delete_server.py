#!/usr/bin/python3
"""pyftpdlib on 127.0.0.1 whose DELE answers late, for the stop tests.

usage: slow_delete_server.py ROOT PORT DELAY_MS

The account is "user" / "pass". Each DELE waits DELAY_MS before it deletes and
answers; the server handles nothing else meanwhile, so an ABOR sent during the
wait is answered after the late DELE reply, as a busy server would.

An optional fourth argument, VERBS (comma-separated, e.g. MKD,RMD,RNFR),
makes those commands answer as late as DELE; a verb written -MLSD is not
offered at all (-MLSD,-MLST: listings by LIST only).
"""
import logging
import sys
import time
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, port, delay = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) / 1000.0
    slow_verbs = set(sys.argv[4].upper().split(",")) if len(sys.argv) > 4 else set()
    slow_verbs.discard("DELE")  # ftp_DELE waits already
    refused = {v[1:] for v in slow_verbs if v.startswith("-")}
    warnings.simplefilter("ignore")
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    authorizer = DummyAuthorizer()
    authorizer.add_user("user", "pass", root, perm="elradfmwMT")

    class Handler(FTPHandler):
        def ftp_DELE(self, path):
            time.sleep(delay)
            return FTPHandler.ftp_DELE(self, path)

        def process_command(self, cmd, *args, **kwargs):
            if cmd in slow_verbs:
                time.sleep(delay)
            return FTPHandler.process_command(self, cmd, *args, **kwargs)

    Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in refused}
    Handler.authorizer = authorizer
    Handler.permit_foreign_addresses = False
    server = FTPServer(("127.0.0.1", port), Handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
