"""Scenarios of a user without a mouse, and of a window that reads right: copies
made with the keyboard alone, files pasted from the desktop's clipboard, sizes
shown whole, the status window's first half second, and the start-up order."""
import filecmp
import os
import re
import shutil
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


def same_tree(a, b):
    """True when folders a and b hold the same names and the same bytes."""
    cmp = filecmp.dircmp(a, b)
    if cmp.left_only or cmp.right_only or cmp.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, cmp.common_files, shallow=False)
    return not mismatch and not errors and all(
        same_tree(os.path.join(a, d), os.path.join(b, d)) for d in cmp.common_dirs)


def same_item(a, b):
    if os.path.isdir(a):
        return os.path.isdir(b) and same_tree(a, b)
    return os.path.isfile(b) and filecmp.cmp(a, b, shallow=False)


# --- the keyboard alone ---------------------------------------------------------

def focused(w, pane):
    return h.has_state(w.app.pane(pane), "focused")


def tab_to(w, pane):
    """Tab, as often as it takes, until `pane` has the keyboard."""
    for _ in range(6):
        if focused(w, pane):
            return
        h.key("Tab")
        time.sleep(0.15)
    wait_until(f"{pane} to have the keyboard", lambda: focused(w, pane), timeout=5)


def selected_cell(w, pane):
    for c in w.app.cells(pane):
        try:
            if h.has_state(c, "selected"):
                return c
        except Exception:
            continue
    return None


def selected_name(w, pane):
    cell = selected_cell(w, pane)
    return cell.name if cell is not None else None


def settle(w):
    """A move in the FTP tree reads the folder, and keys are not taken meanwhile."""
    time.sleep(0.15)
    w.wait_enabled(timeout=60)


def arrow_to(w, pane, name, expand=()):
    """Home, then Down (and Right on the names in `expand`) until `name` is the
    selected item of `pane`."""
    h.key("Home")
    settle(w)
    for _ in range(60):
        cell = selected_cell(w, pane)
        current = cell.name if cell is not None else None
        if current == name:
            return
        if current in expand and not h.has_state(cell, "expanded"):
            h.key("Right")  # on an open item it would step into it
            settle(w)
        h.key("Down")
        settle(w)
    raise Failure(f'the arrows never reached "{name}" in {pane}')


def show_ftp_folder(w, folder):
    tab_to(w, "FTP folders")
    arrow_to(w, "FTP folders", folder)


def paste_by_keys(w, pane):
    h.key("ctrl+v")
    w.app.alert("Confirm File Copy")
    h.key("Return")  # OK is the default button
    wait_until('"Confirm File Copy" to close',
               lambda: all(a.name != "Confirm File Copy" for a in w.app.alerts()))
    w.wait_ready(timeout=120)
    errors = [a.name for a in w.app.alerts()]
    check(not errors, f"the paste ended with {errors}")


def list_shows_the_paste(w, pane, item, folder):
    """The list pasted into shows the new item, and the status bar its new count."""
    wait_until(f"{item} in {pane}", lambda: item in w.app.names_in(pane))
    shown = w.app.names_in(pane)
    check(sorted(shown) == sorted(os.listdir(folder)), f"{pane} shows {shown}")
    side = "Local" if pane.startswith("Local") else "FTP"
    count = w.app.status(f"{side} item count")
    check(count in (f"{side}: {len(shown)} Items", None), f'the count reads "{count}"')


