"""Pomaro.exe without an audio device, a row per instrument (none, the demo, each recorder test plug-in):
its exit code, boxes and loader lines; every recorder run frees the module with each object it made
destroyed. Where the ANSI code page has no Japanese, each Japanese character is logged as one '?'."""
import os
import re

from drivers import recorder_calls, win_path
from pomaro_e2e import (ACCESS_VIOLATION, BIN_DIR, CRASH_HEAD, LOADED, MENU_EXIT, NO_DEVICE, UNLOADED,
                        WM_CLOSE, WM_COMMAND, Session, TestFailure, check, check_crash_report, install_program,
                        run_test, wait_for)

SEP, NO_DRIVER = "-" * 40, NO_DEVICE + "\r\n"
FAILED, CRASHED = [NO_DRIVER, "VSTiプラグインを読み込めませんでした : VST3\\Pomaro.vst3\r\n"], [NO_DRIVER, CRASH_HEAD]
SECTION = "CHost::loadVstPlugin() : "
HEX = r"0x[0-9A-F]{8}( : .*)?"
WS_THICKFRAME = 0x00040000
ANY = "any"  # the loader's lines are not the row's point

LOAD_ORDER = """module.InitDll module.GetPluginFactory factory.getClassInfo factory.createInstance
    component.queryInterface component.initialize component.getControllerClassId factory.createInstance
    controller.initialize controller.createView view.canResize view.setFrame view.attached
    controller.setComponentHandler component.getState controller.setComponentState
    controller.getMidiControllerAssignment component.getBusCount view.removed controller.terminate
    component.terminate module.ExitDll""".split()


def recorder_checks(run):
    it = iter(run.names())
    check(all(name in it for name in LOAD_ORDER), "calls out of order:\n%s" % "\n".join(map(repr, run.calls)))
    ui = run.calls[0].tid
    others = [c for c in run.calls if c.tid != ui and c.name != "component.process" and not c.name.startswith("module.")]
    check(not others, "calls off the user-interface thread: %r" % others)
    asked = sorted(int(c.args["controller"]) for c in run.calls if c.name == "controller.getMidiControllerAssignment")
    check(asked == list(range(0, 32)) + list(range(64, 130)), "controllers asked: %r" % asked)
    check(run.has("hostapp.getName", name="Pomaro") and run.has("factory.createInstance", iid="IEditController")
          and run.has("controller.connect") and run.has("component.connect"),
          "host name, the controller created through the factory, both sides connected")
    check(run.frame["client_width"] == 400 and run.frame["client_height"] == 230,
          "frame client is the editor (400x200) plus 30: %r" % run.frame)
    check(run.frame["style"] & WS_THICKFRAME, "a resizable view gets a sizing border")


def lacks(*calls):
    return lambda run: check(not any(run.has(c) for c in calls), "called: %r" % (calls,))


def crash_report(pattern):
    return lambda run: check_crash_report(run.boxes[1], run.log, pattern)


NOT_ACTIVATED, NOT_CONNECTED = lacks("component.setActive"), lacks("controller.connect", "component.connect")


def no_plugin(run):
    lines = run.log  # read as Shift-JIS lines behind time stamps, as the other rows' LOADED is found
    # The module block, filled from the exe's own version resource.
    check(lines[0] == "Module file name : Pomaro.exe" and "Module name      : Pomaro" in lines, "module block %r" % lines)
    check(lines.index(FAILED[1][:-2]) > lines.index(SEP) and lines[-1] == SEP, "failure after the first separator")
    check(UNLOADED not in lines, "nothing was loaded, so nothing is unloaded")


