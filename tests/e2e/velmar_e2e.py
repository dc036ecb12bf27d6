#!/usr/bin/python3
"""A user's day with Velmar98, in a real X display, against real FTP servers.

usage: velmar_e2e.py --program PATH/velmar98 --out DIR [--only NAME[,NAME...]]

Run under dbus-run-session (run_e2e.sh does that). Each scenario is reported as
PASS or FAIL; the exit code is non-zero when any fails. On a failure a
screenshot of the display is saved in DIR as e2e-<scenario>.png, beside the
logs of the program and the servers.
"""
import argparse
import filecmp
import hashlib
import importlib.util
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import harness as h
import keyboard_e2e
import sftp_e2e
import terminate_e2e
from harness import Failure, check, wait_until

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIZE_OF_BIG_FILE = 300 * 1000 * 1000
SERVER_RATE = 20 * 1000 * 1000  # bytes per second per data connection

PY_PROFILE = "Local pyftpdlib"
VS_PROFILE = "Local vsftpd"


def load_demo_module():
    spec = importlib.util.spec_from_file_location("velmar_demo",
                                                  os.path.join(REPO, "scripts", "demo.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def pseudo_random(n, seed):
    out = bytearray()
    block = seed.encode()
    while len(out) < n:
        block = hashlib.sha256(block).digest()
        out += block
    return bytes(out[:n])


def same_tree(a, b):
    """True when folders a and b hold the same names and the same bytes."""
    cmp = filecmp.dircmp(a, b)
    if cmp.left_only or cmp.right_only or cmp.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, cmp.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in cmp.common_dirs)


def file_equal(a, b):
    return (os.path.isfile(a) and os.path.isfile(b)
            and os.path.getsize(a) == os.path.getsize(b) and filecmp.cmp(a, b, shallow=False))


class World:
    def __init__(self, program, out):
        self.out = out
        self.base = tempfile.mkdtemp(prefix="velmar-e2e-")
        self.home = os.path.join(self.base, "home")
        self.work = os.path.join(self.base, "work")
        self.config = os.path.join(self.base, "config")
        self.py_root = os.path.join(self.base, "ftp-pyftpdlib")
        self.vs_root = os.path.join(self.base, "ftp-vsftpd")
        for d in (self.home, self.work, self.config, self.py_root, self.vs_root):
            os.makedirs(d)
        self.procs = h.Processes(out)
        self.display = h.Display(self.procs)
        self.py = h.PyftpdServer(self.procs, self.py_root, rate=SERVER_RATE)
        self.vs = h.VsftpdServer(self.procs, self.vs_root, self.base)
        self.app = h.Program(self.procs, program, self.work, self.home, self.config)
        self.demo = load_demo_module()

    # Setting up and tearing down.
    def start(self):
        self.fill_home()
        self.fill_servers()
        self.display.start()
        h.start_accessibility_bus(self.procs)
        self.py.start()
        self.vs.start()

    def stop(self):
        self.procs.stop_all()
        shutil.rmtree(self.base, ignore_errors=True)

    def fill_home(self):
        files = {
            "hello.txt": b"Hello from the local side.\n",
            "photo.jpg": pseudo_random(180_000, "photo"),
            "notes.md": pseudo_random(2_500, "notes"),
            "archive.tar": pseudo_random(1_234_567, "archive"),
            ".hidden-settings": b"settings\n",
            "Projects/plan.txt": b"1. write\n2. test\n",
            "Projects/Web/index.html": b"<html></html>\n",
            "Projects/Web/logo.png": pseudo_random(40_000, "logo"),
            "Projects/Web/css/site.css": b"body { margin: 0 }\n",
            "Projects/empty-folder/.keep": b"",
        }
        for rel, data in files.items():
            write_file(os.path.join(self.home, rel), data)
        os.makedirs(os.path.join(self.home, "Downloads"))

    def fill_servers(self):
        for root in (self.py_root, self.vs_root):
            write_file(os.path.join(root, "readme.txt"), b"server readme\n")
            write_file(os.path.join(root, "pub", "alpha.txt"), pseudo_random(1_500, "alpha"))
            write_file(os.path.join(root, "pub", "beta.bin"), pseudo_random(70_000, "beta"))
            write_file(os.path.join(root, "pub", "nested", "deep.txt"), b"deep\n")
            os.makedirs(os.path.join(root, "incoming"))
            os.makedirs(os.path.join(root, "docs"))
        h.share(self.vs_root)

    # Looking.
    def shot(self, name):
        path = os.path.join(self.out, f"e2e-{name}.png")
        try:
            self.display.screenshot(path)
        except Exception:
            return None
        return path

    def wait_title(self, expected, timeout=40):
        return wait_until(f'the title "{expected}"', lambda: self.app.title() == expected,
                          timeout)

    def wait_enabled(self, timeout=60):
        return wait_until("the main window to be enabled", self.app.enabled, timeout)

    def wait_ready(self, timeout=60):
        """The main window shown, enabled, with "Ready" in its status bar."""
        self.wait_enabled(timeout)
        wait_until('"Ready" in the status bar',
                   lambda: self.app.status() in ("Ready", None), timeout)

    def ftp_root_children(self):
        return [c.name for c in self.app.cells("FTP folders")]

    # Acting.
    def start_program(self):
        self.app.start()
        self.app.wait_app()

    def restart_with_profiles(self, profiles):
        """Writes the profile file itself and starts the program again: the way back
        to a known state when an earlier scenario left the program elsewhere."""
        self.app.stop()
        data = self.demo.encode_profiles(profiles)
        with open(os.path.join(self.work, "Profiles.dat"), "wb") as f:
            f.write(data)
        self.start_program()

    def profile(self, name, address, user=b"", password=b"", default=0):
        return {"name": name.encode(), "address": address.encode(),
                "anonymous": 0 if user else 1, "user": user, "password": password,
                "initial_dir": b"", "comment": b"", "default": default, "active": default}

    def ensure_active(self, name):
        """Makes `name` the active profile, connected, if the program is not there."""
        if self.app.alive():
            try:
                if self.app.title() == f"Velmar98 - {name}" and self.app.enabled() \
                        and "No Connection" not in self.ftp_root_children():
                    return
            except Exception:
                pass
        self.restart_with_profiles([
            self.profile(VS_PROFILE, self.vs.address, default=int(name == VS_PROFILE)),
            self.profile(PY_PROFILE, self.py.address, h.PyftpdServer.user.encode(),
                         h.PyftpdServer.password.encode(), default=int(name == PY_PROFILE)),
        ])
        self.wait_title(f"Velmar98 - {name}")
        self.wait_ready()

    def recover(self):
        """After a failure: close what was left open, restart a dead program."""
        if not self.app.alive():
            return
        try:
            for _ in range(5):
                boxes = self.app.alerts()
                if not boxes:
                    break
                for box in boxes:
                    for name in ("OK", "Cancel", "No"):
                        b = h.find_one(box, "push button", name=name, showing=True)
                        if b:
                            h.click(b)
                            break
                time.sleep(0.5)
            dialog = self.app.toplevel("dialog", "Velmar98 Profiles", showing=True)
            if dialog:
                close = h.find_one(dialog, "push button", name="Close")
                if close:
                    h.click(close)
            h.key("Escape")
        except Exception:
            self.app.stop()

    # Dragging with the real mouse.
    def drag_cell(self, from_pane, from_name, to_pane, to_name):
        source = self.app.cell(from_pane, from_name)
        target = self.app.cell(to_pane, to_name)
        h.drag(h.center(source), h.center(target))

    def tree_cell(self, pane, name, under):
        """The tree item `name` that is a child of the item `under`: the trees
        expose their items as one flat list, so the child is told by its place,
        below its parent and one step further in."""
        def look():
            cells = self.app.cells(pane)
            parents = [c for c in cells if c.name == under]
            if not parents:
                return None
            px, py, _, _ = h.extents(parents[0])
            kids = [(h.extents(c), c) for c in cells if c.name == name]
            kids = [(e, c) for e, c in kids if e[1] > py and e[0] > px]
            return min(kids, key=lambda k: k[0][0])[1] if kids else None
        return wait_until(f'"{name}" under "{under}" in {pane}', look)

    def select(self, pane, name):
        """Selects an item with a click, unless it is selected already: a click on
        the selected item opens its name for editing."""
        item = self.app.cell(pane, name)
        if not h.has_state(item, "selected"):
            h.click(item)
            wait_until(f'"{name}" to be selected',
                       lambda: h.has_state(self.app.cell(pane, name), "selected"))

    def focus_row(self, pane, name):
        """Selects a list row and gives its pane the keyboard focus: a click on its
        "Modified" cell, which opens no editor even when the row is selected."""
        cells = self.app.cells(pane)
        for i in range(0, len(cells) - 2, 3):
            if cells[i].name == name:
                h.click(cells[i + 2])
                wait_until(f'"{name}" to be selected',
                           lambda: h.has_state(self.app.cell(pane, name), "selected"))
                return
        raise Failure(f'no row "{name}" in {pane}')

    def expand(self, pane, name, child):
        """Shows `child` under the tree item `name`, with a click on its arrow."""
        if any(c.name == child for c in self.app.cells(pane)):
            return
        item = self.app.cell(pane, name)
        x, y, _, height = h.extents(item)
        h.click_at(x - 10, y + height // 2)
        self.app.cell(pane, child)

    def open_ftp_folder(self, name):
        """Selects an FTP folder under the root and waits for its listing."""
        self.select("FTP folders", name)
        self.wait_ready()

    def confirm_copy(self):
        text = self.app.answer("Confirm File Copy", "OK")
        check("Are you sure you want to copy the selected item(s)?" in text,
              f'unexpected confirmation text "{text}"')


# --- scenarios ----------------------------------------------------------------

def first_start(w):
    """No profile file, no settings: the sample profile, its server unreachable."""
    w.start_program()
    text = w.app.answer("Error Opening FTP Connection", "OK", timeout=60)
    check("The program was unable to connect to the requested FTP site." in text,
          f'unexpected text "{text}"')
    w.wait_title("Velmar98 - Sample Profile")
    w.wait_ready()
    data = open(os.path.join(w.work, "Profiles.dat"), "rb").read()
    check(data[:4] == b"\x01\x00\x00\x00" and b"Sample Profile" in data,
          "Profiles.dat does not hold the sample profile alone")
    ini = os.path.join(w.config, "Velmar98", "registry.ini")
    check(os.path.isfile(ini), f"no settings written at {ini}")
    check(w.ftp_root_children() == ["No Connection"],
          f"the FTP tree shows {w.ftp_root_children()} instead of No Connection")
    wid = w.app.main_window_id()
    check("_NET_WM_STATE_MAXIMIZED" in h.window_state(wid), "the main window is not maximised")
    # The local side starts at the first drive, the home folder.
    names = w.app.names_in("Local files")
    # A name that begins with "." is shown too: it may be a leftover to delete.
    expected = ["Downloads", "Projects", ".hidden-settings", "archive.tar", "hello.txt",
                "notes.md", "photo.jpg"]
    check(names == expected, f"the local list shows {names}, expected {expected}")


def read_by_a_screen_reader(w):
    """What a screen reader finds: the window's title, the status bar's texts, a
    name for every pane, header and item."""
    if not w.app.alive() or not w.app.enabled():
        w.ensure_active(PY_PROFILE)
    problems = []
    title = w.app.title()
    frame = w.app.frame()
    if frame is None or frame.name != title:
        problems.append(f'the main window is read as "{frame and frame.name}", '
                        f'its title is "{title}"')
    status = {n: w.app.status(n) for n in ("Status", "Local item count", "FTP item count")}
    for name, text in status.items():
        if not text:
            problems.append(f'the status bar pane "{name}" has no readable text')
    for pane in ("Local folders", "Local files", "FTP folders", "FTP files"):
        for c in h.children(w.app.pane(pane)):
            r = h.role(c)
            if r == "table column header" and (not c.name or c.name.isdigit()):
                problems.append(f'{pane} has a column header read as "{c.name}"')
        names = w.app.names_in(pane, columns=3 if "files" in pane else 1)
        if any(not n for n in names):
            problems.append(f"{pane} has items without a name: {names}")
    check(not problems, "; ".join(problems))


def profile_made_in_dialog(w):
    """Two profiles for the local servers made in the Profiles dialog, one active."""
    if not w.app.alive():
        w.start_program()
        # The sample profile's server cannot be reached from here.
        w.app.answer("Error Opening FTP Connection", "OK", timeout=60)
        w.wait_ready()
    w.app.menu("Profiles")
    dlg = w.app.dialog("Velmar98 Profiles")

    def control(name, roles=None):
        return wait_until(f'"{name}" in the Profiles dialog',
                          lambda: h.find_one(dlg, roles, name=name, showing=True))

    edits = ("text", "password text")

    def fill(field, text):
        h.click(control(field, edits))
        h.key("ctrl+a")
        h.type_text(text)
        wait_until(f'"{field}" to read "{text}"',
                   lambda: field == "Password" or h.text_of(control(field, edits)) == text)

    def new_profile(name, address, user=None, password=None, active=False):
        h.click(control("New Profile", "push button"))
        control("Add Profile", "push button")
        fill("Profile Name", name)
        fill("FTP Address", address)
        if user is None:
            h.click(control("Anonymous (No User ID or Password)", "check box"))
        else:
            fill("User ID", user)
            fill("Password", password)
        fill("Comment", "made by the end-to-end suite")
        if active:
            h.click(control("Active Profile", "check box"))
            h.click(control("Default Profile (active when program starts)", "check box"))
        h.click(control("Add Profile", "push button"))
        wait_until(f'"{name}" in the profile list',
                   lambda: h.find_one(h.find_one(dlg, "list", name="Profiles"),
                                      "list item", name=name))
        control("New Profile", "push button")  # back in edit mode

    new_profile(VS_PROFILE, w.vs.address)
    new_profile(PY_PROFILE, w.py.address, h.PyftpdServer.user, h.PyftpdServer.password,
                active=True)
    check(h.has_state(control("Active Profile", "check box"), "checked"),
          "the new profile is not shown as active")
    h.click(control("Close", "push button"))
    wait_until("the Profiles dialog to close",
               lambda: not w.app.dialog_shown("Velmar98 Profiles"))
    w.wait_title(f"Velmar98 - {PY_PROFILE}")
    w.wait_ready()
    wait_until("the FTP root", lambda: "/" in w.ftp_root_children())
    saved = w.demo.decode_profiles(open(os.path.join(w.work, "Profiles.dat"), "rb").read())
    names = [p["name"] for p in saved]
    check(names == [b"Sample Profile", VS_PROFILE.encode(), PY_PROFILE.encode()],
          f"Profiles.dat holds {names}")
    defaults = [p["name"] for p in saved if p["default"]]
    check(defaults == [PY_PROFILE.encode()], f"the default profiles are {defaults}")
    check(saved[2]["password"] == h.PyftpdServer.password.encode(), "the password was not kept")


def ftp_side_browsed(w):
    """The FTP tree's folders, a folder's files in the FTP list, a folder expanded."""
    w.ensure_active(PY_PROFILE)
    tree = w.ftp_root_children()
    for folder in ("docs", "incoming", "pub"):
        check(folder in tree, f'"{folder}" missing from the FTP tree: {tree}')
    check("readme.txt" not in tree, "a file is shown in the FTP tree")
    w.open_ftp_folder("pub")
    wait_until("the listing of /pub", lambda: w.app.names_in("FTP files") ==
               ["nested", "alpha.txt", "beta.bin"])
    count = w.app.status("FTP item count")
    check(count in ("FTP: 3 Items", None), f'FTP count reads "{count}"')
    sizes = dict(zip(w.app.names_in("FTP files"), w.app.names_in("FTP files", 1)))
    check(sizes == {"nested": "", "alpha.txt": "1,500", "beta.bin": "70,000"},
          f"the sizes shown are {sizes}")
    w.expand("FTP folders", "pub", "nested")
    w.open_ftp_folder("nested")
    wait_until("the listing of /pub/nested", lambda: w.app.names_in("FTP files") ==
               ["deep.txt"])


def file_dragged_to_ftp_tree(w):
    """A file dragged with the mouse from the local list onto an FTP tree folder."""
    w.ensure_active(PY_PROFILE)
    w.drag_cell("Local files", "photo.jpg", "FTP folders", "incoming")
    w.confirm_copy()
    target = os.path.join(w.py_root, "incoming", "photo.jpg")
    wait_until("the copy to end", lambda: w.app.enabled() and os.path.isfile(target)
               and os.path.getsize(target) == 180_000, timeout=60)
    w.wait_ready()
    check(file_equal(os.path.join(w.home, "photo.jpg"), target),
          "the file on the server differs from the local file")
    check(not w.app.alerts(), f"a message box is open: {[a.name for a in w.app.alerts()]}")


def folder_to_server_and_back(w):
    """A folder with subfolders to the server (local list to FTP tree) and back
    (FTP list to a local tree folder)."""
    w.ensure_active(PY_PROFILE)
    w.drag_cell("Local files", "Projects", "FTP folders", "incoming")
    w.confirm_copy()
    uploaded = os.path.join(w.py_root, "incoming", "Projects")
    w.wait_ready(timeout=90)
    check(os.path.isdir(uploaded), "the folder was not created on the server")
    # Names beginning with a dot are not copied by the folder copy's walk.
    source = os.path.join(w.home, "Projects")
    check(file_equal(os.path.join(source, "Web", "logo.png"),
                     os.path.join(uploaded, "Web", "logo.png")),
          "Web/logo.png differs on the server")
    check(os.path.isfile(os.path.join(uploaded, "Web", "css", "site.css")),
          "the sub-sub-folder css was not copied")

    w.open_ftp_folder("incoming")
    w.app.cell("FTP files", "Projects")
    home_item = w.home
    w.expand("Local folders", home_item, "Downloads")
    w.drag_cell("FTP files", "Projects", "Local folders", "Downloads")
    w.confirm_copy()
    back = os.path.join(w.home, "Downloads", "Projects")
    w.wait_ready(timeout=90)
    check(os.path.isdir(back), "the folder did not come back")
    check(same_tree(uploaded, back), "the folder that came back differs from the server's")


def folder_ops_on(w, pane, folder_path, side):
    """New Folder from the context menu, renamed in place, then deleted."""
    app = w.app
    rows = len(app.names_in(pane))
    x, y, width, height = h.extents(app.pane(pane))
    # A right click below the last row, on empty space, offers New Folder.
    app.context_menu(x + width // 2, y + height - 12, "n")
    made = os.path.join(folder_path, "NewFolder1")
    wait_until("NewFolder1 to be made", lambda: os.path.isdir(made), timeout=20)
    app.cell(pane, "NewFolder1")
    time.sleep(0.3)  # the name editor opens right after the row
    h.key("ctrl+a")
    h.type_text("Made by hand")
    h.key("Return")
    renamed = os.path.join(folder_path, "Made by hand")
    wait_until("the rename", lambda: os.path.isdir(renamed) and not os.path.exists(made))
    app.cell(pane, "Made by hand")
    check(len(app.names_in(pane)) == rows + 1, f"{pane} did not gain exactly one row")
    # Deleted through the context menu of its row (the right click selects it).
    app.context_menu(*h.center(app.cell(pane, "Made by hand")), "d")
    text = app.answer("Confirm File Delete", "OK")
    check("Are you sure you want to delete the selected item(s)?" in text,
          f'unexpected text "{text}"')
    wait_until(f"the folder to go on the {side} side", lambda: not os.path.exists(renamed))
    wait_until("the list without it", lambda: "Made by hand" not in app.names_in(pane))
    check(len(app.names_in(pane)) == rows, f"{pane} lost other rows: {app.names_in(pane)}")
    w.wait_ready()


def no_box_for(w, caption, seconds):
    """Watches `seconds` long that the message box `caption` does not come up; if
    it does, it is closed (and the name editor that follows it) and the caption
    returned."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if any(a.name == caption for a in w.app.alerts()):
            w.app.answer(caption, "OK")
            h.key("Escape")
            return caption
        time.sleep(0.2)
    return None


def unchanged_name_asks_nothing(w):
    """A name opened for editing and left as it was is no rename and no error,
    in both trees and in a list."""
    w.ensure_active(PY_PROFILE)
    w.expand("Local folders", w.home, "Downloads")
    faults = []
    for pane, name, path in (("FTP folders", "docs", os.path.join(w.py_root, "docs")),
                             ("Local folders", "Downloads", os.path.join(w.home, "Downloads")),
                             ("Local files", "Projects", os.path.join(w.home, "Projects"))):
        if pane == "Local files":
            w.select("Local folders", w.home)
        w.select(pane, name)
        w.wait_ready()
        h.click(w.app.cell(pane, name))  # a click on the selected item: edit its name
        time.sleep(1.0)  # the editor opens after the double-click time
        h.key("Return")
        if no_box_for(w, "Error Renaming File", 2.5):
            faults.append(f'{pane}: "Error Renaming File" for the unchanged name "{name}"')
        check(os.path.isdir(path), f"{path} is gone after an unchanged edit")
        w.app.cell(pane, name)
    check(not faults, "; ".join(faults))


def folders_made_renamed_deleted(w):
    """A folder created, renamed and deleted on each side."""
    w.ensure_active(PY_PROFILE)
    w.select("Local folders", w.home)
    w.wait_ready()
    folder_ops_on(w, "Local files", w.home, "local")
    w.open_ftp_folder("docs")
    folder_ops_on(w, "FTP files", os.path.join(w.py_root, "docs"), "FTP")


def sort_kept_after_restart(w):
    """Sort By Size checks Size only, orders both lists, and holds after a restart."""
    w.ensure_active(PY_PROFILE)
    w.select("Local folders", w.home)
    w.wait_ready()
    w.app.menu("Sort By", "Size")
    by_size = ["Downloads", "Projects", ".hidden-settings", "hello.txt", "notes.md",
               "photo.jpg", "archive.tar"]
    wait_until("the local list sorted by size",
               lambda: w.app.names_in("Local files") == by_size)
    for entry, checked in (("Name", False), ("Extension", False), ("Size", True),
                           ("Date", False)):
        check(w.app.menu_checked("Sort By", entry) == checked,
              f'"{entry}" is {"not " if checked else ""}checked')
    w.app.menu("Exit")
    wait_until("the program to end", lambda: not w.app.alive(), timeout=30)
    check(w.app.proc.returncode == 0, f"the program ended with {w.app.proc.returncode}")
    ini = open(os.path.join(w.config, "Velmar98", "registry.ini")).read()
    check("SortType=3" in ini.replace(" ", ""), f"SortType 3 not saved:\n{ini}")
    w.start_program()
    w.wait_title(f"Velmar98 - {PY_PROFILE}")
    w.wait_ready()
    check(w.app.menu_checked("Sort By", "Size"), "Size is not checked after the restart")
    check(not w.app.menu_checked("Sort By", "Name"), "Name is checked after the restart")
    wait_until("the local list sorted by size after the restart",
               lambda: w.app.names_in("Local files") == by_size)
    w.app.menu("Sort By", "Name")
    wait_until("the local list sorted by name",
               lambda: w.app.names_in("Local files")[:2] == ["Downloads", "Projects"]
               and w.app.names_in("Local files")[2:4] == [".hidden-settings", "archive.tar"])


def refresh_after_server_away(w):
    """Refresh while the server is down: No Connection; up again: browsing again."""
    w.ensure_active(PY_PROFILE)
    w.py.stop()
    try:
        w.app.menu("Refresh")
        w.app.answer("Error Opening FTP Connection", "OK", timeout=60)
        wait_until("No Connection", lambda: w.ftp_root_children() == ["No Connection"])
        w.wait_ready()
        check(w.app.title() == f"Velmar98 - {PY_PROFILE}", f"the title is {w.app.title()}")
        check(not w.app.names_in("FTP files"), "the FTP list still shows files")
    finally:
        if w.py.proc is None:
            w.py.start()
    w.app.menu("Refresh")
    wait_until("the FTP root after the server came back",
               lambda: "/" in w.ftp_root_children(), timeout=60)
    w.wait_ready()
    wait_until("the server's folders", lambda: "pub" in w.ftp_root_children())
    wait_until("the root listing", lambda: "readme.txt" in w.app.names_in("FTP files"))


def make_big_file(w):
    path = os.path.join(w.home, "big.iso")
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.truncate(SIZE_OF_BIG_FILE)
    w.app.menu("Refresh")  # let the local list show it
    w.wait_ready()
    return path


def copy_in_progress(folder, name):
    """Where a copy's data is: under its hidden temporary name while it runs, under
    its own name once whole."""
    for entry in os.listdir(folder):
        if entry.startswith(f".{name}.velmar-part-"):
            return os.path.join(folder, entry)
    return os.path.join(folder, name)


def size_of(path):
    return os.path.getsize(path) if os.path.exists(path) else 0


def status_window(w):
    return w.app.dialog("Velmar98 Communication Status", timeout=60)


def large_copy_cancelled(w):
    """A 300 MB upload stopped with the status window's Cancel Communication."""
    w.ensure_active(PY_PROFILE)
    make_big_file(w)
    w.drag_cell("Local files", "big.iso", "FTP folders", "incoming")
    w.confirm_copy()
    win = status_window(w)
    cancel = wait_until("Cancel Communication", lambda: h.child_named(
        win, "Cancel Communication", showing=True))
    folder = os.path.join(w.py_root, "incoming")
    wait_until("data on the server", lambda: size_of(copy_in_progress(folder, "big.iso")) > 0)
    check(not w.app.enabled(), "the main window is enabled during the copy")
    h.click(cancel)
    text = w.app.answer("Communication Cancelled", "OK", timeout=30)
    check("The communication session has been cancelled by the user." in text,
          f'unexpected text "{text}"')
    # The check after the block loop may report it once more.
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and w.app.alive():
        if any(a.name == "Communication Cancelled" for a in w.app.alerts()):
            w.app.answer("Communication Cancelled", "OK")
        elif not w.app.dialog_shown("Velmar98 Communication Status"):
            break
        time.sleep(0.2)
    w.wait_ready()
    # A cancelled copy leaves nothing: no part beside the name, nothing under it.
    wait_until("the part to be removed",
               lambda: not [e for e in os.listdir(folder) if "big.iso" in e])
    check(not w.app.dialog_shown("Velmar98 Communication Status"),
          "the status window is still shown")


def hide_program_during_copy(w):
    """Hide Program minimises the window; restored during the copy it stays
    disabled; when the copy ends it is usable again."""
    w.ensure_active(PY_PROFILE)
    source = make_big_file(w)
    w.drag_cell("Local files", "big.iso", "FTP folders", "incoming")
    w.confirm_copy()
    win = status_window(w)
    hide = wait_until("Hide Program", lambda: h.child_named(
        win, "Hide Program", showing=True))
    h.click(hide)
    wid = w.app.main_window_id()
    wait_until("the main window to be minimised",
               lambda: "Iconic" in h.window_state(wid) or "HIDDEN" in h.window_state(wid))
    check(not h.visible_windows_named("Velmar98 Communication Status"),
          "the status window stays on the screen while the program is hidden")
    folder = os.path.join(w.py_root, "incoming")
    target = os.path.join(folder, "big.iso")
    check(not os.path.exists(target), "the copy ended before the test could "
          "restore the window (the server's rate limit is too high)")
    h.xdo("windowactivate", wid)
    wait_until("the main window to come back", lambda: "Normal" in h.window_state(wid)
               and "HIDDEN" not in h.window_state(wid))
    check(not os.path.exists(target), "the copy ended before the window came back")
    check(not w.app.enabled(), "the restored window is enabled while the copy runs")
    wait_until("the copy to end", lambda: w.app.enabled(), timeout=120)
    w.wait_ready()
    check(file_equal(source, target), "the big file on the server differs")
    os.unlink(target)
    os.unlink(source)


def vsftpd_round_trip(w):
    """The vsftpd profile made active in the dialog; a file up and another down."""
    w.ensure_active(PY_PROFILE)
    w.app.menu("Profiles")
    dlg = w.app.dialog("Velmar98 Profiles")
    plist = wait_until("the profile list", lambda: h.find_one(dlg, "list", name="Profiles"))
    h.click(wait_until(VS_PROFILE, lambda: h.find_one(plist, "list item", name=VS_PROFILE)))
    active = wait_until("Active Profile", lambda: h.find_one(dlg, "check box",
                                                            name="Active Profile"))
    wait_until("the vsftpd profile shown", lambda: h.text_of(
        h.find_one(dlg, "text", name="FTP Address")) == w.vs.address)
    h.click(active)
    h.click(h.find_one(dlg, "push button", name="Close"))
    w.wait_title(f"Velmar98 - {VS_PROFILE}")
    w.wait_ready()
    wait_until("vsftpd's folders", lambda: "incoming" in w.ftp_root_children())
    w.drag_cell("Local files", "notes.md", "FTP folders", "incoming")
    w.confirm_copy()
    up = os.path.join(w.vs_root, "incoming", "notes.md")
    wait_until("the upload", lambda: os.path.isfile(up) and os.path.getsize(up) == 2_500)
    w.wait_ready()
    check(file_equal(os.path.join(w.home, "notes.md"), up), "notes.md differs on vsftpd")
    w.open_ftp_folder("pub")
    w.expand("Local folders", w.home, "Downloads")
    w.drag_cell("FTP files", "beta.bin", "Local folders", "Downloads")
    w.confirm_copy()
    down = os.path.join(w.home, "Downloads", "beta.bin")
    w.wait_ready()
    check(file_equal(os.path.join(w.vs_root, "pub", "beta.bin"), down),
          "beta.bin differs after the download from vsftpd")


def run_demo(w, folder):
    """Runs scripts/demo.py with the program until the user chooses Exit; returns
    the profile file the demo left and the port its server listened on."""
    log = open(os.path.join(w.out, "e2e-demo.log"), "ab")
    runtime = os.path.join(w.base, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ, HOME=w.home, XDG_CONFIG_HOME=os.path.join(w.base, "demo-config"),
               XDG_RUNTIME_DIR=runtime, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_QPA_PLATFORM="xcb")
    demo = subprocess.Popen(["/usr/bin/python3", os.path.join(REPO, "scripts", "demo.py"),
                             "--program", w.app.binary, "--dir", folder],
                            env=env, stdout=log, stderr=log, start_new_session=True)
    ours = w.app
    try:
        def child_pid():
            for entry in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open(f"/proc/{entry}/stat") as f:
                        stat = f.read()
                except (OSError, ValueError):
                    continue
                # The fields after the command's closing bracket: state, then ppid.
                if int(stat.rsplit(")", 1)[1].split()[1]) == demo.pid:
                    return int(entry)
            return None
        pid = wait_until("the program started by the demo", child_pid, timeout=30)
        w.app = h.Program(w.procs, ours.binary, None, None, None).adopt(pid)
        w.app.wait_app()
        w.wait_title("Velmar98 - Demo Server")
        w.wait_ready()
        wait_until("the demo server's folders",
                   lambda: {"docs", "pub", "upload"} <= set(w.ftp_root_children()))
        wait_until("the demo server's files",
                   lambda: "readme.txt" in w.app.names_in("FTP files"))
        w.app.menu("Exit")
        demo.wait(30)
        check(demo.returncode == 0, f"the demo ended with {demo.returncode}")
    finally:
        w.app = ours
        if demo.poll() is None:
            os.killpg(demo.pid, signal.SIGKILL)
            demo.wait()
        log.close()
    profiles = w.demo.decode_profiles(
        open(os.path.join(folder, "work", "Profiles.dat"), "rb").read())
    demo_entry = [p for p in profiles if p["name"] == b"Demo Server"]
    check(len(demo_entry) == 1, "the demo profile file lost its Demo Server")
    port = int(demo_entry[0]["address"].decode().rsplit(":", 1)[1])
    check(not h.port_accepts(port), "the demo server still listens after the program ended")
    sftp = [p for p in profiles if p["name"] == b"Demo SFTP Server"]
    check(len(sftp) == 1 and not h.port_accepts(int(sftp[0]["address"].rsplit(b":", 1)[1])),
          "the demo SFTP server is missing or still listens after the program ended")
    return profiles


def first_run_demo(w):
    """scripts/demo.py: the demo server's files on the FTP side; Exit ends both;
    a profile the user added survives the next run."""
    w.app.stop()
    folder = os.path.join(w.base, "demo")
    profiles = run_demo(w, folder)
    names = [p["name"] for p in profiles]
    check(names == [b"Sample Profile", b"Demo Server", b"Demo SFTP Server"],
          f"the demo profile file holds {names}")
    check(profiles[1]["default"] == 1, "the Demo Server is not the default profile")
    mine = w.profile("My Site", w.py.address, default=0)
    with open(os.path.join(folder, "work", "Profiles.dat"), "wb") as f:
        f.write(w.demo.encode_profiles(profiles + [mine]))
    profiles = run_demo(w, folder)
    names = [p["name"] for p in profiles]
    check(names == [b"Sample Profile", b"Demo Server", b"Demo SFTP Server", b"My Site"],
          f"after a second run the demo profile file holds {names}")
    check(profiles[3]["address"] == w.py.address.encode(), "the user's profile was changed")


def snapshot(path):
    """Names and bytes of everything under path, to tell later that nothing moved."""
    found = {}
    for top, _, files in os.walk(path):
        for f in files:
            full = os.path.join(top, f)
            with open(full, "rb") as fh:
                found[os.path.relpath(full, path)] = hashlib.sha256(fh.read()).hexdigest()
        found[os.path.relpath(top, path) + "/"] = "folder"
    return found


def folder_on_own_parent_refused(w):
    """A tree folder dropped on its own parent would replace itself: refused with
    "Error Copying Folder", on each side, and nothing is deleted."""
    w.ensure_active(PY_PROFILE)
    cases = (("Local folders", "Projects", w.home, os.path.join(w.home, "Projects")),
             ("FTP folders", "pub", "/", os.path.join(w.py_root, "pub")))
    for pane, folder, parent, path in cases:
        before = snapshot(path)
        if pane == "Local folders":
            w.expand(pane, w.home, folder)
        source = w.tree_cell(pane, folder, under=parent)
        h.drag(h.center(source), h.center(w.app.cell(pane, parent)))
        w.confirm_copy()
        try:
            text = w.app.answer("Error Copying Folder", "OK", timeout=30)
        except Failure as e:
            after = snapshot(path) if os.path.isdir(path) else {}
            lost = sorted(set(before) - set(after))
            raise Failure(f"{pane}, {folder} dropped on {parent}: {e}; message boxes shown: "
                          f"{[a.name for a in w.app.alerts()]}; gone from {path}: {lost}")
        check("The destination folder is the same as the source folder." in text,
              f'unexpected text "{text}"')
        w.wait_ready()
        check(snapshot(path) == before, f"{path} changed after the refused drop")


def copies_within_a_side(w):
    """An FTP file onto another FTP folder, a local file onto a local folder; the
    copies are then removed with the Delete key."""
    w.ensure_active(PY_PROFILE)
    w.open_ftp_folder("pub")
    w.drag_cell("FTP files", "alpha.txt", "FTP folders", "docs")
    w.confirm_copy()
    copied = os.path.join(w.py_root, "docs", "alpha.txt")
    wait_until("the copy on the server", lambda: os.path.isfile(copied)
               and os.path.getsize(copied) == 1_500)
    w.wait_ready()
    check(file_equal(os.path.join(w.py_root, "pub", "alpha.txt"), copied),
          "the FTP-to-FTP copy differs")
    w.select("Local folders", w.home)
    w.wait_ready()
    w.expand("Local folders", w.home, "Downloads")
    w.drag_cell("Local files", "hello.txt", "Local folders", "Downloads")
    w.confirm_copy()
    local_copy = os.path.join(w.home, "Downloads", "hello.txt")
    wait_until("the local copy", lambda: file_equal(os.path.join(w.home, "hello.txt"),
                                                   local_copy))
    w.wait_ready()
    # The Delete key on a selected list item.
    w.open_ftp_folder("docs")
    w.focus_row("FTP files", "alpha.txt")
    h.key("Delete")
    w.app.answer("Confirm File Delete", "OK")
    wait_until("the FTP copy to go", lambda: not os.path.exists(copied))
    wait_until("the FTP list without it", lambda: "alpha.txt" not in w.app.names_in("FTP files"))


def help_and_about(w):
    """F1 opens the help window; About shows the version; both close again."""
    w.ensure_active(PY_PROFILE)
    h.click(w.app.cell("Local files", "hello.txt"))  # the keyboard focus in the window
    h.key("F1")
    helpwin = w.app.dialog("Velmar98 Help")
    topics = wait_until("the help topics", lambda: h.find_one(helpwin, None,
                                                               name="Help topics"))
    check(h.find_one(helpwin, None, name="Help text") is not None, "the help has no text")
    check(topics is not None, "the help window lists no topics")
    h.key("alt+F4")
    wait_until("the help window to close", lambda: not w.app.dialog_shown("Velmar98 Help"))
    w.app.menu("Help", "About Velmar98...")
    about = w.app.dialog("About Velmar")
    labels = [l.name for l in h.find_all(about, "label")]
    check("Velmar98 Version 5.5" in labels, f"the About box reads {labels}")
    h.click(wait_until("OK", lambda: h.find_one(about, "push button", name="OK")))
    wait_until("the About box to close", lambda: not w.app.dialog_shown("About Velmar"))
    w.wait_ready()


SCENARIOS = [
    first_start,
    read_by_a_screen_reader,
    profile_made_in_dialog,
    ftp_side_browsed,
    file_dragged_to_ftp_tree,
    folder_to_server_and_back,
    folders_made_renamed_deleted,
    unchanged_name_asks_nothing,
    folder_on_own_parent_refused,
    copies_within_a_side,
    help_and_about,
    sort_kept_after_restart,
    refresh_after_server_away,
    large_copy_cancelled,
    hide_program_during_copy,
    vsftpd_round_trip,
    first_run_demo,
] + keyboard_e2e.SCENARIOS + terminate_e2e.SCENARIOS + sftp_e2e.SCENARIOS


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    chosen = [s for s in SCENARIOS if not args.only or s.__name__ in args.only.split(",")]
    if not chosen:
        print(f"no scenario named {args.only}")
        return 2

    world = World(os.path.abspath(args.program), os.path.abspath(args.out))
    # Stopped from outside (CTest's timeout, a closed terminal, the session bus's
    # dbus-run-session ending): leave through the clean-up below.
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, lambda signum, _: sys.exit(128 + signum))
    h.die_with_parent(signal.SIGTERM)
    results = []
    try:
        world.start()
        for scenario in chosen:
            started = time.monotonic()
            print(f"--- {scenario.__name__}: {scenario.__doc__.splitlines()[0]}", flush=True)
            try:
                scenario(world)
                results.append((scenario.__name__, True, ""))
            except Exception as e:  # noqa: BLE001 - every failure is reported
                detail = str(e) if isinstance(e, Failure) else traceback.format_exc()
                shot = world.shot(scenario.__name__)
                results.append((scenario.__name__, False, detail))
                print(f"    {detail}\n    screenshot: {shot}", flush=True)
                world.recover()
            ok = results[-1][1]
            print(f"{'PASS' if ok else 'FAIL'} {scenario.__name__} "
                  f"({time.monotonic() - started:.1f} s)", flush=True)
    except SystemExit:
        print("interrupted: every process of the run is being stopped", flush=True)
        raise
    finally:
        world.stop()
    print("\nSummary:")
    for name, ok, _ in results:
        print(f"  {'PASS' if ok else 'FAIL'}  {name}")
    failed = [r for r in results if not r[1]]
    print(f"{len(results) - len(failed)} of {len(results)} scenarios passed")
    return 1 if failed or len(results) != len(chosen) else 0


if __name__ == "__main__":
    sys.exit(main())
