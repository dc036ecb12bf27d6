#!/usr/bin/python3
"""An FTP server far away, on loopback: pyftpdlib whose every reply (but the
goodbye), and the first byte of every data connection it sends on, is held back
by a set delay. Nothing sleeps: the held replies wait on the server's own
timers, so the server serves its other sessions meanwhile, as a real distant one
does. Replies keep their order.

usage: delay_server.py --root DIR --port N --user U --password P --delay-ms N
"""
import argparse
import collections
import logging
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--delay-ms", type=int, default=40)
    parser.add_argument("--log", action="store_true", help="every command and reply to stderr")
    args = parser.parse_args()

    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import DTPHandler, FTPHandler
    from pyftpdlib.servers import FTPServer

    logging.basicConfig(level=logging.DEBUG if args.log else logging.WARNING, stream=sys.stderr,
                        format="%(relativeCreated)d %(message)s")
    delay = args.delay_ms / 1000.0

    class Held:
        """Sends a session's data in order, each piece delay after it was made."""

        def hold(self, send, *what):
            if delay <= 0:
                return send(*what)
            if not hasattr(self, "_held"):
                self._held = collections.deque()
            self._held.append((send, what))
            self.ioloop.call_later(delay, self._release)

        def _release(self):
            # One timer for each piece, each releasing the first piece: all go,
            # in their order, whatever clock or order the timers keep.
            send, what = self._held.popleft()
            if self.connected:
                send(*what)

    class FarDTPHandler(Held, DTPHandler):
        def use_sendfile(self):
            return False  # the held first byte needs the ordinary path

        def push_with_producer(self, producer):
            self.hold(DTPHandler.push_with_producer, self, producer)

        def push(self, data):
            self.hold(DTPHandler.push, self, data)

        def close_when_done(self):
            self.hold(DTPHandler.close_when_done, self)

    class FarHandler(Held, FTPHandler):
        dtp_handler = FarDTPHandler

        def push(self, data):
            if getattr(self, "_leaving", False):
                return FTPHandler.push(self, data)
            self.hold(FTPHandler.push, self, data)

        def close_when_done(self):
            if getattr(self, "_leaving", False):
                return FTPHandler.close_when_done(self)
            self.hold(FTPHandler.close_when_done, self)

        def ftp_QUIT(self, line):
            # The goodbye goes at once: held, pyftpdlib sometimes sent it only
            # once the client had given up waiting, which no real server does.
            self._leaving = True
            FTPHandler.ftp_QUIT(self, line)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    FarHandler.authorizer = authorizer
    FarHandler.banner = "velmar far server ready"
    FarHandler.auth_failed_timeout = 0
    server = FTPServer(("127.0.0.1", args.port), FarHandler)
    server.max_cons = 256
    server.serve_forever()


if __name__ == "__main__":
    main()
