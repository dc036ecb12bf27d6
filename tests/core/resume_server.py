#!/usr/bin/python3
"""pyftpdlib on 127.0.0.1 that drops the whole session once in RETR and once in
STOR, when that many bytes of the file have moved: the control connection and
the data connection close together, as when a link goes down.

usage: resume_server.py --root DIR --drop-at BYTES [--no-rest] [--log FILE]

It prints the port it listens on, then serves. --no-rest refuses REST (502).
--log gets a line per data transfer: its verb and the bytes it moved.
"""
import argparse
import logging
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--drop-at", type=int, required=True)
    parser.add_argument("--no-rest", action="store_true")
    parser.add_argument("--log", default="")
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    armed = {"RETR": True, "STOR": True}

    def note(verb, count):
        if args.log:
            with open(args.log, "a") as log:
                log.write("%s %d\n" % (verb, count))

    class DroppingDTP(DTPHandler):
        def handle_read(self):
            DTPHandler.handle_read(self)
            self.drop_once("STOR", self.tot_bytes_received)

        # pyftpdlib calls the event by this name, bound to its own handle_read.
        handle_read_event = handle_read

        def send(self, data):
            sent = DTPHandler.send(self, data)
            self.drop_once("RETR", self.tot_bytes_sent)
            return sent

        def drop_once(self, verb, count):
            if not armed[verb] or count < args.drop_at:
                return
            armed[verb] = False
            control = self.cmd_channel
            self.close()
            control.close()

        def close(self):
            if not self._closed:
                note("STOR" if self.receive else "RETR",
                     self.tot_bytes_received if self.receive else self.tot_bytes_sent)
            DTPHandler.close(self)

    class Handler(FTPHandler):
        dtp_handler = DroppingDTP
        use_sendfile = False  # every byte sent goes through DroppingDTP.send

        def ftp_REST(self, line):
            if args.no_rest:
                self.respond("502 REST not implemented.")
                return
            FTPHandler.ftp_REST(self, line)

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(args.root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
