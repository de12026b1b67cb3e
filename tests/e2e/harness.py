"""Drives the real rolvane on a private X server as a person would.

Keys and clicks go through XTEST (xdotool); what is on screen is read from
the accessibility tree (AT-SPI). Every test gets its own Xvfb display,
window manager, accessibility bus and account store, and every process
started here is killed when the test ends, however it ends.

Run scripts with Debian's /usr/bin/python3 under a private session bus:
    dbus-run-session -- /usr/bin/python3 SCRIPT ...
"""

import argparse
import ctypes
import importlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77  # ctest's SKIP_RETURN_CODE

# Texts of the program are written here as its sources hold them (Chinese,
# '&' marking mnemonics); T() gives what the operator reads in the run's
# language, entry() what the accessibility tree names (no '&').
LOGIN_TITLE = "登陆 -用户权限管理"
MAIN_TITLE = "用户权限管理 v2.0"
YES = "是(&Y)"
NO = "否(&N)"
OK = "确定"
CURRENT_USER = "当前用户："

_translations = {}


def read_catalog(path):
    """The English catalog (res/en.po): {original: translation}."""

    def unquote(s):
        return bytes(s, "utf-8").decode("unicode_escape").encode("latin-1").decode("utf-8")

    out, field, entry = {}, None, {}
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines() + [""]:
            line = line.strip()
            if line.startswith(("msgid ", "msgstr ")):
                field, rest = line.split(" ", 1)
                entry[field] = unquote(rest[1:-1])
            elif line.startswith('"') and field:
                entry[field] += unquote(line[1:-1])
            elif not line:
                if entry.get("msgid"):
                    out[entry["msgid"]] = entry["msgstr"]
                field, entry = None, {}
    return out


def T(text):
    """A text of the program as the operator reads it in this run; data
    (user names, item titles) is no text of the program and stays as it is."""
    return _translations.get(text, text)


def english():
    """Whether this run reads the program in English."""
    return bool(_translations)


def entry(text):
    """A menu entry or button as the accessibility tree names it: without '&'."""
    return text.replace("&", "")

_PR_SET_PDEATHSIG = 1


class Failure(Exception):
    pass


class Skipped(Exception):
    pass


def _die_with_parent():
    # Children go when this script goes, even on SIGKILL, and each leads its
    # own process group so that its helpers go with it.
    ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)


def wait_until(what, predicate, timeout=10.0, interval=0.1):
    """Polls predicate until it returns something true; fails after timeout."""
    end = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = predicate()
            if value:
                return value
        except Exception as e:  # the tree may change under a query
            last_error = e
        if time.monotonic() >= end:
            detail = f" (last error: {last_error})" if last_error else ""
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(interval)


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


