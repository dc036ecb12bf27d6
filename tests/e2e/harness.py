"""The world of the end-to-end suite: an X display with a window manager, the
accessibility bus, real FTP servers, the program, and the hands (xdotool) and
eyes (AT-SPI) that use it.

Every process started here gets its own process group and dies with this one
(PR_SET_PDEATHSIG), and Processes.stop_all() ends them all, so nothing outlives
a run, whether it passes, fails or is killed by CTest's timeout.
"""
import ctypes
import os
import select
import shutil
import signal
import socket
import subprocess
import time

PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL("libc.so.6", use_errno=True)


def die_with_parent(sig=signal.SIGKILL):
    _libc.prctl(PR_SET_PDEATHSIG, sig)


def _die_with_parent():
    die_with_parent()


# VELMAR_E2E_TRACE=1 prints every wait that lasted longer than a second.
TRACE = bool(os.environ.get("VELMAR_E2E_TRACE"))


class Failure(Exception):
    """A scenario's expectation that did not hold."""


def wait_until(what, predicate, timeout=20.0, interval=0.1):
    """Polls `predicate` until it returns something true; fails after `timeout`."""
    started = time.monotonic()
    deadline = started + timeout
    last_error = None
    while True:
        try:
            value = predicate()
            if value:
                if TRACE and time.monotonic() - started > 1.0:
                    print(f"    waited {time.monotonic() - started:.1f} s for {what}",
                          flush=True)
                return value
        except Failure:
            raise
        except Exception as e:  # an object vanished between two looks
            last_error = e
        if time.monotonic() > deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(interval)


def check(condition, message):
    if not condition:
        raise Failure(message)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


class Processes:
    def __init__(self, log_dir):
        self.log_dir = log_dir
        self.running = []

    def start(self, name, args, env=None, cwd=None, pass_fds=()):
        log = open(os.path.join(self.log_dir, f"e2e-{name}.log"), "ab")
        p = subprocess.Popen(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                             stdout=log, stderr=subprocess.STDOUT, pass_fds=pass_fds,
                             start_new_session=True, preexec_fn=_die_with_parent)
        log.close()
        p.e2e_name = name
        self.running.append(p)
        return p

    def stop(self, p, grace=5.0):
        if p is None:
            return
        if p.poll() is None:
            try:
                os.killpg(p.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                p.wait(grace)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                p.wait(5)
        else:
            try:  # the leader is gone; its group may not be
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if p in self.running:
            self.running.remove(p)

    def stop_all(self):
        for p in reversed(list(self.running)):
            self.stop(p, grace=2.0)


# --- the display -------------------------------------------------------------

class Display:
    def __init__(self, procs):
        self.procs = procs
        self.name = None

    def start(self):
        r, w = os.pipe()
        self.xvfb = self.procs.start(
            "xvfb", ["Xvfb", "-displayfd", str(w), "-screen", "0", "1600x1000x24",
                     "-nolisten", "tcp", "-noreset"], pass_fds=(w,))
        os.close(w)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([r], [], [], max(left, 0))
            if not ready:
                raise Failure("Xvfb did not report a display number")
            chunk = os.read(r, 16)
            if not chunk:
                raise Failure("Xvfb ended before it chose a display")
            number += chunk
        os.close(r)
        self.name = ":" + number.decode().strip()
        os.environ["DISPLAY"] = self.name
        self.wm = self.procs.start("openbox", ["openbox", "--sm-disable"])
        wait_until("the window manager", self._wm_running, timeout=30)

    def _wm_running(self):
        out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                             capture_output=True, text=True)
        return "window id" in out.stdout

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=30)


def start_accessibility_bus(procs):
    """The AT-SPI bus; DISPLAY must be set so that it announces itself there."""
    procs.start("atspi", ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])

    def announced():
        out = subprocess.run(["xprop", "-root", "AT_SPI_BUS"], capture_output=True, text=True)
        return "unix:" in out.stdout
    wait_until("the accessibility bus", announced, timeout=30)


# --- hands: the real mouse and keyboard ---------------------------------------

def xdo(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True, timeout=30)


