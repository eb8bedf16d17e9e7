"""Runs Pomaro under Wine+Xvfb as a user would and keeps what it showed and played.

The test ASIO driver is the session's audio device; what the program plays through it
is kept as out/demo/demo.wav. The keys C, B and M play a C major chord's notes one after
another (middle C, E and G), each held until the recording shows it sounding."""
import glob
import os
import shutil
import sys
import time

from drivers import register_test_asio
from pomaro_e2e import BIN_DIR, STARTED, Session, TestFailure, install_program, wait_for

NOTES = ("c", "b", "m")


def main(out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    exe = install_program(os.path.join(out, "Pomaro"), os.path.join(BIN_DIR, "VST3", "Pomaro.vst3"))
    with Session("demo", lang="ja_JP.UTF-8") as s:
        # The machine's own sound system stays out: the test driver is the only device.
        s.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "")
        driver = register_test_asio(s, os.path.join(BIN_DIR, "PomaroTestAsio.dll"), os.path.join(out, "demo.wav"))
        p = s.start(exe)
        try:
            w = s.wait_window("^Pomaro$", 60, proc=p)
            s.wait_log(STARTED, 60, proc=p)
        except TestFailure:
            # Whatever stopped it is on the screen or in the log: keep both.
            s.screenshot(os.path.join(out, "screenshot.png"))
            for title, text in s.boxes():
                print("message box %r: %s" % (title, text.strip()))
                s.press_box(title)
            wait_for(lambda: p.poll() is not None, 30, what="the program to end")
            finish(s, out, p)
            return 1
        for note in NOTES:
            mark = driver.frames()
            s.keydown_until(w, note, lambda: driver.heard_since(mark))
            time.sleep(0.4)
            if note == NOTES[-1]:
                s.screenshot(os.path.join(out, "screenshot.png"))  # its key lit on the strip
            s.keyup(w, note)
            wait_for(lambda: driver.quiet(0.25), 10, 0.1, "key %s's note to fade" % note)
        s.key_until(w, "alt+F4", lambda: p.poll() is not None)
        return finish(s, out, p)


def finish(s, out, p):
    if os.path.exists(s.log_path()):
        shutil.copy2(s.log_path(), os.path.join(out, "PomaroApp.log"))
    print("exit code: %s" % p.returncode)
    print("log:\n" + s.log_text())
    for f in sorted(glob.glob(os.path.join(out, "*.*"))):
        print("left: %s" % f)
    return p.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
