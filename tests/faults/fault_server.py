#!/usr/bin/python3
"""A small FTP server on 127.0.0.1 that misbehaves in one chosen way.

Usage: fault_server.py SCENARIO ROOT [LIFETIME_SECONDS]

It prints "PORT <n>" once it listens, serves the files under ROOT (passive mode
only, unless the scenario says otherwise) and ends by itself after the lifetime
or as soon as its parent process is gone.
"""

import os
import socket
import sys
import threading
import time

SCENARIO = sys.argv[1]
ROOT = sys.argv[2]
LIFETIME = float(sys.argv[3]) if len(sys.argv) > 3 else 60.0
PARENT = os.getppid()
DROPPED = {"RNFR"}  # the verbs dropped once already (drop-* scenarios)


def watchdog():
    end = time.monotonic() + LIFETIME
    while time.monotonic() < end and os.getppid() == PARENT:
        time.sleep(0.2)
    os._exit(0)


class Session:
    def __init__(self, conn):
        self.conn = conn
        self.cwd = "/"
        self.data_listener = None
        self.active_target = None
        self.after_login = False
        self.transfer = None
        self.lock = threading.RLock()

    # -- sending ------------------------------------------------------------
    def send(self, text):
        data = text.encode("utf-8", "surrogateescape") + b"\r\n"
        if SCENARIO == "drip":
            for i in range(len(data)):
                self.conn.sendall(data[i:i + 1])
                time.sleep(1.0)
        else:
            self.conn.sendall(data)

    # -- paths --------------------------------------------------------------
    def local(self, arg):
        path = arg if arg.startswith("/") else os.path.join(self.cwd, arg)
        path = os.path.normpath("/" + path.lstrip("/"))
        return path, os.path.join(ROOT, path.lstrip("/"))

    # -- data connections ---------------------------------------------------
    def open_listener(self):
        if self.data_listener:
            self.data_listener.close()
        self.data_listener = socket.socket()
        self.data_listener.bind(("127.0.0.1", 0))
        self.data_listener.listen(1)
        self.data_listener.settimeout(10)
        return self.data_listener.getsockname()[1]

    def data_connection(self):
        if self.active_target:
            if SCENARIO == "active-foreign":
                self.foreign_connect()
            s = socket.create_connection(self.active_target, timeout=10)
            self.active_target = None
            return s
        conn, _ = self.data_listener.accept()
        self.data_listener.close()
        self.data_listener = None
        return conn

    def foreign_connect(self):
        # A third host gets to the client's port first and offers false data.
        s = socket.socket()
        s.bind(("127.0.0.2", 0))
        s.settimeout(5)
        try:
            s.connect(self.active_target)
            s.sendall(b"FORGED CONTENT FROM ANOTHER HOST\n" * 100)
        except OSError:
            pass
        finally:
            s.close()
        time.sleep(0.2)

    # -- transfers ----------------------------------------------------------
    def send_file(self, path):
        self.send("150 Opening BINARY mode data connection.")
        data = self.data_connection()
        with open(path, "rb") as f:
            content = f.read()
        if SCENARIO in ("stall-data", "abor-silent"):
            data.sendall(content[:65536])
            self.transfer = data  # held open and silent: the transfer stalls
            return
        if SCENARIO.startswith("abor-500"):
            self.transfer = data
            threading.Thread(target=self.pump, args=(data, content), daemon=True).start()
            return
        if SCENARIO == "short-data":
            content = content[:len(content) // 2]  # and then a success, all the same
        try:
            data.sendall(content)
        finally:
            data.close()
        self.send("226 Transfer complete.")

    def pump(self, data, content):
        # Sends a small file once and a large one over and over, so that a client
        # that stops reading always meets a transfer still running; the end of
        # that one is left to ABOR.
        try:
            data.sendall(content)
            while len(content) > (1 << 20):
                data.sendall(content)
            sent = True
        except OSError:
            sent = False
        with self.lock:
            if sent and self.transfer is data:
                self.transfer = None
                data.close()
                self.send("226 Transfer complete.")

    def list_folder(self, arg):
        _, folder = self.local(arg if arg and not arg.startswith("-") else self.cwd)
        if not os.path.isdir(folder):
            self.send("550 No such folder.")
            return
        self.send("150 Here comes the directory listing.")
        data = self.data_connection()
        lines = []
        for name in sorted(os.listdir(folder)):
            full = os.path.join(folder, name)
            kind = "d" if os.path.isdir(full) else "-"
            size = os.path.getsize(full)
            lines.append("%srw-r--r--    1 1000     1000 %12d Jan 01  2024 %s" % (kind, size, name))
        data.sendall(("\r\n".join(lines) + "\r\n").encode() if lines else b"")
        data.close()
        self.send("226 Directory send OK.")

    def store(self, path):
        self.send("150 Ok to send data.")
        data = self.data_connection()
        with open(path, "wb") as f:
            while True:
                chunk = data.recv(65536)
                if not chunk:
                    break
                f.write(chunk)
            if SCENARIO == "short-store":
                f.truncate(f.tell() // 2)  # a disk that filled up, reported late
        data.close()
        self.send("226 Transfer complete.")

    # -- the session --------------------------------------------------------
    def run(self):
        if SCENARIO == "silent-greeting":
            time.sleep(LIFETIME)
            return
        self.send("220 Fault server ready.")
        buffer = b""
        while True:
            chunk = self.conn.recv(4096)
            if not chunk:
                return
            buffer += chunk
            while b"\n" in buffer:
                line, buffer = buffer.split(b"\n", 1)
                if not self.command(line.decode("utf-8", "surrogateescape").rstrip("\r")):
                    return

    def misbehave_after_login(self):
        if SCENARIO == "silent-login":
            time.sleep(LIFETIME)
            return False
        if SCENARIO == "421-mid":
            self.send("421 Service not available, closing control connection.")
            return False
        if SCENARIO == "long-line":
            self.conn.sendall(b"200 " + b"x" * (1 << 20) + b"\r\n")
            return True
        if SCENARIO == "endless-multiline":
            try:
                while True:
                    self.conn.sendall(b"250-still more of the same reply\r\n" * 64)
                    time.sleep(0.001)
            except OSError:
                return False
        return None

    def command(self, line):
        verb, _, arg = line.partition(" ")
        verb = verb.upper()
        if self.after_login and SCENARIO == "silent-all":
            time.sleep(LIFETIME)  # not even a goodbye is answered
            return False
        if self.after_login and verb not in ("ABOR", "SYST", "QUIT"):
            verdict = self.misbehave_after_login()
            if verdict is not None:
                return verdict
        handler = getattr(self, "cmd_" + verb, None)
        if handler is None:
            self.send("500 Unknown command.")
            return True
        return handler(arg) is not False

    def cmd_USER(self, arg):
        self.send("331 Please specify the password.")

    def cmd_PASS(self, arg):
        self.send("230 Login successful.")

    def cmd_FEAT(self, arg):
        self.send("211-Features:\r\n EPSV\r\n PASV\r\n SIZE\r\n211 End")

    def cmd_OPTS(self, arg):
        self.send("200 Ok.")

    def cmd_TYPE(self, arg):
        self.send("200 Switching to Binary mode.")
        self.after_login = True

    def cmd_AUTH(self, arg):
        if SCENARIO != "tls-silent":
            self.send("500 Unknown command.")
            return True
        # Agrees to TLS, then never says a word of the handshake.
        self.send("234 Proceed with negotiation.")
        time.sleep(LIFETIME)
        return False

    def cmd_SYST(self, arg):
        self.send("215 UNIX Type: L8")

    def cmd_NOOP(self, arg):
        self.send("200 NOOP ok.")

    def cmd_PWD(self, arg):
        self.send('257 "%s" is the current directory' % self.cwd.replace('"', '""'))

    def cmd_CWD(self, arg):
        path, full = self.local(arg)
        if os.path.isdir(full):
            self.cwd = path
            self.send("250 Directory successfully changed.")
        else:
            self.send("550 Failed to change directory.")

    def cmd_SIZE(self, arg):
        _, full = self.local(arg)
        if os.path.isfile(full):
            self.send("213 %d" % os.path.getsize(full))
        else:
            self.send("550 Could not get file size.")

    def cmd_PORT(self, arg):
        if SCENARIO != "active-foreign":
            self.send("500 Active mode is not offered here.")
            return
        n = [int(x) for x in arg.split(",")]
        self.active_target = ("%d.%d.%d.%d" % tuple(n[:4]), n[4] * 256 + n[5])
        self.send("200 PORT command successful.")

    def cmd_EPRT(self, arg):
        self.send("500 Active mode is not offered here.")

    def cmd_EPSV(self, arg):
        if SCENARIO == "epsv-port0":
            self.send("229 Entering Extended Passive Mode (|||0|)")
        elif SCENARIO == "epsv-foreign":
            self.send("229 Entering Extended Passive Mode (|1|10.9.8.7|%d|)" % self.open_listener())
        else:
            self.send("500 EPSV not understood.")

    def cmd_PASV(self, arg):
        port = self.open_listener()
        if SCENARIO == "pasv-port0":
            self.send("227 Entering Passive Mode (127,0,0,1,0,0).")
        elif SCENARIO == "pasv-foreign":
            self.send("227 Entering Passive Mode (10,9,8,7,%d,%d)." % (port // 256, port % 256))
        else:
            self.send("227 Entering Passive Mode (127,0,0,1,%d,%d)." % (port // 256, port % 256))

    def cmd_LIST(self, arg):
        self.list_folder(arg)

    def cmd_RETR(self, arg):
        _, full = self.local(arg)
        if not os.path.isfile(full):
            self.send("550 Failed to open file.")
            return
        self.send_file(full)

    def cmd_STOR(self, arg):
        _, full = self.local(arg)
        self.store(full)

    def cmd_ABOR(self, arg):
        if SCENARIO == "abor-silent":
            return  # neither the transfer's end nor an answer to the abort
        if SCENARIO.startswith("abor-500"):
            if SCENARIO == "abor-500-early":
                self.end_transfer("426 Connection closed; transfer aborted.")
                self.send("500 Unknown command.")
            else:
                # The refusal first, and the transfer's end only after the next
                # command's reply: a client that stops at the refusal reads
                # every later reply one command late.
                self.send("500 Unknown command.")
                threading.Thread(target=self.late_end, daemon=True).start()
            return
        self.end_transfer("426 Failure writing network stream.")
        self.send("226 ABOR successful.")

    def late_end(self):
        time.sleep(0.3)
        self.end_transfer("426 Connection closed; transfer aborted.")

    def end_transfer(self, reply):
        with self.lock:
            if self.transfer is None:
                return
            try:
                self.transfer.close()
                self.send(reply)
            except OSError:
                pass  # the client has gone already
            self.transfer = None

    # -- changes: in the drop scenarios the first of each verb closes the
    # connection instead of replying, having carried the change out
    # (drop-after-change) or not (drop-before-change).
    def change(self, verb, action, reply="250 Done."):
        if SCENARIO.startswith("drop-") and verb not in DROPPED:
            DROPPED.add(verb)
            if SCENARIO == "drop-after-change":
                action()
            return False
        try:
            action()
        except OSError:
            reply = "550 Failed."
        self.send(reply)

    def cmd_DELE(self, arg):
        return self.change("DELE", lambda: os.remove(self.local(arg)[1]))

    def cmd_RMD(self, arg):
        return self.change("RMD", lambda: os.rmdir(self.local(arg)[1]))

    def cmd_MKD(self, arg):
        return self.change("MKD", lambda: os.mkdir(self.local(arg)[1]), '257 "%s"' % arg)

    def cmd_RNFR(self, arg):
        self.rename_from = self.local(arg)[1]
        self.change("RNFR", lambda: None, "350 Ready for RNTO.")

    def cmd_RNTO(self, arg):
        return self.change("RNTO", lambda: os.rename(self.rename_from, self.local(arg)[1]))

    def cmd_QUIT(self, arg):
        self.send("221 Goodbye.")
        return False


def serve(conn):
    try:
        Session(conn).run()
    except OSError:
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def main():
    threading.Thread(target=watchdog, daemon=True).start()
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    print("PORT %d" % server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
