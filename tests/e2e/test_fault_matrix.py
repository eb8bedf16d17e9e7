"""Drivers and recorder plug-ins that misbehave, and driver changes, a session per row: the program survives
a driver's fault, a key after it still sounds, Alt+F4 ends it with code 0, and no process call began after
setProcessing(false) or still ran at it. A plug-in stuck in process at Alt+F4 still ends with code 0, logs
it, and nothing is switched off or freed under the call; a fault in process gets the crash report, from the
frame's thread, and code 2. Arguments: rows to run (default all)."""
import collections
import os
import re
import sys
import time

from drivers import recorder_calls, register_test_asio, register_test_endpoint, win_path
from pomaro_e2e import (ACCESS_VIOLATION, ASIO, BIN_DIR, LOAD, MENU_SETTINGS, NO_DEVICE, PROBING, RESTART,
                        SETTINGS, SPEAKERS, STARTED, WM_COMMAND, Session, TestFailure, check, check_crash_report,
                        check_in_order, install_program, run_test, wait_for)

CHANGE, NOT_PROBING = "オーディオドライバを変更します。", "((?!%s)[\\s\\S])*?" % PROBING
OK, CANCEL, WASAPI_TYPE, ASIO_TYPE, PANEL, APPLY = 1, 2, 1001, 1002, 1009, 1010
# lines: regexes the log holds in order; stats: the driver's counters (a number, or a test of it);
# evidence: frames played before the event is over
Row = collections.namedtuple("Row", "name family plugin driver run restarts lines stats sounds evidence",
                             defaults=("asio", "recorder", {}, "play", 0, (), {}, True, 0))


ROWS = [
    Row("asio_reset_burst", driver=dict(reset_after=20, reset_burst=20), restarts=1,
        stats={"reset_answer": 1, "messages_sent": 20, "instances": lambda v: v > 2}),
    Row("asio_size_change_then_reset", driver=dict(size_change_after=20, size_change_to=256, reset_after=20),
        restarts=1, stats={"size_change_answer": 0, "reset_answer": 1, "messages_sent": 2}),
    Row("asio_reset_after_every_init", driver=dict(reset_after=20, reset_every_init=True), restarts=3,
        lines=[re.escape("オーディオドライバが再起動を繰り返し要求するため、要求を無視します。")]),
    Row("asio_callbacks_after_stop", driver=dict(after_stop=5, reset_after=20), restarts=1,
        stats={"callbacks_after_stop": lambda v: v > 4}),
    Row("asio_callback_inside_start", driver=dict(callback_in_start=True), stats={"callbacks_in_start": 1},
        evidence=9600),
    Row("asio_callbacks_from_new_threads", driver=dict(thread_every=25), stats={"thread_callbacks": lambda v: v > 0},
        evidence=48000),
    Row("asio_modal_panel_asks_for_reset", driver=dict(panel="reset"), run="panel", restarts=1,
        stats={"calls_in_panel": 0, "reset_answer": 1}),
    Row("asio_createbuffers_refused", driver=dict(fail="createBuffers#2", reset_after=20), restarts=1,
        lines=[re.escape(RESTART), "オーディオ出力を開始できませんでした。", NO_DEVICE], sounds=False),
    Row("wasapi_endpoint_invalidated", family="wasapi", driver=dict(fail="GetBuffer#150:0x88890004"), restarts=1,
        lines=[r"CWasapiAudioDevice::StaticThreadProc\(\) : IAudioRenderClient::GetBuffer\(\) : 0x88890004",
               re.escape(RESTART), re.escape(LOAD + SPEAKERS)]),
    Row("crash_in_process_asio", plugin="crash_in_process", run="crash"),
    Row("crash_in_process_wasapi", family="wasapi", plugin="crash_in_process", run="crash"),
    Row("stall_in_process_asio", plugin="stall_in_process", run="stall",
        lines=[re.escape("CAsioAudioDevice::stop() : the render call has not returned after 3000 ms")]),
    Row("stall_in_process_wasapi", family="wasapi", plugin="stall_in_process", run="stall",
        lines=[re.escape("CHost::stopProcessing() : IAudioProcessor::process() has not returned"),
               re.escape("CHost::unloadVstPlugin() : IAudioProcessor::process() is still running")]),
    Row("dialog_switch", family="wasapi", run="switch",
        lines=[CHANGE + NOT_PROBING + re.escape(LOAD + name) + "[\\s\\S]*?" + STARTED for name in (ASIO, SPEAKERS)]),
]


