"""A structured exception on the user-interface thread that nothing handles ends in
the crash report: one box "Sorry, this application encountered fatal error." with the
fault's name, code, flags, address and parameters, the same text as the log's last
line, and exit code 2."""
import os
import re

from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test, wait_for

NO_DRIVER = "オーディオドライバが使用できません。\r\n"
HEAD = "Sorry, this application encountered fatal error.\n\n"


def crash(s, variant):
    d = os.path.join(s.dir, variant)
    exe = install_program(d, os.path.join(BIN_DIR, "crashplugins", variant + ".vst3"))
    if os.path.exists(s.log_path()):
        os.remove(s.log_path())
    p = s.start(exe)
    seen = []

    def step():
        seen.extend(s.dismiss_boxes())
        return p.poll() is not None
    wait_for(step, 90, 0.2, "%s to end" % variant)
    lines = [l[13:] for l in s.log_text().split("\r\n") if l]
    return p.returncode, seen, lines


def main():
    with Session("crash_report") as s:
        code, boxes, lines = crash(s, "crash_in_attached")
        check(code == 2, "exit code %r after a fatal report" % code)
        check(len(boxes) == 2 and boxes[0] == NO_DRIVER, "boxes %r" % boxes)
        report = boxes[1][len(HEAD):]
        check(boxes[1].startswith(HEAD), "report box %r" % boxes[1])
        check(re.fullmatch(r"Access Violation : code=C0000005, flag=0, adr=[0-9A-F]{16}, "
                           r"param= 00000000 00000010", report), "report text %r" % report)
        check(lines[-1] == report, "the log's last line is the report: %r" % lines[-3:])

        code, boxes, lines = crash(s, "raise_in_attached")
        report = boxes[-1][len(HEAD):] if boxes else ""
        check(code == 2, "exit code %r" % code)
        check(re.fullmatch(r"Unknown Exception : code=E0501234, flag=0, adr=[0-9A-F]{16}", report),
              "report text %r" % report)
        check(lines[-1] == report, "log's last line %r" % lines[-1:])


run_test(main)