def keyboard_copies(w):
    """Copies made with the keyboard alone in the four directions, a file and a
    folder each: Tab to a pane, arrows to the item, Ctrl+C, Tab to another pane,
    arrows to a folder, Ctrl+V, Enter on OK."""
    w.ensure_active(PY_PROFILE)
    home, ftp = w.home, w.py_root
    drive = home  # the first drive is the home folder, labelled with its path
    downloads = os.path.join(home, "Downloads")
    cases = [
        # (source side, item, destination pane, destination folder, source, result)
        ("local", "photo.jpg", "FTP folders", "incoming",
         os.path.join(home, "photo.jpg"), os.path.join(ftp, "incoming", "photo.jpg")),
        ("local", "Projects", "FTP folders", "incoming",
         os.path.join(home, "Projects"), os.path.join(ftp, "incoming", "Projects")),
        ("ftp", "beta.bin", "Local folders", "Downloads",
         os.path.join(ftp, "pub", "beta.bin"), os.path.join(downloads, "beta.bin")),
        ("ftp", "nested", "Local folders", "Downloads",
         os.path.join(ftp, "pub", "nested"), os.path.join(downloads, "nested")),
        ("local", "notes.md", "Local folders", "Downloads",
         os.path.join(home, "notes.md"), os.path.join(downloads, "notes.md")),
        ("local", "Projects", "Local folders", "Downloads",
         os.path.join(home, "Projects"), os.path.join(downloads, "Projects")),
        ("ftp", "alpha.txt", "FTP folders", "docs",
         os.path.join(ftp, "pub", "alpha.txt"), os.path.join(ftp, "docs", "alpha.txt")),
        ("ftp", "nested", "FTP folders", "docs",
         os.path.join(ftp, "pub", "nested"), os.path.join(ftp, "docs", "nested")),
    ]
    # These two are pasted with Ctrl+V in the list that shows the folder, the
    # others on the folder in the tree.
    by_list = {"photo.jpg", "beta.bin"}
    made = []
    try:
        for side, item, dest_pane, dest_folder, source, result in cases:
            what = f"{item} ({side}) into {dest_folder}"
            if side == "local":
                tab_to(w, "Local folders")
                arrow_to(w, "Local folders", drive)
                tab_to(w, "Local files")
                arrow_to(w, "Local files", item)
            else:
                show_ftp_folder(w, "pub")
                tab_to(w, "FTP files")
                arrow_to(w, "FTP files", item)
            h.key("ctrl+c")
            wait_until(f"the copy of {item} to be told",
                       lambda: w.app.status() in (f"Copied {item}", None))
            tab_to(w, dest_pane)
            arrow_to(w, dest_pane, dest_folder, expand=(drive,))
            made.append(result)
            if item in by_list:
                dest_pane = dest_pane.replace("folders", "files")
                tab_to(w, dest_pane)
            paste_by_keys(w, dest_pane)
            check(os.path.exists(result), f"{what}: nothing at {result}")
            check(same_item(source, result), f"{what}: the copy differs from its source")
            if item in by_list:
                list_shows_the_paste(w, dest_pane, item, os.path.dirname(result))
            if len(made) == 1:
                w.shot("keyboard-copy-done")
    finally:
        for path in made:
            if os.path.isdir(path):
                shutil.rmtree(path, ignore_errors=True)
            elif os.path.exists(path):
                os.unlink(path)


