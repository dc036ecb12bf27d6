#!/usr/bin/python3
"""FTP server for the tests: pyftpdlib on 127.0.0.1, or a silent TCP listener.

usage: pyftpd_server.py --root DIR --port N [--user U --password P]
                        [--refuse-active | --blackhole-active] [--no-mlsd] [--silent]
                        [--max-per-ip N] [--raw-names]
                        [--late-ms N --late-verbs DELE,MKD,...]
                        [--drop-at BYTES [--drop-in RETR|STOR]] [--no-rest]
                        [--transfer-log FILE]

--raw-names acts like a server without UTF-8: names go out and come in as the
bytes they have on disk, and FEAT does not offer UTF8. The environment variable
VELMAR_PYFTPD_RAW_NAMES=1 sets it too.

--late-ms with --late-verbs makes those commands answer that late, the server
handling nothing else meanwhile: an ABOR sent during the wait is answered after
the late reply, as a busy server would.

--drop-at closes the whole session once in RETR and once in STOR (or only in the
verb --drop-in names) when that many bytes of the file have moved; --no-rest
refuses REST; --transfer-log gets a line per data transfer, its verb and the
bytes it moved.

--blackhole-active acts like a server behind a firewall that drops its connections
back to the client: PORT/EPRT are accepted, the data command then waits for a
connection that never comes, until ABOR ends it.
"""
import argparse
import logging
import os
import socket
import sys
import time
import warnings


def run_silent(port):
    # Takes connections and never answers: a server that hangs at the greeting.
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    held = []
    while True:
        conn, _ = listener.accept()
        held.append(conn)


def add_drops(handler, args):
    # The whole session, control and data, closes once in RETR and once in STOR
    # when that many bytes of the file have moved, as when a link goes down.
    from pyftpdlib.handlers import DTPHandler
    armed = {verb: args.drop_at >= 0 and args.drop_in in ("", verb) for verb in ("RETR", "STOR")}

    def note(verb, count):
        if args.transfer_log:
            with open(args.transfer_log, "a") as log:
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

    handler.dtp_handler = DroppingDTP
    handler.use_sendfile = False  # every byte sent goes through DroppingDTP.send


def run_ftp(args):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    warnings.simplefilter("ignore")  # write access for anonymous is what we want
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    authorizer.add_anonymous(args.root, perm="elradfmwMT")

    late_verbs = set(args.late_verbs.upper().split(",")) if args.late_ms else set()

    class Handler(FTPHandler):
        def process_command(self, cmd, *args_, **kwargs):
            if cmd in late_verbs:
                time.sleep(args.late_ms / 1000.0)
            return FTPHandler.process_command(self, cmd, *args_, **kwargs)

    Handler.authorizer = authorizer
    Handler.banner = "velmar test server ready"
    # The tests try wrong passwords on purpose; the pause only slows them.
    Handler.auth_failed_timeout = 0
    Handler.permit_foreign_addresses = False

    if args.refuse_active:
        def refuse(self, line):
            self.respond("502 Active mode is not allowed here.")
        Handler.ftp_PORT = refuse
        Handler.ftp_EPRT = refuse

    if args.blackhole_active:
        def accept_port(self, line):
            self._blackholed = True
            self.respond("200 Active data connection will be made.")
        Handler.ftp_PORT = accept_port
        Handler.ftp_EPRT = accept_port

        def waits_forever(original):
            def command(self, *args, **kwargs):
                if getattr(self, "_blackholed", False):
                    self._blackholed = False
                    self._waiting = True
                    return None
                return original(self, *args, **kwargs)
            return command
        for name in ("ftp_RETR", "ftp_STOR", "ftp_APPE", "ftp_LIST", "ftp_NLST", "ftp_MLSD"):
            setattr(Handler, name, waits_forever(getattr(FTPHandler, name)))

        def abort(self, line):
            if getattr(self, "_waiting", False):
                self._waiting = False
                self.respond("426 No data connection; transfer aborted.")
                self.respond("226 ABOR command successful.")
                return
            FTPHandler.ftp_ABOR(self, line)
        Handler.ftp_ABOR = abort

    if args.raw_names:
        Handler.unicode_errors = "surrogateescape"

        def push_raw(self, s):
            FTPHandler.__bases__[0].push(self, s.encode("utf8", "surrogateescape"))
        Handler.push = push_raw

        def feat_without_utf8(self, line):
            def push(s):
                push_raw(self, s.replace(" UTF8\r\n", ""))
            self.push = push
            try:
                FTPHandler.ftp_FEAT(self, line)
            finally:
                del self.push
        Handler.ftp_FEAT = feat_without_utf8

    if args.drop_at >= 0 or args.transfer_log:
        add_drops(Handler, args)

    if args.no_rest:
        def no_rest(self, line):
            self.respond("502 REST not implemented.")
        Handler.ftp_REST = no_rest

    if args.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 0
    server.max_cons_per_ip = args.max_per_ip  # 0: no limit
    server.serve_forever(handle_exit=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--refuse-active", action="store_true")
    parser.add_argument("--blackhole-active", action="store_true")
    parser.add_argument("--no-mlsd", action="store_true")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--max-per-ip", type=int, default=0)
    parser.add_argument("--late-ms", type=int, default=0)
    parser.add_argument("--late-verbs", default="DELE")
    parser.add_argument("--drop-at", type=int, default=-1)
    parser.add_argument("--drop-in", default="", choices=["", "RETR", "STOR"])
    parser.add_argument("--no-rest", action="store_true")
    parser.add_argument("--transfer-log", default="")
    parser.add_argument("--raw-names", action="store_true",
                        default=os.environ.get("VELMAR_PYFTPD_RAW_NAMES") == "1")
    args = parser.parse_args()
    if args.silent:
        run_silent(args.port)
    else:
        run_ftp(args)


if __name__ == "__main__":
    main()
