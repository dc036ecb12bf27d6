#!/usr/bin/python3
"""pyftpdlib on 127.0.0.1 for the end-to-end suite.

usage: ftp_server.py --root DIR --port N --user U --password P [--rate BYTES]

One account with a password and anonymous, both with write access to DIR.
--rate paces uploads to about BYTES per second, so that a large copy lasts long
enough for a person to cancel or hide it. The pace is kept with pauses of a few
milliseconds after each read, never with the long stalls of pyftpdlib's own
throttle: a client that writes on its user-interface thread would freeze for
the length of each stall.
"""
import argparse
import logging
import sys
import time
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def paced_dtp(rate):
    class Paced(DTPHandler):
        started = None

        def handle_read(self):
            if self.started is None:
                self.started = time.monotonic()
            super().handle_read()
            ahead = self.tot_bytes_received / rate - (time.monotonic() - self.started)
            if ahead > 0:
                time.sleep(min(ahead, 0.05))

        handle_read_event = handle_read  # pyftpdlib binds the event to its own read
    return Paced


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--rate", type=int, default=0)
    args = parser.parse_args()

    warnings.simplefilter("ignore")  # anonymous write access is wanted here
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    authorizer.add_anonymous(args.root, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "velmar e2e server ready"
    Handler.permit_foreign_addresses = False
    if args.rate > 0:
        Handler.dtp_handler = paced_dtp(args.rate)

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 0
    server.max_cons_per_ip = 0
    print("ready", flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
