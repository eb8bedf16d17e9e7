"""The end-to-end harness itself: isolated prefix, own display, window lookup,
dialog texts and buttons through winprobe, screenshots, keys that reach the window
they are typed into while another is in front, and reaping."""
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

        # A second notepad comes to the front; keys for the first still reach the first.
        other = s.start("notepad.exe", cwd=s.dir)
        w2 = s.wait_window("Notepad", 60, proc=other, exclude=[w])
        wait_for(lambda: s.has_focus(w2), 30, 0.2, "the second notepad in front")
        check(not s.has_focus(w), "both notepads have the focus")
        s.key(w, "x")
        # The second one has nothing to save and closes at once; the first asks.
        s.key_until(w2, "alt+F4", lambda: other.poll() is not None)
        s.key(w, "alt+F4")
        title, text = s.wait_box(30, proc=note)[0]
        print("box %r: %r" % (title, text))
        s.press_box(title, 7)  # IDNO: do not save
        wait_for(lambda: note.poll() is not None, 30, what="notepad to end")
    # After the session nothing of it is left running.
    check(note.poll() is not None, "notepad still running")


run_test(main)
