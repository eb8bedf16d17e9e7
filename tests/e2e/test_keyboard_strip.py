"""The keyboard strip of the program with its demo instrument, as the screen shows it:
at start the eight octaves and the ninth's first keys with the labels of octave 5;
a held computer key C lights note 60 in the pressed colour and its release restores
it; Page Up moves the labels one octave; a mouse press lights the key under it (the
host reports the note back), dragging moves the light from C to D, releasing the
button puts it out; a release-all message to the strip puts out every lit key while
the computer keys are still held.
"""
import os
import subprocess
import sys
import time

from pomaro_e2e import BIN_DIR, SOURCE_DIR, Session, TestFailure, check, install_program, run_test, wait_for

sys.path.insert(0, os.path.join(SOURCE_DIR, "tools", "images"))
import make_key_images as images  # noqa: E402

WIDTH, HEIGHT = 591, 30
SHEET = images.draw_sheet()
LABELS = images.draw_labels()
WM_KEYBOARD_RELEASEALL = 0x401


def expected_strip(octave, pressed=()):
    """The strip's picture (rows of (r, g, b)) for a labels octave and lit notes."""
    img = [[SHEET[y][x % 70][:3] for x in range(WIDTH)] for y in range(HEIGHT)]
    for note in pressed:
        o, k = divmod(note - 12, 12)
        for y in range(HEIGHT):
            for xo in range(70):
                p = SHEET[30 * (k + 1) + y][xo]
                if p[3] and 70 * o + xo < WIDTH:
                    img[y][70 * o + xo] = p[:3]
    left = 70 * octave - 110
    for y in range(HEIGHT):
        for lx, p in enumerate(LABELS[y]):
            if p[3] and 0 <= left + lx < WIDTH:
                img[y][left + lx] = p[:3]
    return img


class Screen:
    def __init__(self, session):
        self.s = session
        self.n = 0

    def grab(self):
        self.n += 1
        path = self.s.screenshot(os.path.join(self.s.dir, "shot%02d.png" % self.n))
        size = subprocess.run(["identify", "-format", "%w %h", path], stdout=subprocess.PIPE, check=True)
        w, h = map(int, size.stdout.split())
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], stdout=subprocess.PIPE, check=True).stdout
        return w, h, raw


# Strip columns inside the frame's client area: a frame narrower than the strip
# cuts it on both sides. Set once the frame is shown.
VISIBLE = range(0, WIDTH)


def locate(screen):
    """Finds the strip on the screen by its row 17 (white keys and separators only)."""
    first = VISIBLE.start
    row = bytes(c for p in expected_strip(5)[17][first:VISIBLE.stop] for c in p)
    w, h, raw = screen.grab()
    for y in range(17, h - 12):
        line = raw[y * w * 3:(y + 1) * w * 3]
        i = line.find(row)
        while i >= 0 and i % 3:
            i = line.find(row, i + 1)
        if i >= 0:
            return i // 3 - first, y - 17
    return None


def differences(screen, origin, picture):
    w, h, raw = screen.grab()
    left, top = origin
    bad = []
    for y in range(HEIGHT):
        base = ((top + y) * w + left) * 3
        for x in VISIBLE:
            got = raw[base + 3 * x: base + 3 * x + 3]
            want = picture[y][x]
            if any(abs(got[i] - want[i]) > 8 for i in range(3)):
                bad.append((x, y, tuple(got), want))
    return bad


def expect(screen, origin, picture, what, timeout=10):
    end = time.monotonic() + timeout
    while True:
        bad = differences(screen, origin, picture)
        if not bad:
            return
        if time.monotonic() > end:
            with open(os.path.join(screen.s.dir, "expected.png"), "wb") as f:
                f.write(images.png_bytes([[p + (255,) for p in row] for row in picture]))
            raise TestFailure("%s: %d pixels differ, first %r (shot%02d.png)" % (what, len(bad), bad[:5], screen.n))
        time.sleep(0.3)


def lit(screen, origin, notes):
    """Evidence for a held key: the strip shows exactly these notes lit."""
    return lambda: not differences(screen, origin, expected_strip(5, notes))


def main():
    plugin = os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")
    with Session("keyboard_strip", lang="ja_JP.UTF-8") as s:
        exe = install_program(os.path.join(s.dir, "app"), plugin)
        p = s.start(exe)

        # Whatever the audio situation, boxes about it are answered until the frame shows.
        def frame_shown():
            check(p.poll() is None, "the program ended early (code %s)" % p.returncode)
            for title, _ in s.boxes():
                s.press_box(title)
            return (s.window_info("HostWindow") or {}).get("visible")
        wait_for(frame_shown, 90, 0.5, "the frame to be shown")
        w = s.wait_window("^Pomaro$", 60, proc=p)
        global VISIBLE
        strip = [c for c in s.children("HostWindow") if c[0] == "KeyboardWindow"]
        check(strip, "no keyboard strip in the frame")
        kx = strip[0][1]
        client = s.window_info("HostWindow")["client_width"]
        VISIBLE = range(max(0, -kx), min(WIDTH, client - kx))
        screen = Screen(s)
        origin = wait_for(lambda: locate(screen), 30, 0.5, "the keyboard strip on the screen")
        expect(screen, origin, expected_strip(5), "strip at start")

        s.keydown_until(w, "c", lit(screen, origin, [60]))  # C plays 12 * 5 - 4 + 4 = 60
        s.keyup(w, "c")
        expect(screen, origin, expected_strip(5), "computer key C released")

        s.key(w, "Prior")
        expect(screen, origin, expected_strip(6), "labels after Page Up")
        s.key(w, "Next")
        expect(screen, origin, expected_strip(5), "labels after Page Down")

        left, top = origin
        s.xdotool("mousemove", left + 282, top + 25)  # C of octave index 4: note 60
        s.xdotool("mousedown", 1)
        expect(screen, origin, expected_strip(5, [60]), "mouse pressed on C")
        s.xdotool("mousemove", left + 292, top + 25)  # D: note 62
        expect(screen, origin, expected_strip(5, [62]), "mouse dragged to D")
        s.xdotool("mouseup", 1)
        expect(screen, origin, expected_strip(5), "mouse released")
        s.xdotool("mousemove", left + 300, top + 200)

        # Two keys of one octave lit at once; release-all puts both out though held.
        s.keydown_until(w, "c", lit(screen, origin, [60]))
        s.keydown_until(w, "v", lit(screen, origin, [60, 62]))  # V plays 62
        r = s.wine([os.path.join(BIN_DIR, "strippost.exe"), str(WM_KEYBOARD_RELEASEALL), "0", "0"], timeout=60)
        check(r.returncode == 0, "strippost found no strip")
        expect(screen, origin, expected_strip(5), "release-all while keys are held")
        s.keyup(w, "v")
        s.keyup(w, "c")
        expect(screen, origin, expected_strip(5), "after the keys came up")
        check(p.poll() is None, "the program is still running")


run_test(main)
