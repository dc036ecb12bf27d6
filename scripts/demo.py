#!/usr/bin/python3
"""First run without a server of one's own.

Starts a small FTP server on 127.0.0.1 (pyftpdlib, a free port) that serves a
folder of sample files and folders, points the "Demo Server" profile of the demo
working folder at it and runs the program from that folder. The same folder is
served over SFTP too (asyncssh, user "demo" with a password made for the run),
as the profile "Demo SFTP Server". When the program ends, the servers end with
it.

usage: demo.py --program PATH --dir DIR [-- program arguments]

DIR holds site/ (what the servers serve, made on the first run, refilled when
empty), work/ (the program's working folder, with its Profiles.dat) and the SFTP
server's host key. The profiles the user adds there are kept from run to run:
only the demo profiles' addresses (and the SFTP one's password) are rewritten,
since the ports change with every run.
"""
import argparse
import hmac
import os
import secrets
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading

DEMO_NAME = b"Demo Server"
SFTP_NAME = b"Demo SFTP Server"
SFTP_USER = "demo"

# The profile that the program itself writes when it finds no profile file.
SAMPLE = {
    "name": b"Sample Profile", "address": b"ftp.gnu.org", "anonymous": 1,
    "user": b"", "password": b"", "initial_dir": b"",
    "comment": b"GNU Project's FTP Site", "default": 0, "active": 0,
}

FIELDS = ("name", "address", "anonymous", "user", "password", "initial_dir",
          "comment", "default", "active")
INT_FIELDS = ("anonymous", "default", "active")


class DamagedFile(Exception):
    pass


# --- the profile file ------------------------------------------------------

def encode_string(data):
    n = len(data)
    if n < 0xFF:
        prefix = struct.pack("<B", n)
    elif n < 0xFFFE:
        prefix = b"\xff" + struct.pack("<H", n)
    else:
        prefix = b"\xff\xff\xff" + struct.pack("<I", n)
    return prefix + data


def encode_profiles(profiles):
    out = [struct.pack("<i", len(profiles))]
    for p in profiles:
        for field in FIELDS:
            if field in INT_FIELDS:
                out.append(struct.pack("<i", p[field]))
            else:
                out.append(encode_string(p[field]))
    return b"".join(out)


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise DamagedFile("the file ends inside a record")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def int32(self):
        return struct.unpack("<i", self.take(4))[0]

    def length(self):
        n = self.take(1)[0]
        if n < 0xFF:
            return n, False
        n = struct.unpack("<H", self.take(2))[0]
        if n == 0xFFFE:
            # 16-bit characters follow, counted by a prefix of their own.
            count, _ = self.length()
            return count, True
        if n < 0xFFFF:
            return n, False
        return struct.unpack("<I", self.take(4))[0], False

    def string(self):
        n, wide = self.length()
        if not wide:
            return self.take(n)
        # The program writes UTF-8 only; a wide text is kept as UTF-8 from now on.
        return self.take(2 * n).decode("utf-16-le", "replace").encode("utf-8")


def decode_profiles(data):
    reader = Reader(data)
    count = reader.int32()
    if count <= 0:
        raise DamagedFile("the file holds no profile")
    profiles = []
    for _ in range(count):
        p = {}
        for field in FIELDS:
            p[field] = reader.int32() if field in INT_FIELDS else reader.string()
        profiles.append(p)
    return profiles


def demo_profile(address, default):
    return {
        "name": DEMO_NAME, "address": address.encode(), "anonymous": 1,
        "user": b"", "password": b"", "initial_dir": b"",
        "comment": b"Sample files served from this computer by scripts/run",
        "default": default, "active": default,
    }


def sftp_profile(address, password):
    return {
        "name": SFTP_NAME, "address": address.encode(), "anonymous": 0,
        "user": SFTP_USER.encode(), "password": password.encode(), "initial_dir": b"",
        "comment": b"The same sample files over SFTP, served by scripts/run",
        "default": 0, "active": 0,
    }


def updated_profiles(existing, address, sftp=None):
    """The profile list for this run: the Demo Server at `address`, and with
    `sftp` (address, password) the Demo SFTP Server."""
    profiles = [dict(SAMPLE), demo_profile(address, 1)] if existing is None \
        else [dict(p) for p in existing]
    demo = [p for p in profiles if p["name"] == DEMO_NAME]
    for p in demo:
        p["address"] = address.encode()
    if not demo:
        # The user removed it once; bring it back, but leave their default alone.
        profiles.append(demo_profile(address, 0))
    if sftp is not None:
        ours = [p for p in profiles if p["name"] == SFTP_NAME]
        for p in ours:
            p["address"], p["password"] = sftp[0].encode(), sftp[1].encode()
        if not ours:
            profiles.append(sftp_profile(*sftp))
    return profiles


def write_atomically(path, data):
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".Profiles.", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(tmp, 0o600)  # it holds passwords
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def point_profiles_at(path, address, sftp=None):
    """Writes the demo profiles' addresses into the profile file at `path`.

    Returns False (and changes nothing) when the file is damaged: it may hold the
    user's only copy of their profiles."""
    existing = None
    if os.path.exists(path):
        with open(path, "rb") as f:
            data = f.read()
        try:
            existing = decode_profiles(data)
        except DamagedFile as e:
            print(f"demo: {path} cannot be read ({e}); it is left as it is",
                  file=sys.stderr)
            return False
    write_atomically(path, encode_profiles(updated_profiles(existing, address, sftp)))
    return True


