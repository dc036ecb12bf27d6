"""An SFTP site used as a user uses it: a profile made in the Profiles dialog for
an asyncssh server on 127.0.0.1, its host key asked about and remembered in the
known_hosts under the test's own HOME, folders copied both ways, names changed
on the server, and a changed host key refused."""
import hashlib
import os
import subprocess
import time

import harness as h
from harness import check, wait_until

PROFILE = "Local SFTP"
FTP_PROFILE = "Local pyftpdlib"  # as the main suite names it
USER, PASSWORD = "velmar", "sftp e2e pass"
ASKED, CHANGED = "Unknown Host Key", "WARNING: Host Key Changed"
LOGIN = f"password login {USER}: accepted"


class SftpServer:
    """tests/support/asyncssh_server.py with a password login and a host key made
    for the run; started again with another key, it is the same host changed."""

    def __init__(self, procs, base):
        self.procs, self.work = procs, os.path.join(base, "sftp")
        self.root = os.path.join(self.work, "root")
        os.makedirs(self.root)
        self.port = h.free_port()
        self.proc = None
        self.keys = {name: self._make_key(name) for name in ("first", "second")}
        self.log = os.path.join(procs.log_dir, "e2e-asyncssh.log")

    def _make_key(self, name):
        path = os.path.join(self.work, f"{name}_host_key")
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", name, "-f", path],
                       check=True, timeout=30)
        return path

    def fingerprint(self, key):
        out = subprocess.run(["ssh-keygen", "-l", "-E", "sha256", "-f", self.keys[key] + ".pub"],
                             capture_output=True, text=True, check=True).stdout
        return out.split()[1]

    def start(self, key="first"):
        self.key = key
        self.proc = self.procs.start("asyncssh", [
            "/usr/bin/python3", os.path.join(h.HERE, "..", "support", "asyncssh_server.py"),
            "--port", str(self.port), "--root", self.root, "--host-key", self.keys[key],
            "--user", USER, "--password", PASSWORD, "--methods", "password"])
        wait_until("the SFTP server to listen", lambda: h.port_accepts(self.port), timeout=30)
        self.mark()

    def stop(self):
        self.procs.stop(self.proc)
        self.proc = None
        wait_until("the SFTP server to stop listening", lambda: not h.port_accepts(self.port))

    def mark(self):
        """From here on, logins() counts; the log file is shared by earlier runs."""
        self.since = os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def logins(self):
        with open(self.log, "rb") as f:
            f.seek(self.since)
            return f.read().decode(errors="replace").count(LOGIN)

    @property
    def address(self):
        return f"sftp://127.0.0.1:{self.port}"


def server(w):
    if getattr(w, "sftp", None) is None:
        w.sftp = SftpServer(w.procs, w.base)
        with open(os.path.join(w.sftp.root, "readme.txt"), "wb") as f:
            f.write(b"served over SFTP\n")
        os.makedirs(os.path.join(w.sftp.root, "incoming"))
    if w.sftp.proc is None:
        w.sftp.start()
    return w.sftp


def known_hosts(w):
    return os.path.join(w.home, ".ssh", "known_hosts")


def read_or_none(path):
    return open(path, "rb").read() if os.path.exists(path) else None


def known_entry(w, s):
    """The known_hosts lines that ssh itself finds for the server, hashed or plain."""
    out = subprocess.run(["ssh-keygen", "-F", f"[127.0.0.1]:{s.port}", "-f", known_hosts(w)],
                         capture_output=True, text=True)
    return [l for l in out.stdout.splitlines() if l and not l.startswith("#")]


def hashes_known_hosts():
    """Whether the user's ssh would hash a new entry: the test's HOME has no
    ~/.ssh/config, so the system's file decides."""
    out = subprocess.run(["ssh", "-G", "-F", "/etc/ssh/ssh_config", "127.0.0.1"],
                         capture_output=True, text=True).stdout
    return "hashknownhosts yes" in out


def tree_hashes(root):
    found = {}
    for top, dirs, files in os.walk(root):
        found[os.path.relpath(top, root) + "/"] = "folder"
        for name in files:
            with open(os.path.join(top, name), "rb") as f:
                found[os.path.relpath(os.path.join(top, name), root)] = \
                    hashlib.sha256(f.read()).hexdigest()
    return found