def pointer():
    out = subprocess.run(["xdotool", "getmouselocation", "--shell"], capture_output=True,
                         text=True, timeout=30).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values.get("X", -1)), int(values.get("Y", -1))


def move_to(x, y):
    # "mousemove --sync" waits for a motion that never comes when the pointer is
    # there already.
    if pointer() != (x, y):
        xdo("mousemove", "--sync", x, y)


def click_at(x, y, button=1):
    move_to(x, y)
    time.sleep(0.05)
    xdo("click", button)


def drag(start, end, steps=20, pause=0.05):
    """A drag as a hand makes it: press, small moves 50 ms apart, release."""
    (x0, y0), (x1, y1) = start, end
    move_to(x0, y0)
    time.sleep(0.15)
    xdo("mousedown", 1)
    time.sleep(0.15)
    for i in range(1, steps + 1):
        x = round(x0 + (x1 - x0) * i / steps)
        y = round(y0 + (y1 - y0) * i / steps)
        xdo("mousemove", x, y)
        time.sleep(pause)
    time.sleep(0.3)  # let the target see the pointer rest over it
    xdo("mousemove", x1 + 1, y1)
    time.sleep(0.2)
    xdo("mouseup", 1)


def key(*keys):
    xdo("key", "--clearmodifiers", *keys)


def type_text(text):
    xdo("type", "--delay", 20, "--clearmodifiers", text)


# --- the FTP servers ------------------------------------------------------------

HERE = os.path.dirname(os.path.abspath(__file__))


class PyftpdServer:
    """pyftpdlib with a user account and anonymous, both with write access."""
    user = "velmar"
    password = "e2e pass 1"

    def __init__(self, procs, root, rate=0):
        self.procs, self.root, self.rate = procs, root, rate
        self.port = free_port()
        self.proc = None

    def start(self):
        self.proc = self.procs.start(
            "pyftpdlib", ["/usr/bin/python3", os.path.join(HERE, "ftp_server.py"),
                          "--root", self.root, "--port", str(self.port), "--user", self.user,
                          "--password", self.password, "--rate", str(self.rate)])
        wait_until("pyftpdlib to listen", lambda: port_accepts(self.port), timeout=30)

    def stop(self):
        self.procs.stop(self.proc)
        self.proc = None
        wait_until("pyftpdlib to stop listening", lambda: not port_accepts(self.port))

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"


class VsftpdServer:
    """vsftpd standalone on 127.0.0.1, anonymous with write access (needs root)."""

    def __init__(self, procs, root, work):
        self.procs, self.root, self.work = procs, root, work
        self.port = free_port()
        self.proc = None

    def _config(self):
        empty = os.path.join(self.work, "vsftpd-empty")
        os.makedirs(empty, exist_ok=True)
        os.chmod(empty, 0o755)
        # vsftpd refuses an anonymous session whose chroot its user may write to,
        # allow_writeable_chroot or not: the root stays read-only for "ftp", the
        # folders below it are writable (share()).
        os.chmod(self.root, 0o755)
        lines = [
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1",
            f"listen_port={self.port}", "background=NO",
            "anonymous_enable=YES", "local_enable=NO", "write_enable=YES",
            "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
            "anon_other_write_enable=YES", "anon_world_readable_only=NO", "anon_umask=022",
            f"anon_root={self.root}", "allow_writeable_chroot=YES",
            f"secure_chroot_dir={empty}",
            # Containers refuse the sandbox's seccomp filter and namespaces.
            "seccomp_sandbox=NO", "isolate=NO", "isolate_network=NO",
            "utf8_filesystem=YES", "pasv_enable=YES", "port_enable=YES",
            "connect_from_port_20=NO", "dirmessage_enable=NO", "xferlog_enable=NO",
            "use_localtime=NO", "max_clients=0", "max_per_ip=0",
            f"vsftpd_log_file={self.work}/vsftpd.log",
        ]
        path = os.path.join(self.work, "vsftpd.conf")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        return path

    def start(self):
        self.proc = self.procs.start("vsftpd", ["/usr/sbin/vsftpd", self._config()])
        wait_until("vsftpd to listen", lambda: port_accepts(self.port), timeout=30)

    def stop(self):
        self.procs.stop(self.proc)
        self.proc = None

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"


