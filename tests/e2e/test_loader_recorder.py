"""The host's calls on a well-behaved plug-in come in the loader's order, all on the
user-interface thread, and the plug-ins that load despite a missing piece load."""
import re

from pomaro_e2e import Session, check, run_test
from recorder_runs import LOADED, NO_DRIVER, UNLOADED, check_unloaded_cleanly, loader_lines, run_variant

WS_THICKFRAME = 0x00040000

LOAD_ORDER = [
    "module.InitDll", "module.GetPluginFactory", "factory.getClassInfo", "factory.createInstance",
    "component.queryInterface", "component.initialize", "component.getControllerClassId",
    "factory.createInstance", "controller.initialize", "controller.createView", "view.canResize",
    "view.setFrame", "view.attached", "controller.setComponentHandler", "component.getState",
    "controller.setComponentState", "controller.getMidiControllerAssignment", "component.getBusCount",
    "view.removed", "controller.terminate", "component.terminate", "module.ExitDll",
]


def in_order(names, expected):
    i = 0
    for n in names:
        if i < len(expected) and n == expected[i]:
            i += 1
    return i == len(expected), expected[i] if i < len(expected) else None


def main():
    with Session("loader_recorder", lang="ja_JP.UTF-8") as s:
        run = run_variant(s, "recorder")
        check(run.code == 0, "exit code %r" % run.code)
        check(run.boxes == [NO_DRIVER], "boxes %r" % run.boxes)
        ok, missing = in_order(run.names(), LOAD_ORDER)
        check(ok, "calls out of order, first missing %r in:\n%s" % (missing, "\n".join(map(repr, run.calls))))
        ui = run.calls[0].tid
        others = [c for c in run.calls if c.tid != ui and c.name != "component.process"
                  and not c.name.startswith("module.")]
        check(not others, "calls off the user-interface thread: %r" % others)
        asked = sorted(int(c.args["controller"]) for c in run.calls
                       if c.name == "controller.getMidiControllerAssignment")
        check(asked == list(range(0, 32)) + list(range(64, 130)), "controllers asked: %r" % asked)
        check(run.has("component.initialize") and run.has("hostapp.getName", name="Pomaro"), "host name")
        check(run.has("factory.createInstance", iid="IEditController"), "controller created through the factory")
        check(run.has("controller.connect") and run.has("component.connect"), "both sides connected")
        check(run.frame is not None and run.frame["client_width"] == 400 and run.frame["client_height"] == 230,
              "frame client is the editor (400x200) plus 30: %r" % run.frame)
        check(run.frame["style"] & WS_THICKFRAME, "a resizable view gets a sizing border")
        check(UNLOADED in run.log, "unload line")
        check_unloaded_cleanly(run, "recorder")

        run = run_variant(s, "no_initdll")
        check(run.code == 0 and LOADED in run.log, "no_initdll loads: %r %r\n%s" % (run.code, run.boxes, "\n".join(run.log)))
        lines = loader_lines(run)
        check(len(lines) == 1 and re.fullmatch(r"VST3\\Pomaro\.vst3 : InitDll\(\) : 0x0000007F( : .*)?", lines[0]),
              "InitDll line %r" % lines)

        run = run_variant(s, "getstate_refused")
        check(run.code == 0 and run.has("component.getState") and not run.has("controller.setComponentState"),
              "a refused state is not passed on: %r" % run.names())

        run = run_variant(s, "no_midimapping")
        check(run.code == 0 and not run.has("controller.getMidiControllerAssignment"), "no mapping asked")

        for variant in ("no_connection", "component_no_connection"):
            run = run_variant(s, variant)
            check(run.code == 0 and not run.has("controller.connect") and not run.has("component.connect"),
                  "%s: nothing connected: %r" % (variant, run.names()))

        run = run_variant(s, "fixed_size_view")
        check(run.code == 0 and run.frame and not run.frame["style"] & WS_THICKFRAME,
              "a view that cannot resize gives a frame without a sizing border: %r" % run.frame)

        run = run_variant(s, "no_resize_call")
        check(run.code == 0 and run.frame and run.frame["client_width"] < 400,
              "without resizeView the frame keeps its first size: %r" % run.frame)


run_test(main)
