"""Runs Pomaro under Wine+Xvfb as a user would and keeps what it showed and played."""
import glob
import os
import shutil
import sys
import time

from pomaro_e2e import BIN_DIR, Session, TestFailure, install_program, wait_for


def main(out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    plugin = os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")
    exe = install_program(os.path.join(out, "Pomaro"), plugin if os.path.exists(plugin) else None)
    with Session("demo", lang="ja_JP.UTF-8") as s:
        audio = setup_audio(s, out)
        p = s.start(exe)
        try:
            w = s.wait_window("^Pomaro$", 60, proc=p)
        except TestFailure:
            boxes = s.boxes()
            s.screenshot(os.path.join(out, "screenshot.png"))
            for title, text in boxes:
                print("message box %r: %s" % (title, text.strip()))
                s.press_box(title)
            wait_for(lambda: p.poll() is not None, 30, what="the program to end")
            finish(s, out, p, audio)
            return
        time.sleep(1.0)
        for note in ("c", "e", "g"):
            s.keydown(w, note)
            time.sleep(0.4)
            s.keyup(w, note)
        time.sleep(1.0)
        s.screenshot(os.path.join(out, "screenshot.png"))
        s.key(w, "alt+F4")
        wait_for(lambda: p.poll() is not None, 30, what="the program to end")
        finish(s, out, p, audio)


def setup_audio(s, out):
    """Registers the test ASIO driver, when it is built, so the session has a device."""
    dll = os.path.join(BIN_DIR, "PomaroTestAsio.dll")
    if not os.path.exists(dll):
        return None
    sys.path.insert(0, os.path.join(os.environ.get("POMARO_SOURCE_DIR", ""), "tests", "e2e"))
    from drivers import register_test_asio  # provided with the ASIO test driver
    return register_test_asio(s, dll, os.path.join(out, "demo.wav"))


def finish(s, out, p, audio):
    shutil.copy2(s.log_path(), os.path.join(out, "PomaroApp.log")) if os.path.exists(s.log_path()) else None
    print("exit code: %s" % p.returncode)
    print("log:\n" + s.log_text())
    for f in sorted(glob.glob(os.path.join(out, "*.*"))):
        print("left: %s" % f)
    if audio is None:
        print("no audio device was available to this session: no WAV recorded")


if __name__ == "__main__":
    main(sys.argv[1])