def share(path):
    """Makes a file or folder made here usable by vsftpd's "ftp" user."""
    for top, dirs, files in os.walk(path):
        os.chmod(top, 0o777)
        for f in files:
            os.chmod(os.path.join(top, f), 0o666)


# --- eyes: AT-SPI ---------------------------------------------------------------

_pyatspi = None


def atspi():
    global _pyatspi
    if _pyatspi is None:
        import pyatspi  # only once DISPLAY names the display with our bus
        _pyatspi = pyatspi
    return _pyatspi


def role(acc):
    return acc.getRoleName()


def states(acc):
    p = atspi()
    return set(acc.getState().getStates()) if acc is not None else set()


def has_state(acc, state_name):
    p = atspi()
    return getattr(p, "STATE_" + state_name.upper()) in states(acc)


def children(acc):
    out = []
    try:
        n = acc.childCount
    except Exception:
        return out
    for i in range(n):
        try:
            c = acc.getChildAtIndex(i)
        except Exception:
            continue
        if c is not None:
            out.append(c)
    return out


PANE_ROLES = ("tree", "tree table", "table", "list")


def walk(acc, max_depth=30, prune=None):
    """Depth first; below an object for which prune() is true nothing is visited."""
    stack = [(acc, 0)]
    while stack:
        a, d = stack.pop()
        yield a
        try:
            pruned = prune is not None and d > 0 and prune(a)
        except Exception:
            pruned = True
        if d < max_depth and not pruned:
            stack.extend((c, d + 1) for c in reversed(children(a)))


def find_all(root, roles=None, name=None, showing=False, pred=None, prune=None):
    if isinstance(roles, str):
        roles = {roles}
    found = []
    for a in walk(root, prune=prune):
        try:  # the name first: one call rules most objects out
            if name is not None and a.name != name:
                continue
            if roles and role(a) not in roles:
                continue
            if showing and not has_state(a, "showing"):
                continue
            if pred and not pred(a):
                continue
        except Exception:
            continue
        found.append(a)
    return found


def find_one(root, roles=None, name=None, showing=False, pred=None, prune=None):
    found = find_all(root, roles, name, showing, pred, prune)
    return found[0] if found else None


def child_named(acc, name, showing=False):
    """A direct child by name: while the program copies, each question to it waits
    for its next look at the event queue, so deep searches are too slow there."""
    for c in children(acc):
        try:
            if c.name == name and (not showing or has_state(c, "showing")):
                return c
        except Exception:
            continue
    return None


def extents(acc):
    e = acc.queryComponent().getExtents(atspi().DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def center(acc):
    x, y, w, h = extents(acc)
    if w <= 0 or h <= 0:
        raise Failure(f"{role(acc)} '{acc.name}' has no place on the screen")
    return x + w // 2, y + h // 2


def text_of(acc):
    try:
        t = acc.queryText()
        return t.getText(0, t.characterCount)
    except NotImplementedError:
        return acc.name


def do_action(acc, names=("press", "click", "activate", "Press", "Click")):
    action = acc.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in names:
            action.doAction(i)
            return
    if action.nActions:
        action.doAction(0)
        return
    raise Failure(f"{role(acc)} '{acc.name}' has no action")


def click(acc):
    x, y = center(acc)
    click_at(x, y)


def app_of(pid):
    desktop = atspi().Registry.getDesktop(0)
    for app in children(desktop):
        try:
            if app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


# --- the program ------------------------------------------------------------

def window_ids(pid):
    """The top-level windows of process `pid` that the window manager manages."""
    out = subprocess.run(["xdotool", "search", "--all", "--pid", str(pid), "--name", ""],
                         capture_output=True, text=True)
    ids = []
    for wid in out.stdout.split():
        props = subprocess.run(["xprop", "-id", wid, "_NET_WM_PID", "WM_STATE"],
                               capture_output=True, text=True).stdout
        if f"= {pid}" in props and "window state" in props:
            ids.append(int(wid))
    return ids


def popup_windows(pid):
    """The shown override-redirect windows of `pid`: its open menus. Qt keeps popups
    off the accessibility tree, so they are found through X."""
    out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid),
                          "--name", ""], capture_output=True, text=True)
    found = []
    for wid in out.stdout.split():
        info = subprocess.run(["xwininfo", "-id", wid], capture_output=True, text=True).stdout
        if "Override Redirect State: yes" in info and "IsViewable" in info:
            found.append(int(wid))
    return found