class Session:
    """One private desktop: Xvfb, openbox, an accessibility bus and a store."""

    def __init__(self, args, name):
        self.args = args
        # A run in English or at 192 dpi keeps its screens apart.
        self.name = name + "".join(f".{v}" for v in (args.lang, f"{args.dpi}dpi") if v not in ("zh", "96dpi"))
        self.procs = []
        self.work = tempfile.mkdtemp(prefix=f"rolvane-e2e-{name}-")
        self.db = os.path.join(self.work, "keyward.db")
        self.env = None
        self.atspi = None
        self._logs = []
        self._shots = 0
        self._t0 = time.monotonic()

    def step(self, what):
        """Announces a step, with the time since the start, for the log."""
        print(f"[{self.name} {time.monotonic() - self._t0:6.1f} s] {what}", flush=True)

    # ---- processes ---------------------------------------------------------
    def spawn(self, argv, log_name, stdin=None, env=None):
        log = open(os.path.join(self.work, log_name), "wb")
        self._logs.append(log)
        proc = subprocess.Popen(
            argv,
            env=env if env is not None else self.env,
            stdin=stdin if stdin is not None else subprocess.DEVNULL,
            stdout=log,
            stderr=subprocess.STDOUT,
            preexec_fn=_die_with_parent,
            start_new_session=True,
        )
        self.procs.append(proc)
        return proc

    def kill(self, proc, timeout=3.0):
        """Ends a process started here (and its group), gently, then not."""
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                proc.wait(timeout)
            except subprocess.TimeoutExpired:
                pass
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            pass

    def run(self, argv, input_text=None, timeout=20.0, check_rc=True):
        """Runs a command to its end (bounded) and returns its stdout."""
        done = subprocess.run(
            argv,
            env=self.env,
            input=input_text,
            capture_output=True,
            encoding="utf-8",
            errors="replace",
            timeout=timeout,
        )
        if check_rc and done.returncode != 0:
            raise Failure(f"{' '.join(argv)} exited {done.returncode}: {done.stderr.strip()}")
        return done.stdout

    def log(self, log_name):
        try:
            with open(os.path.join(self.work, log_name), encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    # ---- set-up and tear-down ---------------------------------------------
    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.print_logs()
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start(self):
        for tool in ("Xvfb", "xdotool", "openbox", "xprop"):
            if not shutil.which(tool):
                raise Skipped(f"{tool} is not installed (scripts/setup.sh installs it)")
        if not os.path.exists(self.args.bus_launcher):
            raise Skipped(f"{self.args.bus_launcher} is missing (at-spi2-core)")
        if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
            raise Failure("no session bus: run under dbus-run-session")

        env = dict(os.environ)
        for var in ("WAYLAND_DISPLAY", "XDG_ACTIVATION_TOKEN", "AT_SPI_BUS_ADDRESS", "SESSION_MANAGER"):
            env.pop(var, None)
        run_dir = os.path.join(self.work, "run")
        os.mkdir(run_dir, 0o700)
        env.update(
            QT_QPA_PLATFORM="xcb",
            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
            QT_ACCESSIBILITY="1",
            XDG_RUNTIME_DIR=run_dir,
            XDG_CONFIG_HOME=os.path.join(self.work, "config"),
            XDG_DATA_HOME=os.path.join(self.work, "data"),
            KEYWARD_DB=self.db,
            KEYWARD_HASH_COST="1",
            LC_ALL="C.UTF-8",
            # Every window's texts measured against their room as shown.
            UI_TEXT_FIT_LOG=self.fit_log(),
        )
        if self.args.lang == "en":
            # As an operator abroad has it: the locale asks for English.
            del env["LC_ALL"]
            env["LANG"] = "en_US.UTF-8"
        self.env = env
        if self.args.service:
            self._start_service()

        # A display number Xvfb picks itself, so parallel tests never clash.
        read_fd, write_fd = os.pipe()
        log = open(os.path.join(self.work, "xvfb.log"), "wb")
        self._logs.append(log)
        xvfb = subprocess.Popen(
            # No reset when a client (xprop below) leaves: it would drop the
            # resolution set and refuse the next client while it resets.
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen_size(), "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write_fd,),
            stdin=subprocess.DEVNULL,
            stdout=log,
            stderr=subprocess.STDOUT,
            preexec_fn=_die_with_parent,
            start_new_session=True,
        )
        self.procs.append(xvfb)
        os.close(write_fd)
        display = b""
        end = time.monotonic() + 15
        os.set_blocking(read_fd, False)
        while not display.endswith(b"\n") and time.monotonic() < end and xvfb.poll() is None:
            try:
                chunk = os.read(read_fd, 16)
                if not chunk:
                    break
                display += chunk
            except BlockingIOError:
                time.sleep(0.05)
        os.close(read_fd)
        if not display.strip():
            raise Failure(f"Xvfb did not start: {self.log('xvfb.log')}")
        env["DISPLAY"] = ":" + display.decode().strip()
        os.environ["DISPLAY"] = env["DISPLAY"]
        print(f"[{self.name}] display {env['DISPLAY']}, work {self.work}", flush=True)
        # The desktop's resolution, where programs read it (xrdb's property).
        self.run(["xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set", "RESOURCE_MANAGER",
                  f"Xft.dpi:\t{self.args.dpi}\n"])

        openbox = self.spawn(["openbox", "--sm-disable"], "openbox.log")

        def openbox_up():
            check(openbox.poll() is None, f"openbox exited with {openbox.poll()}")
            return "window id" in self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check_rc=False)

        wait_until("openbox", openbox_up, timeout=20)
        self.spawn([self.args.bus_launcher, "--launch-immediately"], "atspi.log")
        import pyatspi  # only now: it finds the bus through the display and the session bus

        self.atspi = pyatspi
        self._watch_popups()

    def _watch_popups(self):
        # A pop-up menu is no child of its application in the tree; it is
        # seen when it announces that it is showing.
        from gi.repository import Atspi, GLib

        self._popups = []
        self._main_context = GLib.MainContext.default()

        def shown(event):
            try:
                if event.detail1 and event.source.get_role_name() in ("menu", "popup menu"):
                    self._popups.append(event.source)
            except Exception:
                pass

        self._popup_listener = Atspi.EventListener.new(shown)
        self._popup_listener.register("object:state-changed:showing")

    def popups(self):
        """Pop-up menus that announced themselves, newest first."""
        while self._main_context.iteration(False):
            pass
        return list(reversed(self._popups))

    def close(self):
        for proc in reversed(self.procs):
            self.kill(proc)
        self.procs.clear()
        for log in self._logs:
            log.close()
        if getattr(self.args, "keep", False):
            print(f"[{self.name}] kept {self.work}")
        else:
            shutil.rmtree(self.work, ignore_errors=True)

    def report(self):
        """What a failure left: the screen, the accessibility tree, the logs."""
        print(f"screen at the failure: {self.screenshot('failure')}", flush=True)
        try:
            for app in self.atspi.Registry.getDesktop(0):
                if app is not None:
                    print("\n".join(dump(app)))
        except Exception as e:
            print(f"(no accessibility tree: {e})")
        self.print_logs()

    def screen_size(self):
        # The largest window, the main one, is about 700 x 730 at 96 dpi.
        return "1024x768x24" if self.args.dpi <= 96 else "2400x1800x24"

    def fit_log(self):
        return os.path.join(self.work, "text-fit.log")

    def check_texts_fit(self):
        """Every text that a window of the program showed had the room it
        needs, as the program measured it on this screen in its fonts."""
        try:
            with open(self.fit_log(), encoding="utf-8") as f:
                unfit = f.read().strip()
        except FileNotFoundError:
            return
        check(not unfit, f"texts drawn cut off:\n{unfit}")

    def check_drawn_whole(self, window, what):
        """A look at the screen: a screen of the window for the artefacts,
        and no text of it that runs into the edge of its label, as a text
        cut off by too small a label does. Text is dark on a light ground.
        A window the bus reports may not be on the screen yet: what is seen
        at the edges must still be there a moment later."""
        name = re.sub(r"[^\w.-]+", "-", what)
        found = self._text_at_label_edges(window, self.screenshot(name))
        if found:
            time.sleep(0.5)
            found = self._text_at_label_edges(window, self.screenshot(name + "-again"))
        check(not found, f"{what}: {found}")

    def _text_at_label_edges(self, window, path):
        if not path:
            return None
        for label in find_all(window, "label"):
            ext = label.queryComponent().getExtents(self.atspi.DESKTOP_COORDS)
            if not label.name or ext.width < 2 or ext.height < 2:
                continue
            (left, top), (right, bottom) = self.on_screen(ext.x, ext.y), self.on_screen(
                ext.x + ext.width, ext.y + ext.height)
            edges = {"right": f"1x{bottom - top}+{right - 1}+{top}",
                     "bottom": f"{right - left}x1+{left}+{bottom - 1}"}
            for edge, crop in edges.items():
                darkest = self.run(["convert", path, "-crop", crop, "+repage", "-colorspace", "Gray",
                                    "-format", "%[fx:minima]", "info:"], timeout=10)
                if float(darkest) <= 0.5:
                    return (f"the text {label.name!r} reaches the {edge} edge of its label "
                            f"({ext.width}x{ext.height} at {ext.x},{ext.y}): cut off? {path}")
        return None

    def print_logs(self):
        for name in sorted(os.listdir(self.work)):
            if name.endswith(".log"):
                text = self.log(name).strip()
                if text:
                    print(f"--- {name} (last lines)\n" + "\n".join(text.splitlines()[-15:]))

    def _start_service(self):
        """The store behind the account service instead: a configuration of
        the session's own names the system store, and keywardd keeps it."""
        socket_path = os.path.join(self.work, "run", "keyward.sock")
        conf = os.path.join(self.work, "varnock.conf")
        with open(conf, "w", encoding="utf-8") as f:
            f.write(f"[store]\nlocation = system\n[service]\nsocket = {socket_path}\n")
        self.env["SETBANK_SYSTEM_FILE"] = conf
        self.env.pop("KEYWARD_DB", None)
        self.spawn([self.args.service, "--socket", socket_path, "--store", self.db], "keywardd.log")
        wait_until("the account service", lambda: os.path.exists(socket_path))

    # ---- the store ----------------------------------------------------------
    def system_log(self):
        """Points the programs started from now at a system log socket of
        this test's own; returns a function that reads what came so far."""
        import socket

        path = os.path.join(self.work, "log.sock")
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        sock.bind(path)
        sock.setblocking(False)
        self.env["TRAILBOOK_SOCKET"] = path
        lines = []

        def read():
            while True:
                try:
                    lines.append(sock.recv(4096).decode(errors="replace"))
                except BlockingIOError:
                    return list(lines)

        return read

    def keyward(self, *argv, input_text=None):
        return self.run([self.args.keyward, *argv], input_text=input_text)

    def init_store(self, admin="root", password="Root-pw1"):
        self.keyward("init", "--admin", admin, "--password-stdin", input_text=password + "\n")

    def users(self):
        """keyward users, as (name, level text, mask, item characters) rows."""
        rows = []
        for line in self.keyward("users").splitlines()[1:]:
            parts = line.split()
            check(len(parts) >= 4, f"keyward users: odd line {line!r}")
            rows.append(tuple(parts[1:5]) if len(parts) >= 5 else (*parts[1:4], ""))
        return rows

    def audit(self):
        """keyward audit, as (actor, action, target, outcome) rows."""
        rows = []
        for line in self.keyward("audit").splitlines()[1:]:
            parts = line.split()
            check(len(parts) >= 5, f"keyward audit: odd line {line!r}")
            rows.append(tuple(parts[1:5]))
        return rows

    def store_call(self, actor, password, call, *args):
        """One call of the store library as another process would make it,
        logged in as actor. Returns the call's result."""
        script = (
            "import ctypes,sys\n"
            "lib=ctypes.CDLL(sys.argv[1])\n"
            "lib.keyward_start()\n"
            "rc=lib.login(sys.argv[2].encode('gbk'),sys.argv[3].encode('gbk'))\n"
            "if rc: print(rc); sys.exit(0)\n"
            "args=[a.encode('gbk') if not a.lstrip('-').isdigit() else int(a) for a in sys.argv[5:]]\n"
            "print(getattr(lib,sys.argv[4])(*args))\n"
            "lib.keyward_stop()\n"
        )
        out = self.run(
            [sys.executable, "-c", script, self.args.libkeyward, actor, password, call, *map(str, args)]
        )
        return int(out.strip())

    # ---- the program --------------------------------------------------------
    def start(self, env=None):
        """Starts the program; env other than the session's makes another station."""
        log_name = f"rolvane-{len(self.procs)}.log"
        return Program(self, self.spawn([self.args.rolvane], log_name, env=env), log_name)

    def screenshot(self, label):
        """Saves the whole screen next to the test's other artefacts."""
        out_dir = self.args.artifacts
        os.makedirs(out_dir, exist_ok=True)
        if self._shots == 0:  # none left from an earlier run
            for old in os.listdir(out_dir):
                if re.match(re.escape(self.name) + r"-\d\d-.*\.png$", old):
                    os.remove(os.path.join(out_dir, old))
        self._shots += 1
        path = os.path.join(out_dir, f"{self.name}-{self._shots:02d}-{label}.png")
        try:
            self.run(["import", "-window", "root", path], timeout=10, check_rc=False)
        except Exception:
            return None
        return path

    # ---- input ----------------------------------------------------------------
    def xdotool(self, *argv):
        return self.run(["xdotool", *map(str, argv)], timeout=10)

    def on_screen(self, x, y):
        """A point of the accessibility tree on the screen: Qt reports in
        device-independent pixels, which a desktop of 192 dpi doubles."""
        scale = self.args.dpi / 96
        return round(x * scale), round(y * scale)

    def click_at(self, x, y, button=1):
        """Clicks at a point of the accessibility tree."""
        # The server takes XTEST events in order: the press lands where the
        # pointer went. (mousemove --sync waits for ever when it is there.)
        self.xdotool("mousemove", *self.on_screen(x, y), "click", button)

    def click(self, acc, button=1):
        self.click_at(*center(acc), button=button)

    def type(self, text):
        """Types text. Characters without a key get one first (xdotool's own
        short-lived remapping loses keys: the client may read the keymap
        back after it was undone)."""
        extra = sorted({ch for ch in text if not ch.isascii()})
        if not extra:
            self.xdotool("type", "--delay", 15, "--", text)
            return
        self._bind_keys(extra)
        # Keysyms: U+hex for the bound characters, the code for ASCII.
        keysyms = [f"U{ord(ch):04X}" if not ch.isascii() else f"0x{ord(ch):x}" for ch in text]
        self.xdotool("key", "--delay", 30, *keysyms)

    def _bind_keys(self, chars):
        """Binds each character to a free key code, for the session."""
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        c_int_p = ctypes.POINTER(ctypes.c_int)
        x11.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int, c_int_p]
        x11.XChangeKeyboardMapping.argtypes = [
            ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_ulong), ctypes.c_int
        ]
        x11.XDisplayKeycodes.argtypes = [ctypes.c_void_p, c_int_p, c_int_p]
        for f in ("XFree", "XSync", "XCloseDisplay"):
            getattr(x11, f).argtypes = [ctypes.c_void_p] + ([ctypes.c_int] if f == "XSync" else [])
        dpy = x11.XOpenDisplay(self.env["DISPLAY"].encode())
        check(dpy, "cannot open the display to bind keys")
        try:
            lo, hi = ctypes.c_int(), ctypes.c_int()
            x11.XDisplayKeycodes(dpy, ctypes.byref(lo), ctypes.byref(hi))
            per = ctypes.c_int()
            count = hi.value - lo.value + 1
            syms = x11.XGetKeyboardMapping(dpy, lo.value, count, ctypes.byref(per))
            wanted = [0x01000000 + ord(ch) for ch in chars]
            present = {syms[i] for i in range(count * per.value)}
            width = per.value
            free = [lo.value + k for k in range(count) if not any(syms[k * width : (k + 1) * width])]
            x11.XFree(syms)
            missing = [w for w in wanted if w not in present]
            check(len(missing) <= len(free), f"no free keys for {len(missing)} characters")
            for keycode, sym in zip(free, missing):
                row = (ctypes.c_ulong * 2)(sym, sym)
                x11.XChangeKeyboardMapping(dpy, keycode, 2, row, 1)
            x11.XSync(dpy, 0)
        finally:
            x11.XCloseDisplay(dpy)
        if missing:
            time.sleep(0.3)  # the program reads the new keymap

    def key(self, *keys):
        self.xdotool("key", "--delay", 30, *keys)