def add_profile_in_dialog(w, s):
    """The SFTP profile made in the Profiles dialog, active and the default."""
    w.app.menu("Profiles")
    dlg = w.app.dialog("Velmar98 Profiles")

    def control(name, roles):
        return wait_until(f'"{name}" in the Profiles dialog',
                          lambda: h.find_one(dlg, roles, name=name, showing=True))

    h.click(control("New Profile", "push button"))
    control("Add Profile", "push button")
    for field, text in (("Profile Name", PROFILE), ("FTP Address", s.address),
                        ("User ID", USER), ("Password", PASSWORD)):
        h.click(control(field, ("text", "password text")))
        h.key("ctrl+a")
        h.type_text(text)
        wait_until(f'"{field}" to read "{text}"', lambda: field == "Password" or h.text_of(
            control(field, "text")) == text)
    h.click(control("Active Profile", "check box"))
    h.click(control("Default Profile (active when program starts)", "check box"))
    h.click(control("Add Profile", "push button"))
    wait_until(f'"{PROFILE}" in the profile list', lambda: h.find_one(
        h.find_one(dlg, "list", name="Profiles"), "list item", name=PROFILE))
    h.click(control("Close", "push button"))


def wait_listed(w, timeout=60):
    w.wait_title(f"Velmar98 - {PROFILE}")
    w.wait_ready(timeout)
    wait_until("the SFTP server's folders", lambda: "incoming" in w.ftp_root_children(),
               timeout)


def ensure_sftp(w):
    """The SFTP profile active and connected, its key remembered: a Refresh is a
    new connection, which would ask again about a key taken once."""
    s = server(w)
    try:
        if w.app.alive() and w.app.title() == f"Velmar98 - {PROFILE}" and w.app.enabled() \
                and "incoming" in w.ftp_root_children():
            return s
    except Exception:
        pass
    w.restart_with_profiles([w.profile(FTP_PROFILE, w.py.address),
                             w.profile(PROFILE, s.address, USER.encode(), PASSWORD.encode(),
                                       default=1)])
    w.wait_title(f"Velmar98 - {PROFILE}", timeout=60)
    if not known_entry(w, s):
        w.app.answer(ASKED, "Connect and Remember", timeout=60)
    wait_listed(w)
    return s


# --- scenarios ----------------------------------------------------------------

def sftp_profile_and_host_key(w):
    """An SFTP profile made in the dialog: the unknown key asked about with its
    SHA256 fingerprint before any login; Cancel lets nothing through; remembered,
    it is in known_hosts as ssh writes it and the next start asks nothing; the
    status bar reads Encrypted (SSH)."""
    s = server(w)
    if os.path.exists(known_hosts(w)):
        os.unlink(known_hosts(w))
    w.ensure_active(FTP_PROFILE)
    s.mark()
    add_profile_in_dialog(w, s)
    text = w.app.alert_text(w.app.alert(ASKED, timeout=60))
    for words in (f"'[127.0.0.1]:{s.port}'",
                  f"ED25519 key fingerprint is {s.fingerprint('first')}."):
        check(words in text, f'the question lacks "{words}": "{text}"')
    check(s.logins() == 0, "the server saw a login before the key was accepted")
    check(not os.path.exists(known_hosts(w)), "known_hosts was written before the answer")
    w.app.answer(ASKED, "Cancel")
    text = w.app.answer("Error Opening FTP Connection", "OK")
    check("was not accepted" in text, f'the cancelled question ends with "{text}"')
    check(s.logins() == 0 and not os.path.exists(known_hosts(w)),
          "a login or a known_hosts entry followed Cancel")
    w.wait_ready()
    w.app.menu("Refresh")
    w.app.answer(ASKED, "Connect and Remember", timeout=60)
    wait_listed(w)
    check(w.app.status("FTP encryption") == "Encrypted (SSH)",
          f'the status bar reads "{w.app.status("FTP encryption")}"')
    entries = known_entry(w, s)
    key = open(s.keys["first"] + ".pub").read().split()[:2]
    check(len(entries) == 1 and entries[0].split()[1:3] == key,
          f"known_hosts holds {entries} for the server")
    mode = os.stat(os.path.dirname(known_hosts(w))).st_mode & 0o777
    check(mode == 0o700, f"~/.ssh was made with mode {mode:o}, where ssh makes it 700")
    hashed = entries[0].startswith("|1|")
    check(hashed == hashes_known_hosts(), f"the entry is {'' if hashed else 'not '}hashed, "
          "unlike what ssh would write here")
    saved = w.demo.decode_profiles(open(os.path.join(w.work, "Profiles.dat"), "rb").read())
    check([p["address"] for p in saved if p["name"] == PROFILE.encode()] == [s.address.encode()],
          "Profiles.dat does not hold the SFTP profile's address")

    remembered, logins = read_or_none(known_hosts(w)), s.logins()
    w.app.menu("Exit")
    wait_until("the program to end", lambda: not w.app.alive(), timeout=30)
    w.start_program()
    wait_until("a second login or a question", lambda: s.logins() > logins or w.app.alerts(),
               timeout=60)
    check(not any(a.name == ASKED for a in w.app.alerts()), "the remembered key was asked about")
    wait_listed(w)
    check(read_or_none(known_hosts(w)) == remembered, "known_hosts changed on the second connect")


