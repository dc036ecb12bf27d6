#!/usr/bin/python3
"""An SFTP server on 127.0.0.1 for the tests: password and keyboard-interactive
logins, and faults that a well-behaved server never shows.

  asyncssh_server.py --port P --root DIR --host-key FILE --user U --password PW
                     [--methods password,kbdint] [--drop-after N] [--stall-after N]
                     [--read-cap N] [--refuse-after N] [--drop-once] [--away-after-drop S]
                     [--count-file FILE]

--drop-after N: the connection is cut once N bytes of file data have been read
or written. --stall-after N: from then on the server answers nothing, holding
the connection open. --hostile-names: every listing also holds names no client
may use as paths ("..", "a/b", control characters, NUL, empty). --read-cap N:
each read gives at most N bytes, as a server may, though more are left.
--refuse-after N: reads and writes past N bytes of file data get a failure status.
--drop-once: only the first connection to pass --drop-after is cut; the others
go on. --away-after-drop S: the server takes no connection for S seconds after
the cut; for good when S is negative.
--count-file FILE: holds "read N written M", the file bytes the server has sent
and stored so far over every session.
"""
import argparse
import asyncio
import logging
import sys
import warnings

warnings.simplefilter("ignore")
import asyncssh  # noqa: E402


def parse():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--root", required=True)
    p.add_argument("--host-key", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--methods", default="password,kbdint")
    p.add_argument("--drop-after", type=int, default=-1)
    p.add_argument("--stall-after", type=int, default=-1)
    p.add_argument("--hostile-names", action="store_true")
    p.add_argument("--read-cap", type=int, default=-1)
    p.add_argument("--refuse-after", type=int, default=-1)
    p.add_argument("--drop-once", action="store_true")
    p.add_argument("--away-after-drop", type=float)
    p.add_argument("--count-file")
    return p.parse_args()


ARGS = parse()
MOVED = [0]
COUNTS = {"read": 0, "written": 0}
DROPPED = []  # the connections cut
LISTENER = []
HOSTILE = [b".", b"..", b"", b"a/b", b"../up", b"/abs", b"esc\x1b[31m", b"nul\x00in", b"tab\there"]  # file bytes read and written over every session


class Server(asyncssh.SSHServer):
    def connection_made(self, conn):
        self._conn = conn

    def begin_auth(self, username):
        return True

    def public_key_auth_supported(self):
        return "publickey" in ARGS.methods

    def validate_public_key(self, username, key):
        print("key offered", flush=True)
        return False

    def password_auth_supported(self):
        return "password" in ARGS.methods

    def validate_password(self, username, password):
        ok = username == ARGS.user and password == ARGS.password
        print("password login %s: %s" % (username, "accepted" if ok else "refused"), flush=True)
        return ok

    def kbdint_auth_supported(self):
        return "kbdint" in ARGS.methods

    def get_kbdint_challenge(self, username, lang, submethods):
        return "", "", "", [("Password: ", False)]

    def validate_kbdint_response(self, username, responses):
        ok = username == ARGS.user and list(responses) == [ARGS.password]
        print("kbdint login %s: %s" % (username, "accepted" if ok else "refused"), flush=True)
        return ok


class Sftp(asyncssh.SFTPServer):
    def __init__(self, chan):
        super().__init__(chan, chroot=ARGS.root)
        self._conn = chan.get_connection()

    async def _account(self, count):
        if self._conn in DROPPED:
            await asyncio.sleep(3600)  # what was in flight on a cut connection never ran
        if 0 <= ARGS.refuse_after <= MOVED[0]:
            raise asyncssh.SFTPFailure("refused by the test")
        MOVED[0] += count
        if 0 <= ARGS.stall_after <= MOVED[0]:
            print("stalling", flush=True)
            await asyncio.sleep(3600)
        if 0 <= ARGS.drop_after <= MOVED[0] and not (ARGS.drop_once and DROPPED):
            print("dropping", flush=True)
            DROPPED.append(self._conn)
            if ARGS.away_after_drop is not None:
                LISTENER[0].close()
                if ARGS.away_after_drop >= 0:
                    asyncio.get_running_loop().call_later(
                        ARGS.away_after_drop, lambda: asyncio.ensure_future(listen()))
            self._conn.abort()
            await asyncio.sleep(3600)

    def _count(self, key, count):
        COUNTS[key] += count
        if ARGS.count_file:
            with open(ARGS.count_file, "w") as f:
                f.write("read %d written %d\n" % (COUNTS["read"], COUNTS["written"]))

    def listdir(self, path):
        names = list(super().listdir(path))
        if ARGS.hostile_names:
            attrs = asyncssh.SFTPAttrs(permissions=0o100644, size=1)
            names += [asyncssh.SFTPName(n, attrs=attrs) for n in HOSTILE]
        return names

    async def read(self, file_obj, offset, size):
        if ARGS.read_cap > 0:
            size = min(size, ARGS.read_cap)
        await self._account(size)
        data = super().read(file_obj, offset, size)
        self._count("read", len(data))
        return data

    async def write(self, file_obj, offset, data):
        await self._account(len(data))
        written = super().write(file_obj, offset, data)
        self._count("written", len(data))
        return written


async def listen():
    LISTENER[:] = [await asyncssh.create_server(
        Server, "127.0.0.1", ARGS.port, server_host_keys=[ARGS.host_key],
        sftp_factory=Sftp, allow_scp=False,
        reuse_address=True)]  # started again on its port while old connections close
    print("listening on %d" % ARGS.port, flush=True)


async def main():
    await listen()
    await asyncio.Event().wait()


if __name__ == "__main__":
    logging.basicConfig(stream=sys.stdout, level=logging.WARNING)
    asyncio.run(main())
