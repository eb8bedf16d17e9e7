"""Runs Windows programs under Wine, each Session with its own prefix copy, wineserver and
Xvfb display. Input is confirmed, not assumed: keys go only to a window that X and Wine both
give the keyboard, clicks only where the pointer is over the window, and the *_until helpers
repeat an input that showed no effect (a note recorded, a lit key, a log line) for a while."""
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

SOURCE_DIR = os.environ.get("POMARO_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BIN_DIR = os.environ.get("POMARO_BIN_DIR", "")
WINE_DIR = os.environ.get("POMARO_WINE_DIR", "")
TOOLS = os.path.join(SOURCE_DIR, "tools")
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
DETACHED = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)


class TestFailure(AssertionError):
    pass


def check(cond, message):
    if not cond:
        raise TestFailure(message)


def wait_for(predicate, timeout, interval=0.05, what="condition"):
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise TestFailure("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def template_prefix():
    base = WINE_DIR or os.path.join(SOURCE_DIR, "build", "wine")
    prefix = os.path.join(base, "prefix")
    if not os.path.exists(os.path.join(prefix, ".pomaro-ready")):
        subprocess.run([os.path.join(TOOLS, "wine-env.sh"), "prefix", base], check=True)
    return prefix


def clone_prefix(src, dst):
    # The large system folders are hard-linked: Wine only reads them.
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
    def __init__(self, name, lang=None, fresh_prefix=False, root=None):
        """fresh_prefix: a prefix as wineboot makes it for a new user, not a copy of the test one."""
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
        self.procs, self._prober, self._probed, self.xvfb = [], None, b"", None
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
            subprocess.run([WINE64, "wineboot", "-i"], env=self.env, timeout=300, **DETACHED)
            check(os.path.isdir(os.path.join(self.prefix, "drive_c", "users")), "wineboot made no prefix")
        subprocess.Popen([WINESERVER, "-p"], env=self.env, **DETACHED).wait()
        # Wine's system processes start with the first program and outlive it: started here
        # with no pipes attached, a later captured run never waits on them.
        subprocess.run([WINE64, "wineboot"], env=self.env, **DETACHED)
        user = [u for u in os.listdir(os.path.join(self.prefix, "drive_c", "users")) if u != "Public"][0]
        self.user_dir = os.path.join(self.prefix, "drive_c", "users", user)
        self.documents = os.path.join(self.user_dir, "Documents")

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
                # No auto-repeat for a minute: under Wine a held key's repeats come now and then
                # as a release and a new press, which ends the held note and plays it again.
                self.xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                              "-ardelay", "60000"], **DETACHED)
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

    def wine(self, args, cwd=None, env=None, timeout=None):
        """Runs a Windows program to completion. Output goes through files: a Wine system process
        started on demand inherits the program's handles and would keep a pipe open."""
        with tempfile.TemporaryFile(dir=self.dir) as out, tempfile.TemporaryFile(dir=self.dir) as err:
            p = subprocess.Popen([WINE64] + list(args), cwd=cwd, env=dict(self.env, **(env or {})),
                                 stdin=subprocess.DEVNULL, stdout=out, stderr=err)
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
        p = subprocess.Popen([WINE64, exe] + list(args), cwd=cwd or os.path.dirname(exe),
                             env=dict(self.env, **(env or {})),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def reg_add(self, key, name=None, data=None, kind="REG_SZ"):
        args = ["reg", "add", key] + (["/v", name] if name is not None else ["/ve"])
        args += (["/t", kind, "/d", str(data)] if data is not None else []) + ["/f"]
        # Right after the prefix starts, Wine's reg now and then fails without a word while
        # the services still write the registry; the write is idempotent, so it is tried again.
        for attempt in range(5):
            r = self.wine(args)
            if r.returncode == 0:
                return
            time.sleep(0.5)
        raise TestFailure("reg add %s failed 5 times (exit code %s): %s" % (key, r.returncode, r.stderr))

    def _xdo(self, *args):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, capture_output=True)
        return r.returncode, r.stdout.decode().split(), r.stderr.decode()

    def xdotool(self, *args, check_rc=True):
        rc, out, err = self._xdo(*args)
        check(rc == 0 or not check_rc, "xdotool %s failed: %s" % (" ".join(map(str, args)), err))
        return out

    def wait_window(self, title_regex, timeout=30, proc=None):
        """Waits for a visible window and returns its X id once the same id is seen twice
        0.3 s apart (Wine may replace a window's X window right after mapping it)."""
        seen = [None]

        def probe():
            if proc is not None and proc.poll() is not None:
                raise TestFailure("program ended (code %s) before window %r appeared" % (proc.returncode, title_regex))
            w = (self._xdo("search", "--onlyvisible", "--name", title_regex)[1] or [None])[0]
            if w and w == seen[0]:
                return w
            seen[0] = w
            return None
        return wait_for(probe, timeout, 0.3, "window %r" % title_regex)

    def x_focus(self):
        rc, out, _ = self._xdo("getwindowfocus", "-f")
        return int(out[0]) if rc == 0 and out and out[0].isdigit() else 0

    def focus(self, window, timeout=30, done=None):
        """Gives window the keyboard and confirms it from X and from Wine (on a busy machine Wine
        moves the focus late, or keeps another window in front); False once done() is true."""
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
        self.focus(window)
        self.xdotool("key", *keys)

    def keyup(self, window, key):
        # Sent as it is: the press confirmed the focus, and a box that took it meanwhile belongs
        # to the program's own thread, which takes the release too. (Tests time held notes.)
        self.xdotool("keyup", key)

    def _until(self, ready, act, evidence, timeout, attempt, undo, what):
        """ready() then act() until evidence() is true (returned); an act without effect within
        attempt seconds is undone and made again until timeout."""
        end = time.monotonic() + timeout
        while True:
            # The effect may come while the window goes away (a box of the program's).
            if not ready(max(0.1, end - time.monotonic())):
                return evidence()
            act()
            try:
                return wait_for(evidence, max(0.1, min(attempt, end - time.monotonic())), 0.05, "evidence")
            except TestFailure:
                undo()
                if time.monotonic() >= end:
                    raise TestFailure("%s had no effect within %.0f s" % (what, timeout))

    def keydown_until(self, window, key, evidence, timeout=30, attempt=12.0):
        """Holds key in window until evidence() (the note recorded, the lit key, a log line);
        the key stays down for the caller to release. A retry releases the key, so it waits long:
        on a loaded machine a press may show its effect seconds late, then cut short."""
        return self._until(lambda t: self.focus(window, t, done=evidence), lambda: self.xdotool("keydown", key),
                           evidence, timeout, attempt, lambda: self.keyup(window, key),
                           "key %s in window %s" % (key, window))

    def key_until(self, window, keys, evidence, timeout=30, attempt=10.0):
        """Types keys (a name or a list) until evidence(): for keys harmless to repeat (alt+F4)."""
        keys = [keys] if isinstance(keys, str) else list(keys)
        return self._until(lambda t: self.focus(window, t, done=evidence), lambda: self.xdotool("key", *keys),
                           evidence, timeout, attempt, lambda: None, "keys %s in window %s" % (keys, window))

    def click_until(self, window, x, y, evidence, timeout=30, attempt=5.0):
        """Clicks at screen (x, y) once the pointer is confirmed over window (one not yet mapped or
        raised would let the click fall below) until evidence(); for clicks harmless to repeat."""
        def over():
            if evidence():
                return "done"
            self.xdotool("mousemove", x, y)
            rc, out, _ = self._xdo("getmouselocation", "--shell")
            return "WINDOW=%d" % int(window) in out
        return self._until(lambda t: wait_for(over, t, 0.2, "the pointer over window %s" % window) != "done",
                           lambda: self.xdotool("click", 1), evidence, timeout, attempt, lambda: None,
                           "a click at %d,%d in window %s" % (x, y, window))

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", path], check=True, **DETACHED)
        return path

    def probe(self, *args, timeout=60):
        """(exit code, output) of a winprobe command, through one winprobe that stays running
        (each start costs Wine up to a second, and every key checks the focus)."""
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
        """Presses OK on each box on screen once, waits until it is gone; returns their (title, text)."""
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
            ended = proc is not None and proc.poll() is not None  # then the log is read whole
            m = rx.search(self.log_text(encoding))
            check(m or not ended, "program ended (code %s) before the log showed %r:\n%s"
                  % (proc and proc.returncode, pattern, self.log_text(encoding)))
            return m
        return wait_for(probe, timeout, 0.1, "log line %r" % pattern)


def install_program(dest, plugin=None):
    os.makedirs(dest, exist_ok=True)
    exe = os.path.join(dest, "Pomaro.exe")
    shutil.copy2(os.path.join(BIN_DIR, "Pomaro.exe"), exe)
    if plugin:
        os.makedirs(os.path.join(dest, "VST3"), exist_ok=True)
        shutil.copy2(plugin, os.path.join(dest, "VST3", "Pomaro.vst3"))
    return exe


def run_test(fn):
    try:
        fn()
    except Exception:
        traceback.print_exc()
        sys.exit(1)
    print("PASS")
    sys.exit(0)