def sftp_copies_and_names(w):
    """A folder with subfolders to the SFTP server and back, the trees equal; a
    file renamed, a folder made and deleted there; the list shows the server."""
    s = ensure_sftp(w)
    album, back = os.path.join(w.home, "Album"), os.path.join(w.home, "Fetched")
    for rel, size in (("cover.jpg", 90_000), ("2024/a.bin", 300_001), ("2024/deep/b.txt", 12),
                      ("2025/empty.txt", 0)):
        path = os.path.join(album, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(hashlib.sha256(rel.encode()).digest() * (size // 32) + b"x" * (size % 32))
    os.makedirs(os.path.join(album, "empty folder"))
    h.reset_dir(back)
    w.app.menu("Refresh")
    w.wait_ready()
    w.drag_cell("Local files", "Album", "FTP folders", "incoming")
    w.confirm_copy()
    w.wait_ready(timeout=90)
    up = os.path.join(s.root, "incoming", "Album")
    check(tree_hashes(up) == tree_hashes(album), "the tree on the SFTP server differs")
    w.open_ftp_folder("incoming")
    w.expand("Local folders", w.home, "Fetched")
    w.drag_cell("FTP files", "Album", "Local folders", "Fetched")
    w.confirm_copy()
    w.wait_ready(timeout=90)
    check(tree_hashes(os.path.join(back, "Album")) == tree_hashes(album),
          "the tree copied back from the SFTP server differs")

    w.open_ftp_folder("/")
    readme = open(os.path.join(s.root, "readme.txt"), "rb").read()
    w.app.context_menu(*h.center(w.app.cell("FTP files", "readme.txt")), "r")
    time.sleep(0.3)  # the name editor opens right after the menu
    h.key("ctrl+a")
    h.type_text("read me.txt")
    h.key("Return")
    renamed = os.path.join(s.root, "read me.txt")
    wait_until("the rename on the server", lambda: read_or_none(renamed) == readme
               and not os.path.exists(os.path.join(s.root, "readme.txt")))
    x, y, width, height = h.extents(w.app.pane("FTP files"))
    w.app.context_menu(x + width // 2, y + height - 12, "n")
    made = os.path.join(s.root, "NewFolder1")
    wait_until("NewFolder1 on the server", lambda: os.path.isdir(made))
    w.app.cell("FTP files", "NewFolder1")
    time.sleep(0.3)  # its name editor opens right after the row
    h.key("ctrl+a")
    h.type_text("Made over SFTP")
    h.key("Return")
    made, old = os.path.join(s.root, "Made over SFTP"), made
    wait_until("the folder renamed on the server", lambda: os.path.isdir(made)
               and not os.path.exists(old))
    w.app.context_menu(*h.center(w.app.cell("FTP files", "Made over SFTP")), "d")
    w.app.answer("Confirm File Delete", "OK")
    wait_until("the folder to go from the server", lambda: not os.path.exists(made))
    wait_until("the list to show what the server holds",
               lambda: sorted(w.app.names_in("FTP files")) == sorted(os.listdir(s.root)))
    check(not w.app.alerts(), f"a message box is open: {[a.name for a in w.app.alerts()]}")


def sftp_changed_key_refused(w):
    """The server comes back with another key: the warning shows both
    fingerprints, offers no way through, and nothing is logged in or written."""
    s = ensure_sftp(w)
    ssh_folder = os.path.dirname(known_hosts(w))
    before = tree_hashes(ssh_folder)
    s.stop()
    s.start("second")
    try:
        w.app.menu("Refresh")
        box = w.app.alert(CHANGED, timeout=60)
        text = w.app.alert_text(box)
        for fingerprint in (s.fingerprint("first"), s.fingerprint("second")):
            check(fingerprint in text, f'the warning lacks {fingerprint}: "{text}"')
        buttons = [b.name for b in h.find_all(box, "push button", showing=True)]
        check(buttons == ["OK"], f"the warning offers {buttons}")
        w.app.answer(CHANGED, "OK")
        wait_until("No Connection", lambda: w.ftp_root_children() == ["No Connection"])
        w.wait_ready()
        check(s.logins() == 0, "a login reached the server with the changed key")
        check(tree_hashes(ssh_folder) == before, f"{ssh_folder} changed")
    finally:
        s.stop()
        s.start("first")


SCENARIOS = [sftp_profile_and_host_key, sftp_copies_and_names, sftp_changed_key_refused]