def center(acc):
    import pyatspi

    ext = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    check(ext.width > 0 and ext.height > 0, f"{describe(acc)} has no extent on screen")
    return ext.x + ext.width // 2, ext.y + ext.height // 2


def describe(acc):
    try:
        return f"[{acc.getRoleName()} {acc.name!r}]"
    except Exception:
        return "[gone]"


def has_state(acc, state_name):
    import pyatspi

    return acc.getState().contains(getattr(pyatspi, "STATE_" + state_name.upper()))


def text_of(acc):
    """What an accessible shows: the contents of a text, else its name."""
    try:
        t = acc.queryText()
        return t.getText(0, -1)
    except NotImplementedError:
        return acc.name


def walk(acc):
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find_all(root, role_name, name=None):
    """Everything below root of this role (and name), in tree order."""
    return [a for a in walk(root) if a.getRoleName() == role_name and (name is None or a.name == name)]


# Lists and boxes whose insides a look at the form does not need.
_BULKY = ("tree", "table", "combo box", "list")


def collect(root, roles, prune=_BULKY):
    """One walk of the tree: {role: [accessibles in tree order]}; the
    children of the roles in prune are not visited."""
    out = {r: [] for r in roles}

    def visit(acc):
        r = acc.getRoleName()
        if r in out:
            out[r].append(acc)
        if r in prune and acc is not root:
            return
        for i in range(acc.childCount):
            child = acc.getChildAtIndex(i)
            if child is not None:
                visit(child)

    visit(root)
    return out


