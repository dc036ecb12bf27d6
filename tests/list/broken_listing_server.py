#!/usr/bin/python3
"""An FTP server on 127.0.0.1 whose listing of any folder named "broken" breaks off.

usage: broken_listing_server.py PORT [ROOT_LISTING]    (PORT 0: any free port)

The root holds a folder "broken" and a folder "fine". Listing "broken" sends part of
its lines and then the whole server process dies, as a server killed in the middle
of a listing does. ROOT_LISTING, a file, replaces the root's listing with its bytes
as they stand, for a test of chosen listing lines. It stops by itself after 120 s
without a connection.
"""
import os
import socket
import sys


def reply(conn, text):
    conn.sendall((text + "\r\n").encode())


def passive_listener():
    data = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    data.bind(("127.0.0.1", 0))
    data.listen(1)
    data.settimeout(30)
    return data


LINE = "-rw-r--r-- 1 ftp ftp 5 Jan 01 2020 file%05d.txt\r\n"
ROOT = ("drwxr-xr-x 2 ftp ftp 4096 Jan 01 2020 broken\r\n"
        "drwxr-xr-x 2 ftp ftp 4096 Jan 01 2020 fine\r\n"
        "-rw-r--r-- 1 ftp ftp 5 Jan 01 2020 top.txt\r\n").encode()
if len(sys.argv) > 2:
    with open(sys.argv[2], "rb") as chosen:
        ROOT = chosen.read()


def send_listing(conn, listener, cwd):
    reply(conn, "150 Here comes the listing.")
    data, _ = listener.accept()
    listener.close()
    if cwd.rstrip("/").endswith("broken"):
        data.sendall("".join(LINE % i for i in range(200)).encode())
        os._exit(9)  # dies with the listing half sent and no final reply
    text = ROOT if cwd.rstrip("/") in ("", "/") else (LINE % 1).encode()
    data.sendall(text)
    data.close()
    reply(conn, "226 Done.")


def session(conn):
    cwd, listener = "/", None
    reply(conn, "220 broken listing test server")
    for raw in conn.makefile("rb"):
        line = raw.decode("utf-8", "replace").strip()
        verb, _, arg = line.partition(" ")
        verb = verb.upper()
        if verb == "USER":
            reply(conn, "331 Password please.")
        elif verb == "PASS":
            reply(conn, "230 Logged in.")
        elif verb == "PWD":
            reply(conn, '257 "%s" is the current folder.' % cwd)
        elif verb == "CWD":
            cwd = arg if arg.startswith("/") else cwd.rstrip("/") + "/" + arg
            reply(conn, "250 OK.")
        elif verb == "EPSV":
            listener = passive_listener()
            reply(conn, "229 Entering Extended Passive Mode (|||%d|)" % listener.getsockname()[1])
        elif verb == "PASV":
            listener = passive_listener()
            port = listener.getsockname()[1]
            reply(conn, "227 Entering Passive Mode (127,0,0,1,%d,%d)." % (port >> 8, port & 255))
        elif verb == "LIST" and listener:
            send_listing(conn, listener, cwd)
            listener = None
        elif verb in ("TYPE", "OPTS", "NOOP", "MODE", "STRU"):
            reply(conn, "200 OK.")
        elif verb == "SYST":
            reply(conn, "215 UNIX Type: L8")
        elif verb == "QUIT":
            reply(conn, "221 Bye.")
            return
        else:
            reply(conn, "502 Not here.")


def main():
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", int(sys.argv[1])))
    server.listen(8)
    server.settimeout(120)
    # Port 0 lets the system choose; the port is told after the word.
    print("ready %d" % server.getsockname()[1], flush=True)
    while True:
        try:
            conn, _ = server.accept()
        except socket.timeout:
            return
        with conn:
            session(conn)


if __name__ == "__main__":
    main()
