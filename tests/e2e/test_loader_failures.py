"""Every plug-in that cannot be loaded: the loader's own log line, the one error box,
the whole load undone (module freed, no object left alive) and exit code 1."""
import re

from pomaro_e2e import Session, check, run_test
from recorder_runs import (LOAD_FAILED_BOX, NO_DRIVER, UNLOADED, check_unloaded_cleanly, loader_lines,
                           run_variant)

HEX = r"0x[0-9A-F]{8}( : .*)?"

# variant -> the loader's line after "CHost::loadVstPlugin() : " (None: no line of its own)
FAILURES = {
    "null_factory": r"getFactory\(\) = 0",
    "class0_controller": r"createInstance\(IComponent\) : " + HEX,
    "no_audio_processor": r"queryInterface\(IAudioProcessor\) : " + HEX,
    "component_init_fails": r"pComponent->initialize\(\) : " + HEX,
    "no_controller": r"getControllerClassId\(\) : " + HEX,
    "controller_init_fails": r"pController->initialize\(\) : " + HEX,
    "null_view": r"createView\(\) = 0",
    "attach_fails": None,
}


def main():
    with Session("loader_failures", lang="ja_JP.UTF-8") as s:
        for variant, line in FAILURES.items():
            run = run_variant(s, variant)
            check(run.code == 1, "%s: exit code %r" % (variant, run.code))
            check(run.boxes == [NO_DRIVER, LOAD_FAILED_BOX], "%s: boxes %r" % (variant, run.boxes))
            got = loader_lines(run)
            if line is None:
                check(got == [], "%s: no line of its own expected, got %r" % (variant, got))
            else:
                check(len(got) == 1 and re.fullmatch(line, got[0]), "%s: loader lines %r" % (variant, got))
            check(UNLOADED in run.log, "%s: the failed load is undone" % variant)
            check_unloaded_cleanly(run, variant)
            if variant == "attach_fails":
                # The view never made it into the window: it is released without removed().
                check(run.has("view.attached") and not run.has("view.removed"), "attach_fails: %r" % run.names())
            if variant == "component_init_fails":
                check(run.has("component.terminate"), "terminate follows a failed initialize")

        # Buses that do not fit: loaded, then ended without a word.
        for variant in ("mono_output", "two_outputs", "no_event_input"):
            run = run_variant(s, variant)
            check(run.code == 1, "%s: exit code %r" % (variant, run.code))
            check(run.boxes == [NO_DRIVER], "%s: no box of its own: %r" % (variant, run.boxes))
            check(UNLOADED in run.log and not run.has("component.setActive"), "%s: unloaded unprocessed" % variant)
            check_unloaded_cleanly(run, variant)


run_test(main)