def rate_from_the_first_half_second(w):
    """Uploads of about three seconds each (the test server takes 20 MB a second):
    within a file's first half second the status window reads a rate above zero
    and a time left."""
    w.ensure_active(PY_PROFILE)
    pace = 20_000_000
    # The first file gives the test the time to find the window's lines.
    names = ("seven-seconds.bin", "three-seconds.bin")
    sizes = (140_000_000, 60_000_000)
    sources = [os.path.join(w.home, n) for n in names]
    targets = [os.path.join(w.py_root, "incoming", n) for n in names]
    for source, size in zip(sources, sizes):
        with open(source, "wb") as f:
            f.truncate(size)
    # One file at a time (the Transfers setting at 1), so that the second file's
    # start is the window's news; the program reads the setting at each copy.
    ini = os.path.join(w.config, "Velmar98", "registry.ini")
    with open(ini) as f:
        settings = f.read()
    with open(ini, "w") as f:
        f.write(re.sub(r"(?m)^\[SOFTWARE\]$", r"[SOFTWARE]\nVelmar98a\\Transfers=1", settings,
                       count=1))
    try:
        w.app.menu("Refresh")
        w.wait_ready()
        tab_to(w, "Local folders")
        arrow_to(w, "Local folders", w.home)
        tab_to(w, "Local files")
        arrow_to(w, "Local files", names[0])
        h.key("shift+Down")  # both files, in the list's order
        h.key("ctrl+c")
        wait_until("the copy to be told", lambda: w.app.status() in ("Copied 2 items", None))
        tab_to(w, "FTP folders")
        arrow_to(w, "FTP folders", "incoming")
        h.key("ctrl+v")
        w.app.alert("Confirm File Copy")
        h.key("Return")
        # While a copy runs, the program answers the accessibility bus only
        # between blocks, so the lines are found during the first file and
        # watched for the second file's start.
        win = wait_until("the status window", lambda: w.app.toplevel(
            ("dialog", "frame", "window"), STATUS_TITLE, showing=True), timeout=20,
            interval=0.02)
        lines = {}
        for c in h.children(win):
            if c.name in ("Copying to", "Bytes copied", "Bytes per second",
                          "Time for this file", "Time left for this file"):
                lines[c.name] = c
        check(len(lines) == 5, f"the status window's lines found: {sorted(lines)}")
        seen = None
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and seen is None:
            if not lines["Copying to"].description.endswith(names[1]):
                time.sleep(0.05)
                continue
            copied = lines["Bytes copied"].description.split(" of ")[0]
            rate = lines["Bytes per second"].description
            left = lines["Time left for this file"].description
            elapsed = lines["Time for this file"].description
            if copied.isdigit() and int(copied) <= pace // 2:
                if rate not in ("", "0") and left:
                    seen = (copied, rate, left, elapsed)
                    w.shot("status-window-time-left")
            elif copied.isdigit():
                raise Failure(f"the second file was first read {copied} bytes in, past its "
                              f"first half second (rate {rate!r}, time left {left!r})")
        check(seen is not None, "the second file's start was never seen")
        copied, rate, left, elapsed = seen
        check(elapsed == "00:00:00", f"read at {elapsed} into the file")
        wait_until("the uploads to end", lambda: w.app.enabled(), timeout=60)
        w.wait_ready()
        for source, target in zip(sources, targets):
            check(same_item(source, target), f"{target} differs from its source")
    finally:
        with open(ini) as f:
            settings = f.read()
        with open(ini, "w") as f:
            f.write(re.sub(r"(?m)^Velmar98a\\Transfers=1\n", "", settings))
        for path in sources + targets:
            if os.path.exists(path):
                os.unlink(path)


def clip_owner_binary(w):
    path = os.environ.get("VELMAR_CLIP_OWNER") or os.path.join(
        os.path.dirname(w.app.binary), "tests", "e2e", "velmar_clip_owner")
    check(os.access(path, os.X_OK), f"no clipboard owner program at {path}")
    return path