def check_no_process_after_stop(calls):
    switches = [c for c in calls if c.name == "component.setProcessing"]
    for p in (c for c in calls if c.name == "component.process"):
        check(p.args.get("processing") == "1", "process while processing was off: %r" % p)
        for off in (s for s in switches if s.args.get("state") == "0"):
            on = min((s.seq for s in switches if s.args.get("state") == "1" and s.seq > off.seq), default=1 << 62)
            check(not off.seq < p.seq < on, "process began after setProcessing(false): %r after %r" % (p, off))
            check(not (p.seq < off.seq and p.line > off.line), "process still ran at setProcessing(false): %r" % p)


def settings(s, open_it=True):
    """Opens the settings dialog and waits for it, or waits until no box is left."""
    if open_it:
        s.post("HostWindow", WM_COMMAND, MENU_SETTINGS)
    wait_for(lambda: any(t == SETTINGS for t, _ in s.boxes()) if open_it else not s.boxes(), 30, 0.2, "the dialog")


def open_panel(s, p):
    settings(s)
    mark = s.log_text().count(RESTART)
    s.press_box(SETTINGS, PANEL)
    wait_for(lambda: any(t == ASIO for t, _ in s.boxes()), 30, 0.2, "the driver's panel")
    check(s.log_text().count(RESTART) == mark, "restarted while the panel was open:\n" + s.log_text())
    s.press_box(ASIO)
    s.wait_log(re.escape(RESTART) + r"[\s\S]*" + re.escape(STARTED), 30, proc=p)
    s.press_box(SETTINGS, CANCEL)
    settings(s, False)


def switch(s, w, asio):
    """Apply takes the ASIO driver, the dialog is cancelled and a key sounds through it; OK goes back."""
    for to, button in ((ASIO_TYPE, APPLY), (WASAPI_TYPE, OK)):
        settings(s)
        started = s.log_text().count(STARTED)
        s.probe("click", SETTINGS, to)  # in the dialog's queue before the button's click
        s.probe("click", SETTINGS, button)
        wait_for(lambda: s.log_text().count(STARTED) > started, 30, 0.2, "the driver change")
        if button == APPLY:
            s.press_box(SETTINGS, CANCEL)
            settings(s, False)
            mark = asio.frames()
            press_key(s, w, lambda: asio.heard_since(mark), "no sound through the ASIO driver")
    settings(s, False)


def wait_event(s, p, driver, row):
    def done():
        check(p.poll() is None, "the program ended (code %s) during the event" % p.returncode)
        s.dismiss_boxes()
        log = s.log_text()
        after = log.split(RESTART)[-1]
        settled = log.count(RESTART) >= row.restarts and (STARTED in after or NO_DEVICE in after)
        return settled and all(re.search(l, log) for l in row.lines) and driver.frames() >= row.evidence
    wait_for(done, 60, 0.2, "the row's event")


def press_key(s, w, evidence, what):
    try:
        s.keydown_until(w, "c", evidence)
    except TestFailure:
        raise TestFailure(what)
    finally:
        s.keyup(w, "c")


def crashed(s, p, w):
    """The fault on the audio thread gives one report, from the frame's thread, and code 2."""
    press_key(s, w, lambda: s.boxes() or p.poll() is not None, "no crash report after the key")
    threads = [line.split("\t") for line in s.probe("threads")[1].splitlines()]
    check([t for c, t in threads if c == "#32770"] == [t for c, t in threads if c == "HostWindow"],
          "the box is not the frame thread's: %r" % threads)
    boxes = []
    wait_for(lambda: boxes.extend(t for _, t in s.dismiss_boxes()) or p.poll() is not None, 30, 0.2,
             "the program to end")
    check(p.returncode == 2 and len(boxes) == 1, "exit code %r, boxes %r" % (p.returncode, boxes))
    check_crash_report(boxes[0], s.log_lines(), ACCESS_VIOLATION)


