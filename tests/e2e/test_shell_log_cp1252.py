"""On a system whose ANSI code page has no Japanese characters, the log's Japanese
texts become one '?' per character and the line structure stays."""
import os

from pomaro_e2e import Session, check, install_program, run_test, wait_for


def main():
    with Session("shell_cp1252", lang="C.UTF-8") as s:
        exe = install_program(os.path.join(s.dir, "app"))
        p = s.start(exe)
        def dismiss():
            for title, _ in s.boxes():
                s.press_box(title)
            return p.poll() is not None
        wait_for(dismiss, 90, 0.3, "the program to end")
        raw = s.log_bytes()
        # "VSTi" stays ASCII; each of the 16 Japanese characters becomes one '?'.
        check(b"VSTi" + b"?" * 16 + b" : VST3\\Pomaro.vst3\r\n" in raw, "cp1252 log:\n%r" % raw[-400:])
        check(all(b < 0x80 for b in raw), "only single-byte ASCII expected in a cp1252 log here")


run_test(main)
