"""A structured exception that nothing handles ends in the crash report: one box "Sorry,
this application encountered fatal error." with the fault's name, code, flags, address
and parameters, the same text as the log's last line, and exit code 2. On the
user-interface thread (a plug-in's attached) and inside the plug-in's process, which
runs on the audio thread of either device family: there the report still comes once,
from the user-interface thread."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from drivers import register_test_asio, register_test_endpoint  # noqa: E402
from pomaro_e2e import BIN_DIR, Session, TestFailure, check, install_program, run_test, wait_for  # noqa: E402

NO_DRIVER = "オーディオドライバが使用できません。\r\n"
HEAD = "Sorry, this application encountered fatal error.\n\n"
ACCESS_VIOLATION = r"Access Violation : code=C0000005, flag=0, adr=[0-9A-F]{16}, param= 00000000 00000010"


def start(s, variant):
    exe = install_program(os.path.join(s.dir, variant), os.path.join(BIN_DIR, "crashplugins", variant + ".vst3"))
    if os.path.exists(s.log_path()):
        os.remove(s.log_path())
    return s.start(exe)


def finish(s, p, seen):
    def step():
        seen.extend(s.dismiss_boxes())
        return p.poll() is not None
    wait_for(step, 90, 0.2, "the program to end")
    lines = [l[13:] for l in s.log_text().split("\r\n") if l]
    return p.returncode, seen, lines


def crash(s, variant):
    return finish(s, start(s, variant), [])


def crash_on_key(s):
    """crash_in_process faults in the first process call with a note: plays C until the
    report is on screen (a key may go astray on a busy machine), checks that the box
    belongs to the frame's thread, then closes it."""
    p = start(s, "crash_in_process")
    s.wait_log("オーディオ出力を開始しました。", 60, proc=p)
    w = s.wait_window("^Pomaro$", 60, proc=p)

    def report_shown():
        if p.poll() is not None:
            raise TestFailure("the program ended (code %s) before the report" % p.returncode)
        return bool(s.boxes())
    s.key_until(w, "c", report_shown, 60, attempt=2.0)
    _, out = s.probe("threads")
    threads = [line.split("\t") for line in out.splitlines()]
    frame = [t for c, t in threads if c == "HostWindow"]
    box = [t for c, t in threads if c == "#32770"]
    check(len(box) == 1 and box == frame, "the box is not the frame thread's: %r" % threads)
    return finish(s, p, [])


def check_report(code, boxes, lines, pattern, what):
    check(code == 2, "%s: exit code %r after a fatal report" % (what, code))
    check(len(boxes) >= 1 and boxes[-1].startswith(HEAD), "%s: boxes %r" % (what, boxes))
    report = boxes[-1][len(HEAD):]
    check(re.fullmatch(pattern, report), "%s: report text %r" % (what, report))
    check(lines[-1] == report and lines.count(report) == 1,
          "%s: the log's last line, and only there, is the report: %r" % (what, lines[-3:]))


def main():
    with Session("crash_report", lang="ja_JP.UTF-8") as s:
        code, boxes, lines = crash(s, "crash_in_attached")
        check(len(boxes) == 2 and boxes[0] == NO_DRIVER, "boxes %r" % boxes)
        check_report(code, boxes, lines, ACCESS_VIOLATION, "attached")

        code, boxes, lines = crash(s, "raise_in_attached")
        check_report(code, boxes, lines, r"Unknown Exception : code=E0501234, flag=0, adr=[0-9A-F]{16}", "raise")

        # The ASIO driver's own callback thread; no WASAPI endpoint is listed.
        s.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "")
        register_test_asio(s, wav_path=os.path.join(s.dir, "asio.wav"), type="int16", rates=[48000],
                           min=64, max=2048, preferred=512, granularity=1)
        code, boxes, lines = crash_on_key(s)
        check(len(boxes) == 1, "ASIO: one box only: %r" % boxes)
        check_report(code, boxes, lines, ACCESS_VIOLATION, "ASIO")
        check("オーディオドライバをロードします : Pomaro Test ASIO" in lines,
              "the test ASIO driver was not the device:\n" + "\n".join(lines))

        # The WASAPI render thread: the test endpoint outranks the ASIO driver.
        register_test_endpoint(s, wav_path=os.path.join(s.dir, "wasapi.wav"), name="Pomaro Test Speakers",
                               rates=[48000])
        code, boxes, lines = crash_on_key(s)
        check(len(boxes) == 1, "WASAPI: one box only: %r" % boxes)
        check_report(code, boxes, lines, ACCESS_VIOLATION, "WASAPI")
        check("オーディオドライバをロードします : Pomaro Test Speakers" in lines,
              "the test endpoint was not the device:\n" + "\n".join(lines))


run_test(main)