def run_row(s, row):
    if row.family == "asio":
        driver = register_test_asio(s, alone=True, preferred=512, **row.driver)
    else:
        driver = register_test_endpoint(s, os.path.join(s.dir, "endpoint.wav"), dict(name=SPEAKERS, rates=[48000],
                                                                                     **row.driver))
        asio = register_test_asio(s, preferred=512) if row.run == "switch" else None
    rec = os.path.join(s.dir, "recorder.log")
    # The variants that take the program down are built into a folder of their own.
    plugin = os.path.join(BIN_DIR, "crashplugins" if row.run == "crash" else "testplugins", row.plugin + ".vst3")
    p = s.start(install_program(os.path.join(s.dir, "Pomaro"), plugin), env={"POMARO_RECORDER_LOG": win_path(rec)})
    w = s.wait_window("^Pomaro$", 60, proc=p)
    s.wait_log(re.escape(STARTED), 60, proc=p)
    wait_for(lambda: driver.frames() >= 4800 or p.poll() is not None, 30, 0.1, "the stream to play")
    if row.run == "crash":
        return crashed(s, p, w)
    if row.run == "panel":
        open_panel(s, p)
    elif row.run == "switch":
        switch(s, w, asio)
    if row.run in ("play", "panel"):
        wait_event(s, p, driver, row)
        mark = driver.frames()
        if row.sounds:
            press_key(s, w, lambda: driver.heard_since(mark), "no sound from a key after the event")
    elif row.run == "stall":
        # The recorder writes "component.stall" as the call begins to wait; the recording stops growing.
        press_key(s, w, lambda: any(c.name == "component.stall" for c in recorder_calls(rec)), "the stall never began")
        played = driver.frames()
        time.sleep(1.0)
        check(driver.frames() - played < 4800, "the stream went on playing during the stall")
    s.close(w, p)

    calls, log = recorder_calls(rec), s.log_text()
    check_no_process_after_stop(calls)
    check(log.count(RESTART) == row.restarts, "%d restarts, expected %d" % (log.count(RESTART), row.restarts))
    check_in_order(log, row.lines)
    if row.restarts and row.sounds:
        after = log[log.index(RESTART):]
        check(PROBING not in after, "a restart probed again instead of reopening the driver by name")
        loads = log.count(LOAD + (ASIO if row.family == "asio" else SPEAKERS))
        check(loads == 1 + row.restarts, "the device was loaded %d times" % loads)
        check(row.family != "asio" or "バッファ長 : 512 " in after, "a restart changed the buffer size")
    stats = driver.stats() if row.stats else {}
    for key, want in row.stats.items():
        check(want(stats[key]) if callable(want) else stats[key] == want, "driver counter %s is %r" % (key, stats[key]))
    process = [c for c in calls if c.name == "component.process"]
    if row.run == "stall" and row.family == "wasapi":
        # Still inside process at the end: left as it was, nothing switched off or freed.
        under = [c for c in calls if c.name in ("component.terminate", "module.ExitDll")
                 or (c.name, c.args.get("state")) == ("component.setActive", "0")
                 or (c.name, c.args.get("reason")) == ("module.detach", "FreeLibrary")]
        check(not under, "switched off or freed while process still ran: %r" % under)
    elif row.run != "stall":
        ui = next(c.tid for c in calls if c.name == "component.initialize")
        check(all(c.tid != ui for c in process), "process ran on the user-interface thread")
        check(row.name != "asio_callbacks_from_new_threads" or len({c.tid for c in process}) > 1,
              "every process call came from one thread")


def main():
    failed = []
    for row in (r for r in ROWS if not sys.argv[1:] or r.name in sys.argv[1:]):
        started = time.monotonic()
        with Session("fault_" + row.name, lang="ja_JP.UTF-8") as s:
            try:
                run_row(s, row)
                print("ok      %s (%.0f s)" % (row.name, time.monotonic() - started))
            except Exception as e:  # every row runs; the failures are listed at the end
                failed.append(row.name)
                print("FAILED  %s: %s\nprogram log:\n%s" % (row.name, e, s.log_text()))
    check(not failed, "rows failed: %s" % ", ".join(failed))


if __name__ == "__main__":
    run_test(main)
