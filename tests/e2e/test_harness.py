"""The end-to-end harness itself: isolated prefix, own display, window lookup,
dialog texts and buttons through winprobe, screenshots, and reaping."""
import os
import subprocess

from pomaro_e2e import Session, check, run_test, wait_for


def main():
    with Session("harness") as s:
        # Every session has its own Documents folder, not a link to the host's.
        check(os.path.isdir(s.documents) and not os.path.islink(s.documents), "Documents must be a private folder")
        note = s.start("notepad.exe", cwd=s.dir)
        w = s.wait_window("Notepad", 60, proc=note)
        info = wait_for(lambda: s.window_info("Notepad"), 20, what="notepad's window info")
        check(info["visible"] and info["client_width"] > 0, "notepad window info: %r" % info)
        shot = s.screenshot(os.path.join(s.dir, "shot.png"))
        out = subprocess.run(["identify", "-format", "%w %h", shot], stdout=subprocess.PIPE).stdout.decode()
        check(out == "1280 1024", "screenshot size %r" % out)
        s.key(w, "alt+F4")
        wait_for(lambda: note.poll() is not None, 30, what="notepad to end")
    # After the session nothing of it is left running.
    check(note.poll() is not None, "notepad still running")


run_test(main)
