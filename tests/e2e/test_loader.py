"""Pomaro.exe with each recorder test plug-in as VST3\\Pomaro.vst3, on a Japanese system without
an audio device, one row per variant. A plug-in that cannot be loaded gives the loader's own log
line, the one error box and exit code 1; buses that do not fit end the run without a word; the
others load and run until the frame is closed (exit code 0). Every run unloads the module with
every object it made destroyed; the well-behaved recorder sees the loader's calls in order, all on
the user-interface thread."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from drivers import recorder_calls, win_path  # noqa: E402
from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test, wait_for  # noqa: E402

NO_DRIVER = "オーディオドライバが使用できません。\r\n"
FAILED = [NO_DRIVER, "VSTiプラグインを読み込めませんでした : VST3\\Pomaro.vst3\r\n"]
LOADED = "VSTiプラグインを読み込みました : VST3\\Pomaro.vst3"
UNLOADED = "VSTiプラグインをアンロードしました。"
SECTION = "CHost::loadVstPlugin() : "
HEX = r"0x[0-9A-F]{8}( : .*)?"
WS_THICKFRAME = 0x00040000
ANY = "any"  # the loader's lines are not the row's point

LOAD_ORDER = [
    "module.InitDll", "module.GetPluginFactory", "factory.getClassInfo", "factory.createInstance",
    "component.queryInterface", "component.initialize", "component.getControllerClassId",
    "factory.createInstance", "controller.initialize", "controller.createView", "view.canResize",
    "view.setFrame", "view.attached", "controller.setComponentHandler", "component.getState",
    "controller.setComponentState", "controller.getMidiControllerAssignment", "component.getBusCount",
    "view.removed", "controller.terminate", "component.terminate", "module.ExitDll",
]


def in_order(names, expected):
    it = iter(names)
    return all(any(n == e for n in it) for e in expected)


def recorder_checks(run):
    check(in_order([c.name for c in run.calls], LOAD_ORDER), "calls out of order:\n%s" % "\n".join(map(repr, run.calls)))
    ui = run.calls[0].tid
    others = [c for c in run.calls if c.tid != ui and c.name != "component.process" and not c.name.startswith("module.")]
    check(not others, "calls off the user-interface thread: %r" % others)
    asked = sorted(int(c.args["controller"]) for c in run.calls if c.name == "controller.getMidiControllerAssignment")
    check(asked == list(range(0, 32)) + list(range(64, 130)), "controllers asked: %r" % asked)
    check(run.has("hostapp.getName", name="Pomaro"), "host name")
    check(run.has("factory.createInstance", iid="IEditController"), "controller created through the factory")
    check(run.has("controller.connect") and run.has("component.connect"), "both sides connected")
    check(run.frame["client_width"] == 400 and run.frame["client_height"] == 230,
          "frame client is the editor (400x200) plus 30: %r" % run.frame)
    check(run.frame["style"] & WS_THICKFRAME, "a resizable view gets a sizing border")


# variant, exit code, boxes, the loader's line after SECTION (None: no line of its own), what else holds
ROWS = [
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
    ("mono_output", 1, [NO_DRIVER], ANY, lambda run: check(not run.has("component.setActive"), "activated")),
    ("two_outputs", 1, [NO_DRIVER], ANY, lambda run: check(not run.has("component.setActive"), "activated")),
    ("no_event_input", 1, [NO_DRIVER], ANY, lambda run: check(not run.has("component.setActive"), "activated")),
    ("getstate_refused", 0, [NO_DRIVER], ANY,
     lambda run: check(run.has("component.getState") and not run.has("controller.setComponentState"),
                       "a refused state is passed on")),
    ("no_midimapping", 0, [NO_DRIVER], ANY,
     lambda run: check(not run.has("controller.getMidiControllerAssignment"), "a mapping was asked")),
    ("no_connection", 0, [NO_DRIVER], ANY,
     lambda run: check(not run.has("controller.connect") and not run.has("component.connect"), "connected")),
    ("component_no_connection", 0, [NO_DRIVER], ANY,
     lambda run: check(not run.has("controller.connect") and not run.has("component.connect"), "connected")),
    ("fixed_size_view", 0, [NO_DRIVER], ANY,
     lambda run: check(not run.frame["style"] & WS_THICKFRAME, "a fixed view got a sizing border: %r" % run.frame)),
    ("no_resize_call", 0, [NO_DRIVER], ANY,
     lambda run: check(run.frame["client_width"] < 400, "without resizeView the frame keeps its first size")),
]


class Run:
    def __init__(self, code, boxes, log, calls, frame):
        self.code, self.boxes, self.log, self.calls, self.frame = code, boxes, log, calls, frame

    def names(self):
        return [c.name for c in self.calls]

    def has(self, call, **args):
        return any(c.name == call and all(c.args.get(k) == v for k, v in args.items()) for c in self.calls)


def run_variant(s, variant):
    """Starts the program with the variant, answers every box, closes a frame that reaches the
    message loop (a separator after the load line with no unload in between: a bus check that
    fails unloads first) and returns a Run."""
    d = os.path.join(s.dir, variant)
    exe = install_program(d, os.path.join(BIN_DIR, "testplugins", variant + ".vst3"))
    if os.path.exists(s.log_path()):
        os.remove(s.log_path())  # the previous run's log must not be mistaken for this one's
    p = s.start(exe, env={"POMARO_RECORDER_LOG": win_path(os.path.join(d, "recorder.log"))})
    boxes, state = [], {"closed": False, "frame": None}

    def step():
        boxes.extend(s.dismiss_boxes())
        if p.poll() is not None:
            return True
        lines = [l[13:] for l in s.log_text().split("\r\n") if l]
        after = lines[lines.index(LOADED):] if LOADED in lines else []
        if not state["closed"] and "-" * 40 in after and UNLOADED not in after[:after.index("-" * 40)]:
            state["frame"] = s.window_info("HostWindow") or state["frame"]
            state["closed"] = s.probe("post", "HostWindow", "16", "0", "0")[0] == 0  # WM_CLOSE
        return False
    wait_for(step, 90, 0.2, "variant %s to end" % variant)
    log = [l[13:] for l in s.log_text().split("\r\n") if l]
    return Run(p.returncode, boxes, log, recorder_calls(os.path.join(d, "recorder.log")), state["frame"])


def main():
    with Session("loader", lang="ja_JP.UTF-8") as s:
        for variant, code, boxes, line, more in ROWS:
            run = run_variant(s, variant)
            check(run.code == code, "%s: exit code %r" % (variant, run.code))
            check(run.boxes == boxes, "%s: boxes %r" % (variant, run.boxes))
            got = [l[len(SECTION):] for l in run.log if l.startswith(SECTION)]
            if line is None:
                check(got == [], "%s: no line of its own expected, got %r" % (variant, got))
            elif line != ANY:
                check(len(got) == 1 and re.fullmatch(line, got[0]), "%s: loader lines %r" % (variant, got))
            check(UNLOADED in run.log, "%s: no unload line" % variant)
            names = run.names()
            check("module.ExitDll" in names or variant == "no_initdll", "%s: ExitDll not called: %r" % (variant, names[-5:]))
            detach = [c for c in run.calls if c.name == "module.detach"]
            check(detach and detach[-1].args.get("reason") == "FreeLibrary" and detach[-1].args.get("live") == "0",
                  "%s: module not freed cleanly: %r" % (variant, detach))
            if more:
                check(code == 1 or run.frame is not None, "%s: the frame never showed" % variant)
                more(run)


run_test(main)
