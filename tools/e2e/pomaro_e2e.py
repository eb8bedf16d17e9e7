"""Runs Windows programs under Wine, each Session with its own prefix copy, wineserver and Xvfb display.
Keys go only to a window that X and Wine both give the keyboard; *_until repeats an input without effect."""
import os
import pathlib
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
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
# The program's log lines and names the tests wait for.
STARTED, RESTART, NO_DEVICE = "オーディオ出力を開始しました。", "オーディオドライバを再起動します。", "オーディオドライバが使用できません。"
PROBING, LOAD = "オーディオドライバを列挙します。", "オーディオドライバをロードします : "
LOADED, UNLOADED = "VSTiプラグインを読み込みました : VST3\\Pomaro.vst3", "VSTiプラグインをアンロードしました。"
CRASH_HEAD = "Sorry, this application encountered fatal error.\n\n"
ACCESS_VIOLATION = r"Access Violation : code=C0000005, flag=0, adr=[0-9A-F]{16}, param= 00000000 00000010"
ASIO, SPEAKERS, SETTINGS = "Pomaro Test ASIO", "Pomaro Test Speakers", "オーディオドライバ設定"
WM_CLOSE, WM_COMMAND, MENU_EXIT, MENU_SETTINGS = 0x10, 0x111, 40001, 40002


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
    if not os.path.exists(os.path.join(base, "prefix", ".pomaro-ready")):
        subprocess.run([os.path.join(SOURCE_DIR, "tools", "wine-env.sh"), "prefix", base], check=True)
    return os.path.join(base, "prefix")


def clone_prefix(src, dst):
    # The large system folders are hard-linked: Wine only reads them.
    shared = [os.path.join(src, "drive_c", "windows", d) for d in ("system32", "syswow64")]
    shutil.copytree(src, dst, symlinks=True, ignore=lambda d, names: [n for n in names if os.path.join(d, n) in shared])
    for d in filter(os.path.isdir, shared):
        subprocess.run(["cp", "-al", d, os.path.join(dst, "drive_c", "windows") + "/"], check=True)


def end_wine_in(prefix):
    mark = b"WINEPREFIX=" + os.fsencode(prefix) + b"\0"

    def killed(pid):  # whether pid ran in the prefix
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if mark not in f.read() + b"\0":
                    return False
            os.kill(int(pid), 9)
            return True
        except OSError:
            return False
    wait_for(lambda: not [p for p in filter(str.isdigit, os.listdir("/proc")) if killed(p)], 10,
             what="the old session's Wine processes to end")


