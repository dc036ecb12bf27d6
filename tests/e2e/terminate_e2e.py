"""Ending the program with a signal, as at logout or from a terminal, while it asks
the user something and while it copies: it ends within a few seconds, as Exit
does, and leaves no unfinished copy under a real name."""
import os
import signal
import subprocess
import time

import harness as h
from harness import check, wait_until

PY_PROFILE = "Local pyftpdlib"
BIG = 300 * 1000 * 1000
LIMIT = 6.0  # seconds from the signal to the end of the program


def tree(root):
    """Every path below root with its size, hidden names included."""
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            out[os.path.relpath(path, root)] = None if name in dirs else os.path.getsize(path)
    return out


def end_with(w, sig):
    proc = w.app.proc
    started = time.monotonic()
    os.kill(proc.pid, sig)
    try:
        code = proc.wait(timeout=LIMIT + 10)
    except subprocess.TimeoutExpired:
        w.app.stop()
        raise h.Failure(f"the program was still running {LIMIT + 10:.0f} s after the signal")
    took = time.monotonic() - started
    w.app.stop()
    check(took <= LIMIT, f"the program took {took:.1f} s to end")
    check(code == 0, f"the program ended with status {code}")


def start_upload(w, name):
    w.ensure_active(PY_PROFILE)
    w.app.menu("Refresh")
    w.wait_ready()
    w.drag_cell("Local files", name, "FTP folders", "incoming")


def big_upload(w, then):
    """Starts the upload of a large file, runs then() while it runs, and checks
    that the server holds no unfinished file under its name and the local side
    is unchanged."""
    source = os.path.join(w.home, "huge.iso")
    with open(source, "wb") as f:
        f.truncate(BIG)
    home_before = tree(w.home)
    incoming = os.path.join(w.py_root, "incoming")
    try:
        start_upload(w, "huge.iso")
        w.confirm_copy()
        wait_until("data on the server", lambda: any(
            os.path.getsize(os.path.join(incoming, n)) > 0 for n in os.listdir(incoming)))
        then()
        check("huge.iso" not in os.listdir(incoming),
              "an unfinished copy is left on the server under the file's name")
        check(tree(w.home) == home_before, "the local files changed")
    finally:
        os.unlink(source)
        for name in os.listdir(incoming):
            os.unlink(os.path.join(incoming, name))


def signal_with_a_box_open(w):
    """SIGTERM while the copy's confirmation is on the screen, and SIGINT while
    a cancelled copy's message is, end the program; nothing is copied."""
    before = tree(w.py_root)
    start_upload(w, "hello.txt")
    w.app.alert("Confirm File Copy")
    end_with(w, signal.SIGTERM)
    check(tree(w.py_root) == before, "the server's files changed")

    def cancel_then_signal():
        status = wait_until("the status window", lambda: w.app.toplevel(
            ("dialog", "frame", "window"), "Velmar98 Communication Status", showing=True))
        h.click(wait_until("Cancel Communication", lambda: h.child_named(
            status, "Cancel Communication", showing=True)))
        w.app.alert("Communication Cancelled")
        end_with(w, signal.SIGINT)
    big_upload(w, cancel_then_signal)


def signal_during_a_copy(w):
    """SIGTERM during a large upload stops it: the program ends within a few
    seconds, and the server holds no unfinished file under the file's name."""
    big_upload(w, lambda: end_with(w, signal.SIGTERM))


SCENARIOS = [signal_with_a_box_open, signal_during_a_copy]
