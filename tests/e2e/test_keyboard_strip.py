"""The keyboard strip as the screen shows it, with the demo instrument and two ports of the test
MIDI driver: the labels of octave 5 at start; notes from both ports light their keys and sound at
their pitch; computer keys and the mouse (pressed, dragged, released) light and put out keys;
Page Up moves the labels; release-all puts out held keys; through a flood of one key's notes a
key held on the other port stays lit; the program closes cleanly while a port floods."""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from drivers import register_test_asio, register_test_midi  # noqa: E402
from pomaro_e2e import BIN_DIR, SOURCE_DIR, Session, TestFailure, check, install_program, run_test, wait_for  # noqa: E402

sys.path.insert(0, os.path.join(SOURCE_DIR, "tools", "images"))
import make_key_images as images  # noqa: E402

WIDTH, HEIGHT = 591, 30
SHEET = images.draw_sheet()
LABELS = images.draw_labels()
WM_KEYBOARD_RELEASEALL = 0x401
WM_CLOSE = 0x0010
# The second name fills the 32 characters of the driver's name field without a terminator.
PORTS = ("Pomaro Test MIDI 1", "Pomaro Test MIDI 2 (Port of Some Long Name)")
PORT_NAMES = tuple(n[:32] for n in PORTS)  # as the log writes them
A3, E4 = 220.0, 329.63  # notes 57 and 64


def note_on(port, note):
    return "send %d %06x" % (port, 0x90 | note << 8 | 100 << 16)


def note_off(port, note):
    return "send %d %06x" % (port, 0x80 | note << 8)


def check_pitches(rec):
    # The first sound of the run: A3 from one port with E4 from the other.
    threshold = 0.01 * rec.full_scale
    onset = next((i for i, v in enumerate(rec.left) if abs(v) > threshold), None)
    check(onset is not None, "the MIDI notes made no sound")
    start, end = onset + rec.rate // 50, onset + rec.rate // 50 + rec.rate // 5
    level = lambda f: rec.tone_level(f, 0, start, end)  # noqa: E731
    for f in (A3, E4):
        neighbours = max(level(f * 2 ** (-1 / 12.0)), level(f * 2 ** (1 / 12.0)))
        check(level(f) > 4 * neighbours, "%.2f Hz at %.0f against %.0f a semitone off" % (f, level(f), neighbours))
        print("%.2f Hz: level %.0f, semitone neighbours up to %.0f" % (f, level(f), neighbours))


def expected_strip(octave, pressed=()):
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
    # Row 17 holds white keys and separators only.
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
    return lambda: not differences(screen, origin, expected_strip(5, notes))


def main():
    plugin = os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")
    with Session("keyboard_strip", lang="ja_JP.UTF-8") as s:
        midi = register_test_midi(s, ports=PORTS)
        asio = register_test_asio(s, wav_path=os.path.join(s.dir, "asio.wav"), rates=[48000], preferred=480)
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
        for name in PORT_NAMES:
            s.wait_log("MIDI入力を開始しました：%s\r\n" % re.escape(name), 10, proc=p)

        # Sounding now, A3 and E4 are the first notes of the recording.
        s.wait_log("オーディオ出力を開始しました。", 30, proc=p)
        reports = midi.run(note_on(0, 57), note_on(1, 64))
        check(all(r["delivered"] == "1" for r in reports), "a port was not started: %r" % reports)
        expect(screen, origin, expected_strip(5, [57, 64]), "notes from both MIDI ports")
        midi.run(note_off(0, 57), note_off(1, 64))
        expect(screen, origin, expected_strip(5), "MIDI notes released")

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

        # Drawing is coalesced, never stale: the held key stays lit, the flooded one ends up.
        midi.run(note_on(1, 57), "flood 0 62 4000 10000")
        expect(screen, origin, expected_strip(5, [57]), "a held key through a flood of another")

        midi.start("flood 0 62 200000 10000")
        wait_for(lambda: not os.path.exists(midi.commands_path), 10, 0.01, "the flood to begin")
        rc, _ = s.probe("post", "HostWindow", str(WM_CLOSE), "0", "0")
        check(rc == 0, "no frame to close")
        wait_for(lambda: p.poll() is not None, 60, 0.1, "the program to end while a port floods")
        check(p.returncode == 0, "the program ended with code %s" % p.returncode)
        for name in PORT_NAMES:
            check("MIDI入力を終了しました：%s\r\n" % name in s.log_text(), "port %s was not closed:\n%s" % (name, s.log_text()))
        check_pitches(asio.recording())


run_test(main)