# --- the sample site -------------------------------------------------------

SITE_FILES = {
    "readme.txt": b"Welcome to the Velmar98 demo server.\n\n"
                  b"Drag files from the upper panes onto a folder down here to upload\n"
                  b"them, and from here onto a local folder to download them.\n",
    "pub/release-notes.txt": b"Release notes\n=============\n\n- Everything is new.\n",
    "pub/data.csv": b"name,size\n" + b"".join(b"item%d,%d\n" % (i, i * 37) for i in range(200)),
    "pub/tools/checksum.py": b"import hashlib, sys\n"
                             b"print(hashlib.sha256(open(sys.argv[1], 'rb').read()).hexdigest())\n",
    "pub/images/pattern.bin": bytes(range(256)) * 64,
    "docs/manual.html": b"<html><body><h1>Manual</h1><p>Nothing to read yet.</p></body></html>\n",
    "docs/faq.txt": b"Q: Where does this server live?\nA: On your own computer.\n",
    "upload/.keep": b"",
}


def make_site(site):
    """Fills `site` with the sample files unless it holds something already."""
    os.makedirs(site, exist_ok=True)
    if os.listdir(site):
        return
    for relative, data in SITE_FILES.items():
        path = os.path.join(site, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


# --- the server --------------------------------------------------------------

def start_server(site):
    """Serves `site` anonymously with write access; returns (server, port)."""
    import logging
    import warnings
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    warnings.simplefilter("ignore")  # write access for anonymous is the point here
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(site, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "Velmar98 demo server"
    Handler.permit_foreign_addresses = False
    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 64
    port = server.socket.getsockname()[1]
    thread = threading.Thread(target=server.serve_forever,
                              kwargs={"timeout": 0.5, "blocking": True,
                                      "handle_exit": False},
                              daemon=True)
    thread.start()
    return server, port


def start_sftp_server(site, folder, password):
    """Serves `site` over SFTP on 127.0.0.1 to the user "demo" with `password`;
    returns the port. The host key is kept in `folder`, and the last run's port
    is taken again when it is free, so that a key remembered for
    [127.0.0.1]:port still holds."""
    import asyncio
    import warnings
    warnings.simplefilter("ignore")
    import asyncssh

    key = os.path.join(folder, "sftp_host_key")
    if not os.path.exists(key):
        asyncssh.generate_private_key("ssh-ed25519").write_private_key(key)

    class Server(asyncssh.SSHServer):
        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return True

        def validate_password(self, username, given):
            return username == SFTP_USER and hmac.compare_digest(given.encode(),
                                                                 password.encode())

    class Sftp(asyncssh.SFTPServer):
        def __init__(self, chan):
            super().__init__(chan, chroot=site)

    loop = asyncio.new_event_loop()
    port_file = os.path.join(folder, "sftp_port")
    try:
        with open(port_file) as f:
            ports = [int(f.read().strip()), 0]
    except (OSError, ValueError):
        ports = [0]
    server = None
    for port in ports:
        try:
            server = loop.run_until_complete(asyncssh.create_server(
                Server, "127.0.0.1", port, server_host_keys=[key], sftp_factory=Sftp,
                allow_scp=False))
            break
        except OSError:
            if port == 0:
                raise
    port = server.sockets[0].getsockname()[1]
    with open(port_file, "w") as f:
        f.write(f"{port}\n")
    threading.Thread(target=loop.run_forever, daemon=True).start()
    return port


def run(program, folder, args):
    site = os.path.join(folder, "site")
    work = os.path.join(folder, "work")
    os.makedirs(work, exist_ok=True)
    make_site(site)
    try:
        server, port = start_server(site)
    except ImportError:
        print("demo: pyftpdlib is missing (Debian package python3-pyftpdlib); "
              "starting without the demo server", file=sys.stderr)
        server, port = None, None
    sftp = None
    if server is not None:
        try:
            password = secrets.token_urlsafe(12)
            sftp = (f"sftp://127.0.0.1:{start_sftp_server(site, folder, password)}", password)
        except ImportError:
            print("demo: asyncssh is missing (Debian package python3-asyncssh); "
                  "starting without the demo SFTP server", file=sys.stderr)
        except Exception as e:  # the FTP demo goes on without it
            print(f"demo: the demo SFTP server did not start ({e}); starting without it",
                  file=sys.stderr)
        point_profiles_at(os.path.join(work, "Profiles.dat"), f"127.0.0.1:{port}", sftp)
        print(f"demo: serving {site} on 127.0.0.1:{port} as the profile "
              f"\"Demo Server\"", file=sys.stderr)
        if sftp:
            print(f"demo: and over SFTP on {sftp[0]} as the profile \"Demo SFTP Server\" "
                  f"(user {SFTP_USER}, password {sftp[1]})", file=sys.stderr)

    child = subprocess.Popen([program] + args, cwd=work)

    def forward(signum, _frame):
        child.send_signal(signum)  # the program closes the way Exit does

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, forward)
    # The server threads end with this process.
    return child.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("args", nargs="*")
    ns = parser.parse_args()
    code = run(os.path.abspath(ns.program), os.path.abspath(ns.dir), ns.args)
    sys.exit(code if code >= 0 else 128 - code)


if __name__ == "__main__":
    main()
