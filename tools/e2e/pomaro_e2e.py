"""End-to-end test helpers: run Windows programs under Wine on their own Xvfb display.

Each Session gets its own copy of the test prefix (so its Documents folder, registry
entries and audio configuration are its own), its own wineserver and its own X
display, and reaps all of them when it ends, whatever happened.

Input is confirmed, not assumed: keys are typed only once X and Wine both give the
window the keyboard, clicks only once the pointer is over the window, and the *_until
helpers repeat a press that showed no effect (a note in a recording, a lit key, a log
line) within a bounded wait.
"""
import os
import re
import select
import shutil
import subprocess
import tempfile
import time

SOURCE_DIR = os.environ.get("POMARO_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BIN_DIR = os.environ.get("POMARO_BIN_DIR", "")
WINE_DIR = os.environ.get("POMARO_WINE_DIR", "")
TOOLS = os.path.join(SOURCE_DIR, "tools")


WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"


class TestFailure(AssertionError):
    pass


def check(cond, message):
    if not cond:
        raise TestFailure(message)


def wait_for(predicate, timeout, interval=0.05, what="condition"):
    """Polls predicate until it returns a true value; returns that value."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise TestFailure("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def template_prefix():
    """The shared, pristine test prefix (created by the ctest fixture or on demand)."""
    base = WINE_DIR or os.path.join(SOURCE_DIR, "build", "wine")
    prefix = os.path.join(base, "prefix")
    if not os.path.exists(os.path.join(prefix, ".pomaro-ready")):
        subprocess.run([os.path.join(TOOLS, "wine-env.sh"), "prefix", base], check=True)
    return prefix


def clone_prefix(src, dst):
    """Copies a prefix; the large system folders are hard-linked (Wine only reads them)."""
    os.makedirs(dst, exist_ok=True)
    shared = {os.path.join("drive_c", "windows", "system32"), os.path.join("drive_c", "windows", "syswow64")}
    for dirpath, dirnames, filenames in os.walk(src):
        rel = os.path.relpath(dirpath, src)
        target = os.path.join(dst, rel) if rel != "." else dst
        if rel in shared:
            subprocess.run(["cp", "-al", dirpath, os.path.dirname(target) + "/"], check=True)
            dirnames[:] = []
            continue
        os.makedirs(target, exist_ok=True)
        for d in list(dirnames):
            p = os.path.join(dirpath, d)
            if os.path.islink(p):
                os.symlink(os.readlink(p), os.path.join(target, d))
                dirnames.remove(d)
        for f in filenames:
            p = os.path.join(dirpath, f)
            q = os.path.join(target, f)
            if os.path.islink(p):
                os.symlink(os.readlink(p), q)
            else:
                shutil.copy2(p, q)


def end_wine_in(prefix):
    """Kills every process that runs in the Wine prefix and waits until they are gone."""
    mark = b"WINEPREFIX=" + os.fsencode(prefix) + b"\0"

    def running():
        found = []
        for pid in os.listdir("/proc"):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if mark in f.read() + b"\0":
                        found.append(int(pid))
            except (OSError, ValueError):
                pass
        return found

    for pid in running():
        try:
            os.kill(pid, 9)
        except OSError:
            pass
    wait_for(lambda: not running(), 10, what="the old session's Wine processes to end")


class Session:
    """One isolated Wine session: prefix copy, wineserver, Xvfb display."""

    def __init__(self, name, lang=None, fresh_prefix=False, root=None):
        """fresh_prefix: a new prefix made by wineboot, as a user's first start of Wine
        leaves it, instead of a copy of the shared test prefix. root: the folder that
        holds the session's folder (default: the shared wine folder's e2e/)."""
        root = root or os.path.join(WINE_DIR or tempfile.gettempdir(), "e2e")
        os.makedirs(root, exist_ok=True)
        self.dir = os.path.join(root, name)
        # A session of the same name that was killed (a test stopped by its time-out, say)
        # may have left Wine running in its prefix, still writing into the folder.
        end_wine_in(os.path.join(self.dir, "prefix"))
        wait_for(lambda: shutil.rmtree(self.dir, ignore_errors=True) or not os.path.exists(self.dir), 30,
                 what="the old session folder %s to go" % self.dir)
        os.makedirs(self.dir)
        self.prefix = os.path.join(self.dir, "prefix")
        self.procs = []
        self._prober = None
        self._probed = b""
        self.xvfb = None
        self.display = None
        if not fresh_prefix:
            clone_prefix(template_prefix(), self.prefix)
        self.env = dict(os.environ)
        for k in ("WINEPREFIX", "DISPLAY", "WINEDEBUG", "ALSA_CONFIG_PATH"):
            self.env.pop(k, None)
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        HOME=self.dir)
        if lang:
            self.env.update(LANG=lang, LC_ALL=lang)
        self._start_xvfb()
        if fresh_prefix:
            subprocess.run([WINE64, "wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                           timeout=300)
            check(os.path.isdir(os.path.join(self.prefix, "drive_c", "users")), "wineboot made no prefix")
        subprocess.Popen([WINESERVER, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True).wait()
        # Wine's system processes (services, devices, desktop) start with the first
        # program and outlive it; start them here with no pipes attached, so that a
        # later captured run never waits on them.
        subprocess.run([WINE64, "wineboot"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        user = [u for u in os.listdir(os.path.join(self.prefix, "drive_c", "users")) if u != "Public"][0]
        self.user_dir = os.path.join(self.prefix, "drive_c", "users", user)
        self.documents = os.path.join(self.user_dir, "Documents")

    # -- lifetime -----------------------------------------------------------
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            subprocess.run([WINESERVER, "-w"], env=self.env, timeout=20)
        except subprocess.TimeoutExpired:
            pass
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        shutil.rmtree(self.prefix, ignore_errors=True)

    def _owns_display(self, n):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n):
            return False
        try:
            with open("/tmp/.X%d-lock" % n) as f:
                return int(f.read().strip() or 0) == self.xvfb.pid
        except (OSError, ValueError):
            return False

    def _start_xvfb(self):
        n = 100 + (os.getpid() % 300)
        while True:
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
                # No auto-repeat (it would begin after a minute): under Wine a held key's
                # repeats come now and then as a release and a new press, which ends the
                # held note and plays it again.
                self.xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                              "-ardelay", "60000"],
                                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL, start_new_session=True)
                # Another session may start a server on the same number at the same moment;
                # the display is ours only when the lock file names our server.
                try:
                    wait_for(lambda: self._owns_display(n) or self.xvfb.poll() is not None, 10, what="Xvfb")
                except TestFailure:
                    pass
                if self.xvfb.poll() is None and self._owns_display(n):
                    break
                self.xvfb.kill()
                self.xvfb.wait()
            n += 1
        self.display = ":%d" % n
        self.env["DISPLAY"] = self.display

    # -- running programs ----------------------------------------------------
    def wine(self, args, cwd=None, env=None, timeout=None):
        """Runs a Windows program to completion; returns CompletedProcess.

        Output goes through files, not pipes: a Wine system process started on demand
        inherits the program's handles and would keep a pipe open long after it ended."""
        e = dict(self.env)
        e.update(env or {})
        with tempfile.TemporaryFile(dir=self.dir) as out, tempfile.TemporaryFile(dir=self.dir) as err:
            p = subprocess.Popen([WINE64] + list(args), cwd=cwd, env=e, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=err)
            try:
                rc = p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(p.args, rc, out.read(), err.read())

    def start(self, exe, args=(), cwd=None, env=None):
        """Starts a Windows program and returns its Popen (exit code = the program's)."""
        e = dict(self.env)
        e.update(env or {})
        p = subprocess.Popen([WINE64, exe] + list(args), cwd=cwd or os.path.dirname(exe), env=e,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def reg_add(self, key, name=None, data=None, kind="REG_SZ"):
        args = ["reg", "add", key]
        args += ["/v", name] if name is not None else ["/ve"]
        if data is not None:
            args += ["/t", kind, "/d", str(data)]
        args += ["/f"]
        # Right after the prefix starts, Wine's reg now and then fails without a word while
        # the services still write the registry; the write is idempotent, so it is tried again.
        for attempt in range(5):
            r = self.wine(args)
            if r.returncode == 0:
                return
            time.sleep(0.5)
        raise TestFailure("reg add %s failed 5 times (exit code %s): %s" % (key, r.returncode, r.stderr))

    # -- X side ----------------------------------------------------------------
    def xdotool(self, *args, check_rc=True):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE)
        if check_rc and r.returncode != 0:
            raise TestFailure("xdotool %s failed: %s" % (" ".join(map(str, args)), r.stderr.decode()))
        return r.stdout.decode().split()

    def find_windows(self, title_regex):
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title_regex], env=self.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return r.stdout.decode().split()

    def wait_window(self, title_regex, timeout=30, proc=None):
        """Waits for a visible window and returns its X id once the same id is seen twice
        0.3 s apart (Wine may replace a window's X window right after mapping it)."""
        seen = [None]

        def probe():
            if proc is not None and proc.poll() is not None:
                raise TestFailure("program ended (code %s) before window %r appeared" % (proc.returncode, title_regex))
            w = self.find_windows(title_regex)
            w = w[0] if w else None
            if w and w == seen[0]:
                return w
            seen[0] = w
            return None
        return wait_for(probe, timeout, 0.3, "window %r" % title_regex)

    def x_focus(self):
        """The X window that holds the input focus, as an int (0 when X names none)."""
        r = subprocess.run(["xdotool", "getwindowfocus", "-f"], env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
        out = r.stdout.decode().split()
        return int(out[0]) if r.returncode == 0 and out and out[0].isdigit() else 0

    def focus(self, window, timeout=30, done=None):
        """Gives window the keyboard and confirms it from both sides, retrying within timeout:
        on a busy machine xdotool's focus request may return before Wine has moved the focus,
        and Wine may keep another window in front. Stops early, returning False, once done()
        is true (used by presses whose effect may come while the window goes away)."""
        state = {"front": ""}

        def attempt():
            if done is not None and done():
                return "done"
            if self.x_focus() != int(window):
                self.xdotool("windowfocus", window, check_rc=False)
                return False
            rc, out = self.probe("focus", str(window))
            if rc == 0:
                return "focused"
            state["front"] = out.strip()
            # xdotool moves only X's focus; without a window manager nothing tells Wine.
            self.probe("activate", str(window))
            return False
        try:
            return wait_for(attempt, timeout, 0.1, "window %s to have the keyboard focus" % window) == "focused"
        except TestFailure:
            raise TestFailure("window %s never had the keyboard focus within %.0f s (X focus %s; Wine: %s)"
                              % (window, timeout, self.x_focus(), state["front"].replace("\n", "; ")))

    def key(self, window, *keys):
        """Types keys (xdotool names, e.g. "c", "alt+F4") into window once its focus is confirmed."""
        self.focus(window)
        self.xdotool("key", *keys)

    def keyup(self, window, key):
        # Sent as it is: the press confirmed the focus, and a box that took it meanwhile
        # belongs to the program's own thread, whose message loop takes the release too.
        # (A release must not wait either: tests time how long a note is held.)
        self.xdotool("keyup", key)

    def keydown_until(self, window, key, evidence, timeout=30, attempt=5.0):
        """Presses key in window and holds it until evidence() gives a true value, which is
        returned: the note in a driver's recording, the lit key, a log line. A press without
        effect within attempt seconds is released and made again, its focus confirmed anew,
        until timeout; the key stays down for the caller to release."""
        end = time.monotonic() + timeout
        while True:
            # The effect may come while the window loses the focus (a box of the program's).
            if not self.focus(window, max(0.1, end - time.monotonic()), done=evidence):
                return evidence()
            self.xdotool("keydown", key)
            try:
                return wait_for(evidence, max(0.1, min(attempt, end - time.monotonic())), 0.05, "evidence")
            except TestFailure:
                self.keyup(window, key)
                if time.monotonic() >= end:
                    raise TestFailure("key %s in window %s had no effect within %.0f s" % (key, window, timeout))

    def key_until(self, window, keys, evidence, timeout=30, attempt=10.0):
        """Types keys (one xdotool key name or a list) into window until evidence() gives a
        true value, which is returned. For keys whose repetition does no harm once they took
        effect (alt+F4 while the program ends): a repeat comes only after attempt seconds
        without effect, and none once the effect is seen."""
        keys = [keys] if isinstance(keys, str) else list(keys)
        end = time.monotonic() + timeout
        while True:
            if not self.focus(window, max(0.1, end - time.monotonic()), done=evidence):
                return evidence()
            self.xdotool("key", *keys)
            try:
                return wait_for(evidence, max(0.1, min(attempt, end - time.monotonic())), 0.05, "evidence")
            except TestFailure:
                if time.monotonic() >= end:
                    raise TestFailure("keys %s in window %s had no effect within %.0f s" % (keys, window, timeout))

    def pointer_window(self):
        """The top-level X window under the pointer, as an int (0 for the root)."""
        r = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
        m = re.search(r"^WINDOW=(\d+)$", r.stdout.decode(), re.M)
        return int(m.group(1)) if m else 0

    def click_until(self, window, x, y, evidence, timeout=30, attempt=5.0):
        """Clicks at screen coordinates (x, y), over window, until evidence() gives a true value,
        which is returned. Each click waits until the pointer is confirmed over the window (one
        that Wine has not yet mapped or raised would let it fall on whatever lies below); only
        for clicks that do no harm when repeated after attempt seconds without effect."""
        end = time.monotonic() + timeout
        while True:
            def over():
                if evidence():
                    return "done"
                self.xdotool("mousemove", x, y)
                return self.pointer_window() == int(window)
            if wait_for(over, max(0.1, end - time.monotonic()), 0.2, "the pointer over window %s" % window) == "done":
                return evidence()
            self.xdotool("click", 1)
            try:
                return wait_for(evidence, max(0.1, min(attempt, end - time.monotonic())), 0.1, "evidence")
            except TestFailure:
                if time.monotonic() >= end:
                    raise TestFailure("a click at %d,%d in window %s had no effect within %.0f s" % (x, y, window, timeout))

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", path], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    # -- Windows side (through winprobe.exe) -------------------------------
    def probe(self, *args, timeout=60):
        """Runs one winprobe command in the session; returns (exit code, output). The commands
        go to one winprobe that stays running (each program start costs Wine up to a second,
        and focus checks come before every key); it is started again if it went away."""
        line = ("\t".join(str(a) for a in args) + "\n").encode("utf-8")
        for _ in range(2):
            if self._prober is None or self._prober.poll() is not None:
                self._prober = subprocess.Popen([WINE64, os.path.join(BIN_DIR, "winprobe.exe"), "serve"],
                                                env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                                stderr=subprocess.DEVNULL, start_new_session=True)
                self.procs.append(self._prober)
                self._probed = b""
            try:
                self._prober.stdin.write(line)
                self._prober.stdin.flush()
                return self._probe_answer(time.monotonic() + timeout)
            except (OSError, TestFailure) as e:
                failure = e
                self._prober.kill()
                self._prober.wait()
        raise TestFailure("winprobe %s: %s" % (" ".join(map(str, args)), failure))

    def _probe_answer(self, end):
        fd = self._prober.stdout.fileno()
        while True:
            m = re.search(rb"\x1e(-?\d+)\r?\n", self._probed)
            if m:
                out, self._probed = self._probed[:m.start()], self._probed[m.end():]
                return int(m.group(1)), out.decode("utf-8", "replace")
            ready, _, _ = select.select([fd], [], [], max(0.0, end - time.monotonic()))
            if not ready:
                raise TestFailure("no answer in time")
            chunk = os.read(fd, 65536)
            if not chunk:
                raise TestFailure("it ended")
            self._probed += chunk

    def boxes(self):
        rc, out = self.probe("boxes")
        result = []
        for line in out.splitlines():
            title, _, text = line.partition("\t")
            result.append((title, text.replace("\\r", "\r").replace("\\n", "\n")))
        return result

    def dismiss_boxes(self):
        """Presses OK on every box on screen, each once, waiting until it is gone;
        returns their (title, text) in the order they were found."""
        texts = []
        for box in self.boxes():
            texts.append(box)
            self.probe("press", box[0], "1")
            try:
                wait_for(lambda: box not in self.boxes(), 15, 0.1, "box %r to close" % (box,))
            except TestFailure:
                pass
        return texts

    def press_box(self, title, button_id=1):
        rc, _ = self.probe("press", title, str(button_id))
        check(rc == 0, "no box titled %r to press" % title)

    def window_info(self, cls, title=None):
        rc, out = self.probe("window", cls, *([title] if title else []))
        if rc != 0:
            return None
        v = out.split()
        return {"x": int(v[1]), "y": int(v[2]), "width": int(v[3]), "height": int(v[4]),
                "client_width": int(v[6]), "client_height": int(v[7]), "visible": v[9] == "1",
                "style": int(v[11], 16)}

    def children(self, cls, title=None):
        rc, out = self.probe("children", cls, *([title] if title else []))
        result = []
        for line in out.splitlines():
            v = line.split()
            if len(v) == 5:
                result.append((v[0], int(v[1]), int(v[2]), int(v[3]), int(v[4])))
        return result

    def post(self, cls, msg, wparam=0, lparam=0):
        rc, _ = self.probe("post", cls, str(msg), str(wparam), str(lparam))
        check(rc == 0, "no window of class %r" % cls)

    # -- files ---------------------------------------------------------------------
    def log_path(self, name="PomaroApp.log"):
        return os.path.join(self.documents, "Pomaro", name)

    def log_bytes(self, name="PomaroApp.log"):
        try:
            with open(self.log_path(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def log_text(self, encoding="cp932", name="PomaroApp.log"):
        return self.log_bytes(name).decode(encoding, "replace")

    def wait_log(self, pattern, timeout=30, encoding="cp932", proc=None):
        rx = re.compile(pattern)

        def probe():
            m = rx.search(self.log_text(encoding))
            if m:
                return m
            if proc is not None and proc.poll() is not None:
                m = rx.search(self.log_text(encoding))
                if m:
                    return m
                raise TestFailure("program ended (code %s) before the log showed %r:\n%s"
                                  % (proc.returncode, pattern, self.log_text(encoding)))
            return None
        return wait_for(probe, timeout, 0.1, "log line %r" % pattern)


def install_program(dest, plugin=None):
    """Copies Pomaro.exe (and a plug-in as VST3\\Pomaro.vst3) into dest; returns the exe path."""
    os.makedirs(dest, exist_ok=True)
    exe = os.path.join(dest, "Pomaro.exe")
    shutil.copy2(os.path.join(BIN_DIR, "Pomaro.exe"), exe)
    if plugin:
        os.makedirs(os.path.join(dest, "VST3"), exist_ok=True)
        shutil.copy2(plugin, os.path.join(dest, "VST3", "Pomaro.vst3"))
    return exe


def run_test(fn):
    """Runs one test function and turns its outcome into an exit code for ctest."""
    import sys
    import traceback
    try:
        fn()
    except Exception:
        traceback.print_exc()
        sys.exit(1)
    print("PASS")
    sys.exit(0)
