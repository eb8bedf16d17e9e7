"""Pomaro.exe without its instrument and without an audio device, on a Japanese
system: the log (in Shift-JIS) holds the module block and the loader's failure, the
user sees the no-driver box and then one error box naming VST3\\Pomaro.vst3, and the
program ends with exit code 1 leaving no window. On a system whose ANSI code page has no
Japanese characters, the log's Japanese texts become one '?' per character and the line
structure stays."""
import os
import re

from pomaro_e2e import Session, check, install_program, run_test, wait_for

STAMP = re.compile(r"^\d\d:\d\d:\d\d\.\d\d\d $")


def body_lines(raw):
    check(raw.endswith(b"\r\n"), "log must end with CR LF")
    lines = raw.decode("cp932").split("\r\n")[:-1]
    for line in lines:
        check(STAMP.match(line[:13]) is not None, "bad time stamp in %r" % line)
    return [line[13:] for line in lines]


def main():
    with Session("shell_no_plugin", lang="ja_JP.UTF-8") as s:
        exe = install_program(os.path.join(s.dir, "app"))
        p = s.start(exe)
        # A fresh prefix has no audio device: that box comes first.
        boxes = s.wait_box(60, proc=p)
        check(boxes == [("Pomaro", "オーディオドライバが使用できません。\r\n")], "first box %r" % boxes)
        s.press_box("Pomaro")
        boxes = wait_for(lambda: [b for b in s.boxes() if "VSTi" in b[1]] or (p.poll() is not None and ["ended"]),
                         60, 0.2, "the loader's box")
        check(len(boxes) == 1 and boxes != ["ended"], "exactly one loader box expected: %r" % boxes)
        title, text = boxes[0]
        check(title == "Pomaro", "box caption comes from the version resource: %r" % title)
        check(text == "VSTiプラグインを読み込めませんでした : VST3\\Pomaro.vst3\r\n", "box text %r" % text)
        s.press_box(title)
        wait_for(lambda: p.poll() is not None, 30, what="the program to end")
        check(p.returncode == 1, "exit code %r, expected 1 (instrument not loaded)" % p.returncode)
        check(s.window_info("HostWindow") is None, "no frame window may remain")

        raw = s.log_bytes()
        # Japanese texts reach the file in the system's ANSI code page (932 here).
        check("読み込めませんでした".encode("cp932") in raw, "Shift-JIS text missing from the log")
        lines = body_lines(raw)
        sep = "-" * 40
        check(lines[0] == "Module file name : Pomaro.exe", "first line %r" % lines[0])
        check("Module type      : 64bit" in lines, "module type line")
        check("Module name      : Pomaro" in lines, "product name line")
        check("Build type       : Release" in lines, "build type line")
        check(any(re.fullmatch(r"Module version   : \d+\.\d\d\.\d+\.\d{4}", l) for l in lines), "version line")
        check(any(l.startswith("Processor features :") for l in lines), "features line")
        first_sep = lines.index(sep)
        check(lines[first_sep - 1].startswith("Processor features :"), "separator follows the module block")
        check(any(re.fullmatch(r"CHost::loadVstPlugin\(\) : LoadLibrary\(\) : VST3\\Pomaro\.vst3 : 0x[0-9A-F]{8}( : .*)?", l)
                  for l in lines), "LoadLibrary failure line:\n%s" % "\n".join(lines))
        fail = lines.index("VSTiプラグインを読み込めませんでした : VST3\\Pomaro.vst3")
        check(fail > first_sep, "the failure comes after the first separator")
        check(lines[-1] == sep, "the run ends with a separator: %r" % lines[-1])
        check("VSTiプラグインをアンロードしました。" not in lines, "nothing was loaded, so nothing is unloaded")

    with Session("shell_cp1252", lang="C.UTF-8") as s:
        p = s.start(install_program(os.path.join(s.dir, "app")))

        def ended():
            s.dismiss_boxes()
            return p.poll() is not None
        wait_for(ended, 90, 0.3, "the program to end")
        raw = s.log_bytes()
        # "VSTi" stays ASCII; each of the 16 Japanese characters becomes one '?'.
        check(b"VSTi" + b"?" * 16 + b" : VST3\\Pomaro.vst3\r\n" in raw, "cp1252 log:\n%r" % raw[-400:])
        check(all(b < 0x80 for b in raw), "only single-byte ASCII expected in a cp1252 log here")


run_test(main)