def files_from_the_desktop_clipboard(w):
    """Files a file manager copied (text/uri-list on the clipboard), pasted with
    Ctrl+V onto an FTP folder (an upload) and onto a local folder (a copy)."""
    w.ensure_active(PY_PROFILE)
    desktop = os.path.join(w.base, "desktop")
    files = {"report one.pdf": b"%PDF " + bytes(range(256)) * 40,
             "Album/beach #1.jpg": bytes(range(255, -1, -1)) * 300,
             "Album/empty.txt": b""}
    for rel, data in files.items():
        path = os.path.join(desktop, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    copied = [os.path.join(desktop, "report one.pdf"), os.path.join(desktop, "Album")]
    owner = w.procs.start("clip-owner", [clip_owner_binary(w)] + copied)
    log = os.path.join(w.out, "e2e-clip-owner.log")
    made = []
    try:
        wait_until("the clipboard to hold the files",
                   lambda: os.path.exists(log) and b"owner" in open(log, "rb").read())
        for pane, folder, root in (("FTP folders", "incoming", os.path.join(w.py_root, "incoming")),
                                   ("Local folders", "Downloads",
                                    os.path.join(w.home, "Downloads"))):
            tab_to(w, pane)
            arrow_to(w, pane, folder, expand=(w.home,))
            made += [os.path.join(root, "report one.pdf"), os.path.join(root, "Album")]
            paste_by_keys(w, pane)
            for source in copied:
                result = os.path.join(root, os.path.basename(source))
                check(same_item(source, result), f"{result} differs from {source}")
        check(all(os.path.exists(p) for p in copied), "a pasted file left the desktop")
    finally:
        w.procs.stop(owner)
        for path in made:
            if os.path.isdir(path):
                shutil.rmtree(path, ignore_errors=True)
            elif os.path.exists(path):
                os.unlink(path)
        shutil.rmtree(desktop, ignore_errors=True)


def shown_context_menu(w):
    return wait_until("the context menu on the accessibility bus",
                      lambda: w.app.toplevel("popup menu", showing=True), timeout=10)


def menus_and_tree_items_for_a_screen_reader(w):
    """The panes' context menus are on the accessibility bus while shown, with
    Copy and Paste after the panes' own items, and work through their actions;
    a tree item's select action selects that item."""
    w.ensure_active(PY_PROFILE)
    tab_to(w, "Local folders")
    arrow_to(w, "Local folders", w.home)
    tab_to(w, "Local files")
    arrow_to(w, "Local files", "hello.txt")
    h.key("Menu")
    menu = shown_context_menu(w)
    items = [c.name for c in h.children(menu) if h.role(c) == "menu item"]
    check(items == ["New Folder", "Rename", "Delete", "Copy", "Paste"],
          f"the list's menu reads {items}")
    check(menu.name == "Local files", f'the menu is read as "{menu.name}"')
    w.shot("context-menu-copy-paste")
    h.do_action(h.child_named(menu, "Copy"))
    wait_until("the menu to close", lambda: w.app.toplevel("popup menu", showing=True) is None)
    wait_until('"Copied hello.txt"', lambda: w.app.status() in ("Copied hello.txt", None))

    # Each FTP folder's own select action picks that folder, not the one above.
    for name in ("pub", "incoming", "docs"):
        item = next(c for c in w.app.cells("FTP folders") if c.name == name)
        h.do_action(item, ("Toggle",))
        w.wait_ready()
        check(selected_name(w, "FTP folders") == name,
              f'the action of "{name}" selected "{selected_name(w, "FTP folders")}"')
    # "docs" is selected: its menu's Paste puts the copy there.
    tab_to(w, "FTP folders")
    h.key("Menu")
    menu = shown_context_menu(w)
    items = [c.name for c in h.children(menu) if h.role(c) == "menu item"]
    check(items[-2:] == ["Copy", "Paste"], f"the tree's menu reads {items}")
    h.do_action(h.child_named(menu, "Paste"))
    w.app.alert("Confirm File Copy")
    h.key("Return")
    w.wait_ready()
    result = os.path.join(w.py_root, "docs", "hello.txt")
    elsewhere = os.path.join(w.py_root, "hello.txt")
    try:
        check(not os.path.exists(elsewhere), "the menu's Paste copied into the FTP root")
        check(same_item(os.path.join(w.home, "hello.txt"), result),
              "the paste from the menu did not copy hello.txt into docs")
    finally:
        for path in (result, elsewhere):
            if os.path.exists(path):
                os.unlink(path)


def geometry(wid):
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(wid)],
                         capture_output=True, text=True).stdout
    v = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(v["X"]), int(v["Y"]), int(v["WIDTH"]), int(v["HEIGHT"])


SCENARIOS = [
    main_window_shown_first,
    full_size_shown,
    keyboard_copies,
    rate_from_the_first_half_second,
    files_from_the_desktop_clipboard,
    menus_and_tree_items_for_a_screen_reader,
]
