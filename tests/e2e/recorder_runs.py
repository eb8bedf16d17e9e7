"""Running Pomaro.exe with one of the recorder test plug-ins and reading what happened:
the boxes the user saw, the exit code, the program's log and the recorder's call log."""
import os
import re

from pomaro_e2e import BIN_DIR, check, install_program, wait_for

NO_DRIVER = "オーディオドライバが使用できません。\r\n"
LOAD_FAILED_BOX = "VSTiプラグインを読み込めませんでした : VST3\\Pomaro.vst3\r\n"
LOADED = "VSTiプラグインを読み込みました : VST3\\Pomaro.vst3"
UNLOADED = "VSTiプラグインをアンロードしました。"
SECTION = "CHost::loadVstPlugin() : "
SEP = "-" * 40
WM_CLOSE = 0x0010

_LINE = re.compile(r"^(\d+) (\d+) (\w+)\.(\w+)((?: [^ ]+=[^ ]*)*) -> (\S+)$")


class Call:
    def __init__(self, seq, tid, obj, method, args, result):
        self.seq, self.tid, self.obj, self.method, self.args, self.result = seq, tid, obj, method, args, result
        self.name = obj + "." + method

    def __repr__(self):
        return "%d %s %s" % (self.seq, self.name, self.args)


def parse_recorder(path):
    calls = []
    try:
        text = open(path, encoding="utf-8", errors="replace").read()
    except FileNotFoundError:
        return calls
    for line in text.splitlines():
        m = _LINE.match(line)
        if not m:
            continue
        args = dict(kv.split("=", 1) for kv in m.group(5).split())
        calls.append(Call(int(m.group(1)), int(m.group(2)), m.group(3), m.group(4), args, m.group(6)))
    calls.sort(key=lambda c: c.seq)
    return calls


class Run:
    def __init__(self, code, boxes, log, calls, frame):
        self.code, self.boxes, self.log, self.calls, self.frame = code, boxes, log, calls, frame

    def names(self):
        return [c.name for c in self.calls]

    def has(self, call, **args):
        return any(c.name == call and all(c.args.get(k) == v for k, v in args.items()) for c in self.calls)


def run_variant(s, variant, timeout=90):
    """Starts the program with the variant as VST3\\Pomaro.vst3, answers every box,
    closes a frame that reaches the message loop, and returns a Run."""
    d = os.path.join(s.dir, variant)
    exe = install_program(d, os.path.join(BIN_DIR, "testplugins", variant + ".vst3"))
    rec = os.path.join(d, "recorder.log")
    # The previous run's log must not be mistaken for this one's.
    if os.path.exists(s.log_path()):
        os.remove(s.log_path())
    p = s.start(exe, env={"POMARO_RECORDER_LOG": "Z:" + rec.replace("/", "\\")})
    boxes = []
    state = {"closed": False, "frame": None}

    def step():
        boxes.extend(s.dismiss_boxes())
        if p.poll() is not None:
            return True
        lines = body_lines(s.log_text())
        if not state["closed"] and LOADED in lines:
            # The run reaches the message loop when a separator follows the load line
            # with no unload in between (a bus check that fails unloads first).
            after = lines[lines.index(LOADED):]
            if SEP in after and UNLOADED not in after[:after.index(SEP)]:
                state["frame"] = s.window_info("HostWindow") or state["frame"]
                rc, _ = s.probe("post", "HostWindow", str(WM_CLOSE), "0", "0")
                state["closed"] = rc == 0
        return False

    wait_for(step, timeout, 0.2, "variant %s to end" % variant)
    return Run(p.returncode, boxes, body_lines(s.log_text()), parse_recorder(rec), state["frame"])


def body_lines(text):
    return [l[13:] for l in text.split("\r\n") if l]


def loader_lines(run):
    return [l[len(SECTION):] for l in run.log if l.startswith(SECTION)]


def check_unloaded_cleanly(run, variant):
    """The module was freed with every object it made destroyed."""
    names = run.names()
    check("module.ExitDll" in names or variant == "no_initdll", "%s: ExitDll not called: %r" % (variant, names[-5:]))
    detach = [c for c in run.calls if c.name == "module.detach"]
    check(detach and detach[-1].args.get("reason") == "FreeLibrary" and detach[-1].args.get("live") == "0",
          "%s: module not freed cleanly: %r" % (variant, detach))
