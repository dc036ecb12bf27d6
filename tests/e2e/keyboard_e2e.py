"""Scenarios of a user without a mouse, and of a window that reads right: copies
made with the keyboard alone, files pasted from the desktop's clipboard, sizes
shown whole, the status window's first half second, and the start-up order."""
import os
import socket
import subprocess
import time

import harness as h
from harness import Failure, check, wait_until

STATUS_TITLE = "Velmar98 Communication Status"
PY_PROFILE = "Local pyftpdlib"  # as the main suite names it
VS_PROFILE = "Local vsftpd"


class SilentServer:
    """Accepts connections (the kernel does, from its backlog) and never says a
    word: a connection to it waits for a greeting that does not come."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]

    def close(self):
        self.sock.close()

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"


def visible_named(prefix):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{prefix}"],
                         capture_output=True, text=True)
    return [int(x) for x in out.stdout.split()]


def main_window_shown_first(w):
    """Start-up against a silent server: the main window is on the screen within
    a second, the status window over it while the connection is tried."""
    silent = SilentServer()
    try:
        w.app.stop()
        data = w.demo.encode_profiles([w.profile("Silent", silent.address, default=1)])
        with open(os.path.join(w.work, "Profiles.dat"), "wb") as f:
            f.write(data)
        started = time.monotonic()
        w.app.start()
        # Through X, not the accessibility bus: while the connection is tried the
        # program answers neither (it waits at most ten seconds).
        wait_until("the main window on the screen",
                   lambda: visible_named("Velmar98 - Silent"), timeout=10, interval=0.02)
        shown_after = time.monotonic() - started
        status = wait_until("the status window", lambda: visible_named(STATUS_TITLE),
                            timeout=10, interval=0.05)
        check(time.monotonic() - started < 9,
              "the status window came only after the connection had given up")
        w.shot("startup-silent-server")
        check(shown_after <= 1.0, f"the main window came after {shown_after:.2f} s")
        main = visible_named("Velmar98 - Silent")[0]
        mx, my, mw, mh = geometry(main)
        sx, sy, sw, sh = geometry(status[0])
        check(mx <= sx and my <= sy and sx + sw <= mx + mw and sy + sh <= my + mh,
              "the status window is not over the main window")
        w.app.wait_app()
        w.app.answer("Error Opening FTP Connection", "OK", timeout=30)
        w.wait_ready()
    finally:
        silent.close()
        w.app.stop()


def full_size_shown(w):
    """A folder holding a 1,500,000,000-byte file: its size is shown whole, and
    the Name column takes the pane's free width."""
    w.ensure_active(PY_PROFILE)
    path = os.path.join(w.home, "disc-image.iso")
    with open(path, "wb") as f:
        f.truncate(1_500_000_000)  # a hole: no disk is used
    try:
        w.app.menu("Refresh")
        w.wait_ready()
        sizes = dict(zip(w.app.names_in("Local files"), w.app.names_in("Local files", 1)))
        check(sizes.get("disc-image.iso") == "1,500,000,000",
              f'the size reads "{sizes.get("disc-image.iso")}"')
        pane = w.app.pane("Local files")
        headers = [c for c in h.children(pane) if h.role(c) == "table column header"]
        size_cell = next(c for c in w.app.cells("Local files")
                         if c.name == "1,500,000,000")
        # The text is drawn whole when the cell is wider than the text needs;
        # the screenshot shows it.
        x, y, width, height = h.extents(size_cell)
        shot = w.shot("full-size-shown")
        check(width >= 90, f"the Size column is {width} pixels wide")
        px, py, pw, ph = h.extents(pane)
        right = max(h.extents(c)[0] + h.extents(c)[2] for c in headers)
        check(right >= px + pw - 30,
              f"the columns end at {right}, the pane at {px + pw}: a wide empty header is left")
        return shot
    finally:
        os.unlink(path)


def geometry(wid):
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(wid)],
                         capture_output=True, text=True).stdout
    v = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(v["X"]), int(v["Y"]), int(v["WIDTH"]), int(v["HEIGHT"])


SCENARIOS = [
    main_window_shown_first,
    full_size_shown,
]
