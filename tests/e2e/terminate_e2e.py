"""A signal to end, as at logout or from a terminal, while the program asks the
user something and while it copies: it ends within a few seconds with status 0
and leaves no unfinished copy under a real name."""
import os
import signal
import subprocess
import time

import harness as h
from harness import check, wait_until

LIMIT = 6.0  # seconds from the signal to the end of the program


def tree(root):
    return {os.path.relpath(os.path.join(d, n), root): os.path.getsize(os.path.join(d, n))
            for d, _, files in os.walk(root) for n in files}


def end_with(w, sig):
    proc, started = w.app.proc, time.monotonic()
    os.kill(proc.pid, sig)
    try:
        code = proc.wait(timeout=LIMIT + 10)
    except subprocess.TimeoutExpired:
        code = "still running"
    took = time.monotonic() - started
    w.app.stop()
    check(code == 0 and took <= LIMIT, f"ended with status {code} after {took:.1f} s")


def upload(w, name):
    w.ensure_active("Local pyftpdlib")
    w.app.menu("Refresh")
    w.wait_ready()
    w.drag_cell("Local files", name, "FTP folders", "incoming")


def big_upload(w, then):
    """then() runs while a large upload runs; nothing of it may stay under its name."""
    source, incoming = os.path.join(w.home, "huge.iso"), os.path.join(w.py_root, "incoming")
    with open(source, "wb") as f:
        f.truncate(300 * 1000 * 1000)
    home = tree(w.home)
    try:
        upload(w, "huge.iso")
        w.confirm_copy()
        wait_until("data on the server", lambda: sum(tree(incoming).values()) > 0)
        then()
        check("huge.iso" not in os.listdir(incoming), "an unfinished copy has the file's name")
        check(tree(w.home) == home, "the local files changed")
    finally:
        os.unlink(source)
        for name in os.listdir(incoming):
            os.unlink(os.path.join(incoming, name))


def signal_with_a_box_open(w):
    """SIGTERM with the copy's confirmation open, SIGINT with a cancelled copy's
    message open (the copy's window still held): each ends the program."""
    before = tree(w.py_root)
    upload(w, "hello.txt")
    w.app.alert("Confirm File Copy")
    end_with(w, signal.SIGTERM)
    check(tree(w.py_root) == before, "the server's files changed")

    def cancel_then_signal():
        status = wait_until("the status window", lambda: w.app.toplevel(
            ("dialog", "frame", "window"), "Velmar98 Communication Status", showing=True))
        h.click(wait_until("Cancel", lambda: h.child_named(
            status, "Cancel Communication", showing=True)))
        w.app.alert("Communication Cancelled")
        end_with(w, signal.SIGINT)
    big_upload(w, cancel_then_signal)


def signal_during_a_copy(w):
    """SIGTERM during a large upload stops it and ends the program."""
    big_upload(w, lambda: end_with(w, signal.SIGTERM))


SCENARIOS = [signal_with_a_box_open, signal_during_a_copy]
