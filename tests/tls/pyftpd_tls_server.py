#!/usr/bin/python3
"""pyftpdlib on 127.0.0.1 for the TLS tests.

usage: pyftpd_tls_server.py --root DIR --port N --user U --password P
                            [--cert FILE --key FILE] [--record FILE]
                            [--fault silent-after-auth|garbage-after-auth|refuse-prot]

With --cert and --key the server speaks explicit FTPS (TLS_FTPHandler) and
insists on TLS for the login and every data connection; without them it is a
plain server. --record appends every command it receives, one a line, so that a
test can see what a client sent in clear.

--fault: a server that takes AUTH TLS and then never speaks TLS (silent, or
plain text where the handshake belongs), or one that refuses PROT P.
"""
import argparse
import logging
import socket
import sys
import threading
import time
import warnings


def run_broken_tls(args):
    # Greets, records, agrees to AUTH TLS, then fails the handshake its own way.
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(8)

    def serve(conn):
        conn.sendall(b"220 broken tls server\r\n")
        reader = conn.makefile("rb")
        for line in reader:
            cmd = line.decode("latin-1").strip().split(" ")[0].upper()
            if args.record:
                with open(args.record, "a") as f:
                    f.write(cmd + "\n")
            if cmd == "AUTH":
                conn.sendall(b"234 AUTH TLS successful\r\n")
                if args.fault == "garbage-after-auth":
                    conn.sendall(b"220 this is no TLS handshake\r\n" * 4)
                time.sleep(120)
                return
            conn.sendall(b"500 unknown\r\n")

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--cert", default="")
    parser.add_argument("--key", default="")
    parser.add_argument("--record", default="")
    parser.add_argument("--fault", default="")
    args = parser.parse_args()
    if args.fault in ("silent-after-auth", "garbage-after-auth"):
        run_broken_tls(args)
        return

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
        if args.fault == "refuse-prot":
            def refuse(self, line):
                self.respond("534 Protection level refused.")
            Handler.ftp_PROT = refuse

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 0
    server.max_cons_per_ip = 0
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
