#!/usr/bin/python3
"""pyftpdlib on 127.0.0.1 for the end-to-end suite.

usage: ftp_server.py --root DIR --port N --user U --password P [--rate BYTES]

One account with a password and anonymous, both with write access to DIR.
--rate limits each data connection to about BYTES per second in each direction,
so that a large copy lasts long enough to be cancelled or hidden by a person.
"""
import argparse
import logging
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


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
        class Throttled(ThrottledDTPHandler):
            read_limit = args.rate
            write_limit = args.rate
        Handler.dtp_handler = Throttled

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 0
    server.max_cons_per_ip = 0
    print("ready", flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