def visible_windows_named(name):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{name}$"],
                         capture_output=True, text=True)
    return [int(w) for w in out.stdout.split()]


def window_name(wid):
    out = subprocess.run(["xdotool", "getwindowname", str(wid)], capture_output=True,
                         text=True)
    return out.stdout.strip() if out.returncode == 0 else None


def window_state(wid):
    out = subprocess.run(["xprop", "-id", str(wid), "WM_STATE", "_NET_WM_STATE"],
                         capture_output=True, text=True)
    return out.stdout


class Program:
    """One run of velmar98 in its working folder, with its own settings folder."""

    def __init__(self, procs, binary, work, home, config):
        self.procs, self.binary = procs, binary
        self.work, self.home, self.config = work, home, config
        self.proc = None
        self._app = None

    def start(self):
        env = dict(os.environ)
        runtime = os.path.join(os.path.dirname(self.config), "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env.update({
            "HOME": self.home, "XDG_CONFIG_HOME": self.config, "XDG_RUNTIME_DIR": runtime,
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
            "QT_QPA_PLATFORM": "xcb", "LC_ALL": "C.UTF-8", "TZ": "UTC",
        })
        # The user's ssh-agent is no more the test's than the user's ~/.ssh is.
        for var in ("QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_SCALE_FACTOR",
                    "SSH_AUTH_SOCK"):
            env.pop(var, None)
        self.proc = self.procs.start("velmar98", [self.binary], env=env, cwd=self.work)
        self._app = None
        return self

    def adopt(self, pid):
        self.proc = _Adopted(pid)
        self._app = None
        return self

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def app(self):
        if not self.alive():
            raise Failure(f"the program has ended (exit code {self.proc.returncode})"
                          if self.proc else "the program is not running")
        if self._app is None:
            self._app = app_of(self.proc.pid)
        return self._app

    def wait_app(self, timeout=30):
        return wait_until("the program on the accessibility bus", self.app, timeout)

    def stop(self):
        if isinstance(self.proc, subprocess.Popen):
            self.procs.stop(self.proc, grace=10.0)
        self.proc = None
        self._app = None

    # Windows and controls. The program answers the accessibility bus only between
    # blocks while it copies, so every look starts from its few top-level windows
    # and never walks more than it needs.
    def toplevels(self):
        return children(self.app())

    def toplevel(self, roles, name=None, showing=False):
        if isinstance(roles, str):
            roles = (roles,)
        for t in self.toplevels():
            try:
                if role(t) in roles and (name is None or t.name == name) \
                        and (not showing or has_state(t, "showing")):
                    return t
            except Exception:
                continue
        return None

    def frame(self):
        for t in self.toplevels():
            try:
                if role(t) == "frame" and t.name.startswith("Velmar98"):
                    return t
            except Exception:
                continue
        return None

    def main_window_id(self):
        named = [(window_name(w) or "", w) for w in window_ids(self.proc.pid)]
        for name, wid in named:
            if name.startswith("Velmar98 - "):
                return wid
        for name, wid in named:
            if name == "Velmar98":
                return wid
        return None

    def title(self):
        wid = self.main_window_id()
        return window_name(wid) if wid else None

    def alerts(self):
        out = []
        for t in self.toplevels():
            try:
                if role(t) == "alert" and has_state(t, "showing"):
                    out.append(t)
            except Exception:
                continue
        return out

    def alert(self, caption, timeout=20):
        def showing():
            for a in self.alerts():
                if a.name == caption:
                    return a
            return None
        return wait_until(f'the message box "{caption}"', showing, timeout)

    def alert_text(self, box):
        return " ".join(l.name for l in find_all(box, "label"))

    def answer(self, caption, button="OK", timeout=20):
        """Waits for the message box `caption`, clicks `button`, returns its text."""
        box = self.alert(caption, timeout)
        text = self.alert_text(box)
        b = wait_until(f'"{button}" in "{caption}"',
                       lambda: find_one(box, "push button", name=button, showing=True))
        click(b)
        wait_until(f'"{caption}" to close',
                   lambda: all(a.name != caption for a in self.alerts()), timeout=15)
        return text

    def pane(self, name):
        def look():
            frame = self.frame()
            return frame and find_one(frame, PANE_ROLES, name=name,
                                      prune=lambda a: role(a) in PANE_ROLES)
        return wait_until(f'the pane "{name}"', look)

    def cells(self, pane_name):
        pane = self.pane(pane_name)
        return [c for c in children(pane)
                if role(c) in ("table cell", "tree item", "list item")]

    def cell(self, pane_name, text, timeout=20):
        return wait_until(f'"{text}" in {pane_name}',
                          lambda: next((c for c in self.cells(pane_name) if c.name == text),
                                       None), timeout)

    def names_in(self, pane_name, column=0, columns=3):
        """The texts of one column of a list pane, top to bottom."""
        cells = self.cells(pane_name)
        rows = [cells[i:i + columns] for i in range(0, len(cells) - columns + 1, columns)]
        rows.sort(key=lambda r: extents(r[0])[1])
        return [r[column].name for r in rows]

    def status(self, name="Status"):
        """The text of a status bar pane, or None when AT-SPI cannot tell it: a label
        named by a fixed accessible name shows its text only through a description,
        a text interface or a name that carries the text."""
        bar = self.frame() and find_one(self.frame(), "status bar",
                                        prune=lambda a: role(a) != "status bar")
        label = bar and find_one(bar, "label", name=name)
        if label is None:
            return None
        try:
            t = label.queryText()
            return t.getText(0, t.characterCount)
        except NotImplementedError:
            pass
        return label.description or None

    def enabled(self):
        f = self.frame()
        return f is not None and has_state(f, "enabled") and has_state(f, "sensitive")

    def dialog(self, title, timeout=20):
        return wait_until(f'the window "{title}"',
                          lambda: self.toplevel(("dialog", "frame", "window"), title,
                                                showing=True), timeout)

    def dialog_shown(self, title):
        return self.toplevel(("dialog", "frame", "window"), title, showing=True) is not None

    def context_menu(self, x, y, accelerator):
        """Right-click at (x, y) and choose the entry with the given accelerator key."""
        before = set(popup_windows(self.proc.pid))
        click_at(x, y, button=3)
        wait_until("the context menu", lambda: set(popup_windows(self.proc.pid)) - before)
        key(accelerator)
        wait_until("the context menu to close",
                   lambda: not set(popup_windows(self.proc.pid)) - before)

    def menu_bar(self):
        return wait_until("the menu bar", lambda: self.frame() and find_one(
            self.frame(), "menu bar", prune=lambda a: role(a) != "menu bar"))

    def menu(self, *path):
        """Opens a menu bar entry (and a popup entry) with the real mouse."""
        bar = self.menu_bar()
        item = wait_until(f'the menu "{path[0]}"',
                          lambda: find_one(bar, "menu item", name=path[0]))
        click(item)
        for name in path[1:]:
            entry = wait_until(f'the menu entry "{name}"',
                               lambda: find_one(item, "menu item", name=name, showing=True))
            click(entry)
            item = entry

    def menu_checked(self, menu, entry):
        bar = self.menu_bar()
        top = find_one(bar, "menu item", name=menu)
        e = find_one(top, "menu item", name=entry)
        return has_state(e, "checked")


def reset_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


class _Adopted:
    """A process started by someone else (the demo script) that we only watch."""

    def __init__(self, pid):
        self.pid = pid
        self.returncode = None

    def poll(self):
        try:
            os.kill(self.pid, 0)
        except ProcessLookupError:
            self.returncode = 0
        return self.returncode
