#!/usr/bin/python3
"""pyftpdlib on 127.0.0.1 for the TLS tests.

usage: pyftpd_tls_server.py --root DIR --port N --user U --password P
                            [--cert FILE --key FILE] [--record FILE]

With --cert and --key the server speaks explicit FTPS (TLS_FTPHandler) and
insists on TLS for the login and every data connection; without them it is a
plain server. --record appends every command it receives, one a line, so that a
test can see what a client sent in clear.
"""
import argparse
import logging
import sys
import warnings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--cert", default="")
    parser.add_argument("--key", default="")
    parser.add_argument("--record", default="")
    args = parser.parse_args()

    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.servers import FTPServer
    if args.cert:
        from pyftpdlib.handlers import TLS_FTPHandler as Base
    else:
        from pyftpdlib.handlers import FTPHandler as Base

    warnings.simplefilter("ignore")
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    class Handler(Base):
        def pre_process_command(self, line, cmd, arg):
            if args.record:
                with open(args.record, "a") as f:
                    f.write(cmd + "\n")
            return Base.pre_process_command(self, line, cmd, arg)

    Handler.authorizer = authorizer
    Handler.banner = "velmar tls test server ready"
    Handler.permit_foreign_addresses = False
    if args.cert:
        Handler.certfile = args.cert
        Handler.keyfile = args.key
        Handler.tls_control_required = True
        Handler.tls_data_required = True

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 0
    server.max_cons_per_ip = 0
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