def demo_layout(run):
    kids = {c[0]: c for c in run.children}
    check("VstWindow" in kids and "KeyboardWindow" in kids, "children %r" % kids)
    _, vx, vy, vw, vh = kids["VstWindow"]
    check((vx, vy) == (0, 0) and vw >= 300 and vh >= 200, "the demo editor at %r, not 10x10" % (kids["VstWindow"],))
    check(run.frame["client_width"] == vw and run.frame["client_height"] == vh + 30, "client %r" % run.frame)
    check(kids["KeyboardWindow"][1:] == ((vw - 591) // 2 if vw >= 591 else 0, vh, 591, 30) or vw < 591,
          "keyboard strip at %r" % (kids["KeyboardWindow"],))


# variant, exit code, boxes, the loader's line after SECTION (None: no line of its own), what else holds
ROWS = [
    ("none", 1, FAILED, r"LoadLibrary\(\) : VST3\\Pomaro\.vst3 : " + HEX, no_plugin),
    ("demo", 0, [NO_DRIVER], None, demo_layout),
    ("crash_in_attached", 2, CRASHED, ANY, crash_report(ACCESS_VIOLATION)),
    ("raise_in_attached", 2, CRASHED, ANY, crash_report(r"Unknown Exception : code=E0501234, flag=0, adr=[0-9A-F]{16}")),
    ("recorder", 0, [NO_DRIVER], ANY, recorder_checks),
    ("no_initdll", 0, [NO_DRIVER], r"VST3\\Pomaro\.vst3 : InitDll\(\) : 0x0000007F( : .*)?", None),
    ("null_factory", 1, FAILED, r"getFactory\(\) = 0", None),
    ("class0_controller", 1, FAILED, r"createInstance\(IComponent\) : " + HEX, None),
    ("no_audio_processor", 1, FAILED, r"queryInterface\(IAudioProcessor\) : " + HEX, None),
    ("component_init_fails", 1, FAILED, r"pComponent->initialize\(\) : " + HEX,
     lambda run: check(run.has("component.terminate"), "terminate follows a failed initialize")),
    ("no_controller", 1, FAILED, r"getControllerClassId\(\) : " + HEX, None),
    ("controller_init_fails", 1, FAILED, r"pController->initialize\(\) : " + HEX, None),
    ("null_view", 1, FAILED, r"createView\(\) = 0", None),
    # The view never made it into the window: it is released without removed().
    ("attach_fails", 1, FAILED, None,
     lambda run: check(run.has("view.attached") and not run.has("view.removed"), "%r" % run.names())),
    ("mono_output", 1, [NO_DRIVER], ANY, NOT_ACTIVATED),
    ("two_outputs", 1, [NO_DRIVER], ANY, NOT_ACTIVATED),
    ("no_event_input", 1, [NO_DRIVER], ANY, NOT_ACTIVATED),
    ("getstate_refused", 0, [NO_DRIVER], ANY, lambda run: check(
        run.has("component.getState") and not run.has("controller.setComponentState"), "a refused state is passed on")),
    ("no_midimapping", 0, [NO_DRIVER], ANY, lacks("controller.getMidiControllerAssignment")),
    ("no_connection", 0, [NO_DRIVER], ANY, NOT_CONNECTED),
    ("component_no_connection", 0, [NO_DRIVER], ANY, NOT_CONNECTED),
    ("fixed_size_view", 0, [NO_DRIVER], ANY, lambda run: check(not run.frame["style"] & WS_THICKFRAME,
                                                               "a fixed view got a sizing border: %r" % run.frame)),
    ("no_resize_call", 0, [NO_DRIVER], ANY, lambda run: check(run.frame["client_width"] < 400,
                                                              "without resizeView the frame keeps its first size")),
]


class Run:
    boxes, frame, children, closed = [], None, [], False

    def names(self):
        return [c.name for c in self.calls]

    def has(self, call, **args):
        return any(c.name == call and args.items() <= c.args.items() for c in self.calls)


def run_variant(s, variant):
    """Runs the variant, answering every box; a frame that reaches the message loop (a separator
    after the load line, no unload between: a failed bus check unloads first) is closed."""
    d = os.path.join(s.dir, variant)
    plugin = {"none": None, "demo": os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")}.get(
        variant, os.path.join(BIN_DIR, "crashplugins" if "attached" in variant else "testplugins", variant + ".vst3"))
    if os.path.exists(s.log_path()):
        os.remove(s.log_path())  # the previous run's log must not be mistaken for this one's
    p = s.start(install_program(d, plugin), env={"POMARO_RECORDER_LOG": win_path(os.path.join(d, "recorder.log"))})
    run = Run()
    close = (WM_COMMAND, MENU_EXIT) if variant == "demo" else (WM_CLOSE, 0)  # File > Exit ends the demo's run

    def step():
        run.boxes = run.boxes + s.dismiss_boxes()
        if p.poll() is not None:
            return True
        lines = s.log_lines()
        after = lines[lines.index(LOADED):] if LOADED in lines else []
        if not run.closed and SEP in after and UNLOADED not in after[:after.index(SEP)]:
            run.frame = s.window_info("HostWindow") or run.frame
            run.children = s.children("HostWindow") or run.children
            run.closed = s.probe("post", "HostWindow", close[0], close[1], 0)[0] == 0
        return False
    wait_for(step, 90, 0.2, "variant %s to end" % variant)
    run.titles, run.boxes = [t for t, _ in run.boxes], [b for _, b in run.boxes]
    run.code, run.raw, run.log, run.calls = p.returncode, s.log_bytes(), s.log_lines(), recorder_calls(
        os.path.join(d, "recorder.log"))
    return run


def check_row(run, variant, code, boxes, line, more):
    check(run.code == code, "exit code %r" % run.code)
    check(len(run.boxes) == len(boxes) and all(b == e or (e == CRASH_HEAD and b.startswith(e))
                                               for b, e in zip(run.boxes, boxes)), "boxes %r" % run.boxes)
    check(all(t == "Pomaro" for t in run.titles), "box captions come from the version resource: %r" % run.titles)
    got = [l[len(SECTION):] for l in run.log if l.startswith(SECTION)]
    check(line == ANY or (got == [] if line is None else len(got) == 1 and re.fullmatch(line, got[0])),
          "loader lines %r" % got)
    if code == 0:
        seps = [i for i, l in enumerate(run.log) if l == SEP]
        check(len(seps) >= 3 and seps[0] < run.log.index(LOADED) < seps[1] < run.log.index(UNLOADED) < seps[-1]
              and run.log[-1] == SEP, "load, loop, unload and separators out of order:\n%s" % "\n".join(run.log))
    check(code == 2 or variant == "none" or UNLOADED in run.log, "no unload line")
    if variant not in ("none", "demo") and code != 2:
        names = run.names()
        check("module.ExitDll" in names or variant == "no_initdll", "ExitDll not called: %r" % names[-5:])
        detach = [c for c in run.calls if c.name == "module.detach"]
        check(detach and detach[-1].args.get("reason") == "FreeLibrary" and detach[-1].args.get("live") == "0",
              "module not freed cleanly: %r" % detach)
    if more:
        check(code != 0 or run.frame is not None, "the frame never showed")
        more(run)


def main():
    with Session("loader", lang="ja_JP.UTF-8") as s:
        for row in ROWS:
            try:
                check_row(run_variant(s, row[0]), *row)
            except TestFailure as e:
                raise TestFailure("%s: %s" % (row[0], e))
    with Session("loader_cp1252", lang="C.UTF-8") as s:
        raw = run_variant(s, "none").raw
        # "VSTi" stays ASCII; each of the 16 Japanese characters becomes one '?'.
        check(b"VSTi" + b"?" * 16 + b" : VST3\\Pomaro.vst3\r\n" in raw, "cp1252 log:\n%r" % raw[-400:])
        check(all(b < 0x80 for b in raw), "only single-byte ASCII expected in a cp1252 log here")


run_test(main)