class Session:
    def __init__(self, name, lang=None, fresh_prefix=False, root=None):
        self.dir = os.path.join(root or os.path.join(WINE_DIR or tempfile.gettempdir(), "e2e"), name)
        self.prefix = os.path.join(self.dir, "prefix")
        # A session of the same name that was killed (a test stopped by its time-out, say)
        # may have left Wine running in its prefix, still writing into the folder.
        end_wine_in(self.prefix)
        wait_for(lambda: shutil.rmtree(self.dir, ignore_errors=True) or not os.path.exists(self.dir), 30,
                 what="the old session folder %s to go" % self.dir)
        os.makedirs(self.dir)
        self.procs, self._prober, self._probed = [], None, b""
        if not fresh_prefix:  # else a prefix as wineboot makes it for a new user
            clone_prefix(template_prefix(), self.prefix)
        self.env = {k: v for k, v in os.environ.items() if k not in ("WINEPREFIX", "WINEDEBUG", "ALSA_CONFIG_PATH")}
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", HOME=self.dir)
        if lang:
            self.env.update(LANG=lang, LC_ALL=lang)
        self._start_xvfb()
        if fresh_prefix:
            subprocess.run([WINE64, "wineboot", "-i"], env=self.env, timeout=300, **QUIET)
            check(os.path.isdir(os.path.join(self.prefix, "drive_c", "users")), "wineboot made no prefix")
        subprocess.Popen([WINESERVER, "-p"], env=self.env, **QUIET).wait()
        # Wine's system processes start with the first program and outlive it: started here
        # with no pipes attached, a later captured run never waits on them.
        subprocess.run([WINE64, "wineboot"], env=self.env, **QUIET)
        user = [u for u in os.listdir(os.path.join(self.prefix, "drive_c", "users")) if u != "Public"][0]
        self.user_dir = os.path.join(self.prefix, "drive_c", "users", user)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
        subprocess.run([WINESERVER, "-k"], env=self.env, **QUIET)
        try:
            subprocess.run([WINESERVER, "-w"], env=self.env, timeout=20)
        except subprocess.TimeoutExpired:
            pass
        self.xvfb.kill()
        self.xvfb.wait()
        shutil.rmtree(self.prefix, ignore_errors=True)
        return False

    def _start_xvfb(self):
        # Xvfb takes the first free display itself. No auto-repeat for a minute: under Wine a held key's
        # repeats come now and then as a release and a new press, which ends the held note and plays it again.
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                      "-ardelay", "60000"], pass_fds=(w,), **QUIET)
        os.close(w)
        with os.fdopen(r) as f:
            n = f.readline().strip()
        check(n.isdigit(), "Xvfb did not start")
        self.display = self.env["DISPLAY"] = ":" + n

    def wine(self, args, timeout=60):
        """(exit code, output). Output goes through a file: a Wine system process started on demand would
        keep a pipe open."""
        with tempfile.TemporaryFile(dir=self.dir) as out:
            rc = subprocess.run([WINE64] + list(args), env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=out, timeout=timeout).returncode
            out.seek(0)
            return rc, out.read()

    def start(self, exe, env=None):
        p = subprocess.Popen([WINE64, exe], cwd=os.path.dirname(exe), env=dict(self.env, **(env or {})),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def reg_add(self, key, name, data):  # name None: the key's default value
        args = ["reg", "add", key] + (["/v", name] if name is not None else ["/ve"]) + ["/d", str(data), "/f"]
        # Right after the prefix starts, Wine's reg now and then fails without a word while
        # the services still write the registry; the write is idempotent, so it is tried again.
        for attempt in range(5):
            rc, out = self.wine(args)
            if rc == 0:
                return
            time.sleep(0.5)
        raise TestFailure("reg add %s failed 5 times (exit code %s): %s" % (key, rc, out))

    def xdotool(self, *args, check_rc=True):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, capture_output=True, text=True)
        check(r.returncode == 0 or not check_rc, "xdotool %s failed: %s" % (" ".join(map(str, args)), r.stderr))
        return r.stdout.split()

    def wait_window(self, title_regex, timeout=30, proc=None):
        # The same X id twice 0.3 s apart: Wine may replace a window's X window right after mapping it.
        seen = [None]

        def probe():
            check(proc is None or proc.poll() is None,
                  "program ended (code %s) before window %r appeared" % (proc and proc.returncode, title_regex))
            w = (self.xdotool("search", "--onlyvisible", "--name", title_regex, check_rc=False) or [None])[0]
            found, seen[0] = w and w == seen[0], w
            return w if found else None
        return wait_for(probe, timeout, 0.3, "window %r" % title_regex)

    def focus(self, window, timeout=30, done=None):
        # Confirmed from X and from Wine: on a busy machine Wine moves the focus late, or keeps another
        # window in front. False once done() is true.
        def attempt():
            if done is not None and done():
                return "done"
            if "".join(self.xdotool("getwindowfocus", "-f", check_rc=False)[:1]) != str(window):
                self.xdotool("windowfocus", window, check_rc=False)
            elif self.probe("focus", window)[0] == 0:
                return "focused"
            else:  # xdotool moves only X's focus; without a window manager nothing tells Wine
                self.probe("activate", window)
            return False
        return wait_for(attempt, timeout, 0.1, "window %s to have the keyboard focus" % window) == "focused"

    def keyup(self, window, key):  # sent as it is: a box that took the focus since belongs to the program too
        self.xdotool("keyup", key)

    def key_until(self, window, keys, evidence, timeout=30, hold=False):
        """Presses keys (holds them: the caller releases) until evidence() is true, and returns it; a press
        without effect within 10 s (12 held: a loaded machine may show one seconds late) is made again."""
        end = time.monotonic() + timeout
        while True:
            # The effect may come while the window goes away (a box of the program's).
            if not self.focus(window, max(0.1, end - time.monotonic()), done=evidence):
                return evidence()
            self.xdotool("keydown" if hold else "key", keys)
            try:
                return wait_for(evidence, max(0.1, min(12.0 if hold else 10.0, end - time.monotonic())), 0.05)
            except TestFailure:
                if hold:
                    self.keyup(window, keys)
                if time.monotonic() >= end:
                    raise TestFailure("keys %s in window %s had no effect within %.0f s" % (keys, window, timeout))

    def keydown_until(self, window, key, evidence, timeout=30):
        return self.key_until(window, key, evidence, timeout, hold=True)

    def close(self, window, proc):
        self.key_until(window, "alt+F4", lambda: proc.poll() is not None, 40)
        check(proc.returncode == 0, "exit code %r after Alt+F4" % proc.returncode)

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", path], check=True, **QUIET)
        return path

    def probe(self, *args, timeout=60):
        """(exit code, output) of a winprobe command, through one winprobe that stays running (a start
        costs Wine up to a second, and every key checks the focus)."""
        line = ("\t".join(str(a) for a in args) + "\n").encode("utf-8")
        for _ in range(2):
            if self._prober is None or self._prober.poll() is not None:
                self._prober = subprocess.Popen([WINE64, os.path.join(BIN_DIR, "winprobe.exe")], env=self.env,
                                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                                stderr=subprocess.DEVNULL, start_new_session=True)
                self.procs.append(self._prober)
                self._probed = b""
            try:
                self._prober.stdin.write(line)
                self._prober.stdin.flush()
                end = time.monotonic() + timeout
                while not (m := re.search(rb"\x1e(-?\d+)\r?\n", self._probed)):
                    check(select.select([self._prober.stdout], [], [], max(0.0, end - time.monotonic()))[0],
                          "no answer in time")
                    chunk = os.read(self._prober.stdout.fileno(), 65536)
                    check(chunk, "it ended")
                    self._probed += chunk
                out, self._probed = self._probed[:m.start()], self._probed[m.end():]
                return int(m.group(1)), out.decode("utf-8", "replace")
            except (OSError, TestFailure) as e:
                failure = e
                self._prober.kill()
                self._prober.wait()
        raise TestFailure("winprobe %s: %s" % (" ".join(map(str, args)), failure))

    def boxes(self):
        return [tuple(b.split("\t", 1)) for b in self.probe("boxes")[1].split("\x1f")[:-1]]

    def dismiss_boxes(self):
        """Presses OK on each box on screen, waiting up to 15 s for it to go; returns their (title, text)."""
        texts = self.boxes()
        for box in texts:
            self.press_box(box[0])
            end = time.monotonic() + 15
            while box in self.boxes() and time.monotonic() < end:
                time.sleep(0.1)
        return texts

    def press_box(self, title, button_id=1):
        check(self.probe("press", title, button_id)[0] == 0, "no box titled %r to press" % title)

    def window_info(self, cls):
        rc, out = self.probe("window", cls)
        return dict(zip(("x", "y", "client_width", "client_height", "visible", "style"), map(int, out.split()))) \
            if rc == 0 else None

    def children(self, cls):
        return [(v[0],) + tuple(map(int, v[1:])) for v in map(str.split, self.probe("children", cls)[1].splitlines())]

    def post(self, cls, msg, wparam=0, lparam=0):
        check(self.probe("post", cls, msg, wparam, lparam)[0] == 0, "no window of class %r" % cls)

    def log_path(self):
        return os.path.join(self.user_dir, "Documents", "Pomaro", "PomaroApp.log")

    def log_bytes(self):
        return pathlib.Path(self.log_path()).read_bytes() if os.path.exists(self.log_path()) else b""

    def log_text(self):
        return self.log_bytes().decode("cp932", "replace")

    def log_lines(self):  # without their time stamps
        return [l[13:] for l in self.log_text().split("\r\n") if l]

    def wait_log(self, pattern, timeout=30, proc=None):
        def probe():
            ended = proc is not None and proc.poll() is not None  # then the log is read whole
            m = re.search(pattern, self.log_text())
            check(m or not ended, "program ended (code %s) before the log showed %r:\n%s"
                  % (proc and proc.returncode, pattern, self.log_text()))
            return m
        return wait_for(probe, timeout, 0.1, "log line %r" % pattern)


def check_crash_report(box, lines, pattern):
    """The box's report matches pattern and is the log's last line, and only there."""
    report = box[len(CRASH_HEAD):]
    check(box.startswith(CRASH_HEAD) and re.fullmatch(pattern, report), "crash report %r" % box)
    check(lines[-1] == report and lines.count(report) == 1, "the log's last line, and only there, is the report: %r"
          % lines[-3:])


def check_in_order(text, patterns):
    at = 0
    for pattern in patterns:
        check(m := re.compile(pattern).search(text, at), "missing or out of order: %r\n%s" % (pattern, text))
        at = m.end()


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
