"""A structured exception that nothing handles ends in the crash report: one box "Sorry, this
application encountered fatal error." with the fault's name, code, flags, address and
parameters, the same text as the log's last line, and exit code 2. Here on the user-interface
thread (a plug-in's attached); the fault matrix has the same inside process on the audio thread
of either device family."""
import os
import re

from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test, wait_for

NO_DRIVER = "オーディオドライバが使用できません。\r\n"
HEAD = "Sorry, this application encountered fatal error.\n\n"
CASES = {
    "crash_in_attached": r"Access Violation : code=C0000005, flag=0, adr=[0-9A-F]{16}, param= 00000000 00000010",
    "raise_in_attached": r"Unknown Exception : code=E0501234, flag=0, adr=[0-9A-F]{16}",
}


def main():
    with Session("crash_report", lang="ja_JP.UTF-8") as s:
        for variant, pattern in CASES.items():
            exe = install_program(os.path.join(s.dir, variant), os.path.join(BIN_DIR, "crashplugins", variant + ".vst3"))
            if os.path.exists(s.log_path()):
                os.remove(s.log_path())
            p, boxes = s.start(exe), []
            wait_for(lambda: boxes.extend(s.dismiss_boxes()) or p.poll() is not None, 90, 0.2, "the program to end")
            lines = [l[13:] for l in s.log_text().split("\r\n") if l]
            check(p.returncode == 2, "%s: exit code %r after a fatal report" % (variant, p.returncode))
            check(len(boxes) == 2 and boxes[0] == NO_DRIVER and boxes[1].startswith(HEAD), "%s: boxes %r" % (variant, boxes))
            report = boxes[1][len(HEAD):]
            check(re.fullmatch(pattern, report), "%s: report text %r" % (variant, report))
            check(lines[-1] == report and lines.count(report) == 1,
                  "%s: the log's last line, and only there, is the report: %r" % (variant, lines[-3:]))


run_test(main)