def dump(acc, depth=0):
    """The tree below acc as text, for failure reports."""
    lines = []
    try:
        flags = [s for s in ("sensitive", "focused", "showing", "checked", "selected") if has_state(acc, s)]
        try:
            text = acc.queryText().getText(0, -1)
        except Exception:
            text = None
        shown = f" text={text!r}" if text else ""
        lines.append("  " * depth + f"{describe(acc)}{shown} {','.join(flags)}")
        for i in range(acc.childCount):
            child = acc.getChildAtIndex(i)
            if child is not None:
                lines.extend(dump(child, depth + 1))
    except Exception as e:
        lines.append("  " * depth + f"(gone: {e})")
    return lines


class Program:
    """One running copy of rolvane, seen through its accessibility tree."""

    def __init__(self, session, proc, log_name):
        self.s = session
        self.proc = proc
        self.log_name = log_name
        self._app = None

    def app(self):
        if self._app is None:

            def found():
                self.check_running()
                desktop = self.s.atspi.Registry.getDesktop(0)
                for i in range(desktop.childCount):
                    a = desktop.getChildAtIndex(i)
                    if a is not None and a.get_process_id() == self.proc.pid:
                        return a
                return None

            self._app = wait_until("the program on the accessibility bus", found, timeout=20)
        self._app.clear_cache()
        return self._app

    def check_running(self):
        rc = self.proc.poll()
        if rc is not None:
            raise Failure(f"rolvane exited with {rc}: {self.s.log(self.log_name)}")

    def windows(self):
        app = self.app()
        return [app.getChildAtIndex(i) for i in range(app.childCount)]

    def window(self, title, timeout=10):
        title = T(title)

        def found():
            for w in self.windows():
                if w is not None and w.name == title and has_state(w, "showing"):
                    return w
            return None

        return wait_until(f"the window {title!r}", found, timeout)

    def no_window(self, title, timeout=10):
        title = T(title)
        wait_until(
            f"the window {title!r} to close",
            lambda: all(w is None or w.name != title or not has_state(w, "showing") for w in self.windows()),
            timeout,
        )

    def message_box(self, timeout=10):
        """The open message box: (window, caption, text)."""

        def found():
            for w in self.windows():
                if w is not None and w.getRoleName() == "alert" and has_state(w, "showing"):
                    return w
            return None

        box = wait_until("a message box", found, timeout)
        labels = [a.name for a in find_all(box, "label") if a.name]
        return box, box.name, "\n".join(labels)

    def expect_message(self, caption, text, answer=OK, timeout=10):
        """Waits for a message box with exactly this caption and text (the
        program's, T() gives the shown ones), shows it whole on the screen,
        then answers it with the button named in answer, by a click."""
        box, got_caption, got_text = self.message_box(timeout)
        check_equal((got_caption, got_text), (T(caption), T(text)), "message box (caption, text)")
        buttons = sorted(b.name for b in collect(box, ("push button",))["push button"])
        wanted = [NO, YES] if answer in (YES, NO) else [OK]
        check_equal(buttons, sorted(entry(T(b)) for b in wanted), "the message box's buttons")
        self.s.check_drawn_whole(box, f"box {T(caption)}")
        self.press(box, answer)
        wait_until("the message box to close", lambda: not self._is_open(box), timeout=5)

    def _is_open(self, box):
        try:
            box.clear_cache()
            return has_state(box, "showing") and box in self.windows()
        except Exception:
            return False

    def no_message_box(self, settle=0.5):
        time.sleep(settle)
        for w in self.windows():
            if w is not None and w.getRoleName() == "alert" and has_state(w, "showing"):
                labels = [a.name for a in find_all(w, "label") if a.name]
                raise Failure(f"unexpected message box {w.name!r}: {labels}")

    def button(self, root, name):
        """The push button a text of the program names (T and entry applied)."""
        name = entry(T(name))
        every = collect(root, ("push button",))["push button"]
        buttons = [b for b in every if b.name == name]
        check(len(buttons) == 1, f"no button {name!r} in {describe(root)}; buttons: {[b.name for b in every]}")
        return buttons[0]

    def press(self, root, name):
        self.s.click(self.button(root, name))

    def wait_exit(self, timeout=10):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"rolvane did not end within {timeout} s")

    def expect_focus(self, field, selected=False, timeout=5):
        """Waits until field has the keyboard focus and, if selected, all of
        its text is selected."""

        def whole_selection():
            t = field.queryText()
            length = t.characterCount
            if length == 0 or t.getNSelections() != 1:
                return length == 0
            start, end = t.getSelection(0)
            return (start, end) == (0, length)

        def ok():
            field.clear_cache()
            return has_state(field, "focused") and (not selected or whole_selection())

        what = f"{describe(field)} focused" + (" with all its text selected" if selected else "")
        wait_until(what, ok, timeout)

    # ---- the login window ------------------------------------------------------
    def login_fields(self):
        """The login window's account and password boxes."""
        w = self.window(LOGIN_TITLE, timeout=20)
        found = collect(w, ("text", "password text"))
        edits, pwds = found["text"], found["password text"]
        check(len(edits) == 1 and len(pwds) == 1, "login window: one account and one password box")
        return {"account": edits[0], "password": pwds[0]}

    def login(self, user, password, expect_ok=True):
        w = self.window(LOGIN_TITLE, timeout=20)
        f = self.login_fields()
        self.fill(f["account"], user)
        self.fill(f["password"], password)
        self.s.key("Return")
        if expect_ok:
            self.no_window(LOGIN_TITLE)
        return w

    def fill(self, field, text):
        """Clicks into a field, empties it and types text."""
        self.s.click(field)
        wait_until(f"focus in {describe(field)}", lambda: has_state(field, "focused"), timeout=5)
        self.s.key("ctrl+a", "BackSpace")
        visible = field.getRoleName() != "password text"
        if text:
            self.s.type(text)
        if visible:
            wait_until(f"{text!r} in {describe(field)}", lambda: text_of(field) == text, timeout=5)

    # ---- the main window ----------------------------------------------------------
    def main(self):
        return self.window(MAIN_TITLE)

    def status_line(self):
        labels = collect(self.main(), ("label",))["label"]
        labels = [a.name for a in labels if a.name.startswith(T(CURRENT_USER))]
        check(len(labels) == 1, f"one current-user line, found {labels}")
        return labels[0]

    def user_table(self):
        found = collect(self.main(), ("tree", "table"))
        tables = found["tree"] + found["table"]
        check(len(tables) == 1, f"one user list, found {len(tables)}")
        return tables[0]

    def rows(self):
        """The user list's cells as rows of four texts."""
        cells = [c.name for c in find_all(self.user_table(), "table cell")]
        check(len(cells) % 4 == 0, f"the list has {len(cells)} cells, not rows of four")
        return [tuple(cells[i : i + 4]) for i in range(0, len(cells), 4)]

    def fields(self):
        """The form: the name box, the level box and, in their order, the
        password, new-password and confirmation boxes."""
        w = self.main()
        found = collect(w, ("text", "combo box", "password text"))
        names, combos, pwds = found["text"], found["combo box"], found["password text"]
        check(
            len(names) == 1 and len(combos) == 1 and len(pwds) == 3,
            "the form: one name, one level, three password boxes",
        )
        return {"name": names[0], "level": combos[0], "password": pwds[0], "new": pwds[1], "confirm": pwds[2]}

    def shown_fields(self):
        return sorted(k for k, f in self.fields().items() if has_state(f, "showing"))

    def choose_level(self, text):
        combo = self.fields()["level"]
        self.s.click(combo)
        item = wait_until(
            f"{text!r} in the opened level box",
            lambda: next((i for i in find_all(combo, "list item", text) if has_state(i, "showing")
                          and i.queryComponent().getExtents(self.s.atspi.DESKTOP_COORDS).width > 0), None),
            timeout=5,
        )
        self.s.click(item)
        wait_until(f"the level box to show {text!r}", lambda: self.fields()["level"].name == text, timeout=5)

    def tick(self, title, on=True):
        box = [b for b in collect(self.main(), ("check box",))["check box"] if b.name == title]
        check(len(box) == 1, f"one check box {title!r}")
        if has_state(box[0], "checked") != on:
            self.s.click(box[0])
        what = f"{title!r} {'ticked' if on else 'unticked'}"
        wait_until(what, lambda: has_state(box[0], "checked") == on, timeout=5)

    def save(self):
        self.press(self.main(), "保存(&S)")

    def cancel(self):
        self.press(self.main(), "取消(&C)")

    def cell(self, row, column):
        cells = find_all(self.user_table(), "table cell")
        return cells[row * 4 + column]

    def right_click(self, row):
        """Right click on a row's name cell (None: below the last row)."""
        if row is None:
            table = self.user_table()
            ext = table.queryComponent().getExtents(self.s.atspi.DESKTOP_COORDS)
            self.s.click_at(ext.x + ext.width // 3, ext.y + ext.height - 12, button=3)
        else:
            self.s.click(self.cell(row, 1), button=3)

    def keyboard_menu(self, row, key, timeout=5):
        """Selects a row by a click (None: a click below the rows, which
        selects none), asks for the menu with a key and returns the pop-up
        menu and its entries, {text: sensitive}."""
        table = self.user_table()
        if row is None:
            ext = table.queryComponent().getExtents(self.s.atspi.DESKTOP_COORDS)
            self.s.click_at(ext.x + ext.width // 3, ext.y + ext.height - 12)
        else:
            self.s.click(self.cell(row, 1))
            wait_until(f"row {row} selected", lambda: has_state(self.cell(row, 1), "selected"), timeout=5)
        wait_until("the list focused", lambda: has_state(table, "focused"), timeout=5)
        self.s.key(key)
        menu = self.popup(timeout)
        return menu, self.menu_entries(menu)

    def context_menu(self, row=None, timeout=5):
        """Right click on a row (None: below the last row) and return the
        pop-up menu and its entries, {text: sensitive}."""
        self.right_click(row)
        menu = self.popup(timeout)
        return menu, self.menu_entries(menu)

    def _open_popups(self):
        out = []
        for m in self.s.popups():
            try:
                m.clear_cache()
                if m.get_process_id() == self.proc.pid and has_state(m, "showing") and m.childCount:
                    out.append(m)
            except Exception:
                pass  # gone
        return out

    def popup(self, timeout=5):
        return wait_until("a pop-up menu", lambda: (self._open_popups() or [None])[0], timeout)

    def no_popup(self, settle=1.0):
        time.sleep(settle)
        menus = self._open_popups()
        check(not menus, f"a pop-up menu is open: {[self.menu_entries(m) for m in menus]}")

    def dismiss_menu(self):
        self.s.key("Escape")
        wait_until("the menu to close", lambda: not self._open_popups(), timeout=5)

    def command(self, row, entry):
        """Right click on a row (None: below the rows) and choose entry."""
        menu, _ = self.context_menu(row)
        self.choose(menu, entry)
        wait_until("the menu to close", lambda: not self._open_popups(), timeout=5)

    def menu_entries(self, menu):
        items = find_all(menu, "menu item")
        return {i.name: has_state(i, "sensitive") for i in items if i.name}

    def choose(self, menu, text):
        """Clicks the menu entry a text of the program names."""
        text = entry(T(text))
        items = [i for i in find_all(menu, "menu item") if i.name == text]
        check(items, f"no menu entry {text!r}: {self.menu_entries(menu)}")
        check(has_state(items[0], "sensitive"), f"menu entry {text!r} is greyed")
        self.s.click(items[0])


def main(scenarios):
    """Runs the scenario named on the command line; 0 pass, 1 fail, 77 skip."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--rolvane", required=True)
    parser.add_argument("--keyward", required=True)
    parser.add_argument("--libkeyward", required=True)
    parser.add_argument("--service", help="keywardd: the store through the account service")
    parser.add_argument("--artifacts", default=os.path.join(tempfile.gettempdir(), "rolvane-e2e"))
    parser.add_argument("--bus-launcher", default="/usr/libexec/at-spi-bus-launcher")
    parser.add_argument("--timeout", type=float, default=150, help="whole scenario, seconds")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--lang", choices=("zh", "en"), default="zh", help="the locale's language")
    parser.add_argument("--dpi", type=int, default=96, help="the desktop's resolution (Xft.dpi)")
    parser.add_argument("--catalog", help="res/en.po, for the texts an English run shows")
    parser.add_argument("scenario", choices=sorted(scenarios))
    args = parser.parse_args()

    # A private session bus of our own, whatever the caller has.
    if os.environ.get("ROLVANE_E2E_BUS") != "private":
        if not shutil.which("dbus-run-session"):
            print("SKIP: dbus-run-session is not installed (scripts/setup.sh installs it)")
            return SKIP
        os.environ["ROLVANE_E2E_BUS"] = "private"
        # And a runtime folder of our own, where the accessibility bus that
        # the session starts puts its socket: tests running side by side
        # would otherwise share one under ~/.cache.
        runtime = tempfile.mkdtemp(prefix="rolvane-e2e-runtime-")
        os.environ["XDG_RUNTIME_DIR"] = os.environ["ROLVANE_E2E_RUNTIME"] = runtime
        sys.stdout.flush()
        os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv])
    if args.lang == "en":
        if not args.catalog:
            parser.error("--lang en needs --catalog")
        _translations.update(read_catalog(args.catalog))
    try:
        importlib.import_module("pyatspi")
    except ImportError as e:
        print(f"SKIP: {sys.executable} cannot import pyatspi ({e}); scripts/setup.sh installs it")
        return SKIP

    # No scenario may hang: a bounded run, then everything is torn down.
    def out_of_time(*_):
        raise Failure(f"the scenario ran out of its {args.timeout:.0f} s")

    signal.signal(signal.SIGALRM, out_of_time)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    signal.setitimer(signal.ITIMER_REAL, args.timeout)

    try:
        with Session(args, args.scenario) as session:
            try:
                scenarios[args.scenario](session)
                session.check_texts_fit()
            except Exception:
                session.report()
                raise
        print("PASS")
        return 0
    except Skipped as skipped:
        print(f"SKIP: {skipped}")
        return SKIP
    except Failure as f:
        print(f"FAIL: {f}")
        return 1
    except Exception:
        traceback.print_exc()
        print("FAIL: the scenario broke")
        return 1
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        # Only the folder made above, never a runtime folder of the caller's.
        if os.environ.get("ROLVANE_E2E_RUNTIME"):
            shutil.rmtree(os.environ["ROLVANE_E2E_RUNTIME"], ignore_errors=True)
