"""The keyboard strip as the screen shows it, with the demo instrument and two test MIDI ports: octave 5's
labels at start; notes from both ports light their keys and sound at their pitch; computer keys and the
mouse (pressed, dragged, released) light and put out keys; Page Up moves the labels; release-all puts out
held keys; a key held on one port stays lit through a flood on the other; the program closes cleanly
while a port floods."""
import os
import re
import subprocess
import sys

from drivers import register_test_asio, register_test_midi
from pomaro_e2e import (BIN_DIR, SOURCE_DIR, STARTED, WM_CLOSE, Session, TestFailure, check,
                        install_program, run_test, wait_for)

sys.path.insert(0, os.path.join(SOURCE_DIR, "tools", "images"))
import make_key_images as images  # noqa: E402

WIDTH, HEIGHT, SCREEN_WIDTH = 591, 30, 1280
SHEET, LABELS = images.draw_sheet(), images.draw_labels()
# The second name fills the 32 characters of the driver's name field without a terminator.
PORTS = ("Pomaro Test MIDI 1", "Pomaro Test MIDI 2 (Port of Some Long Name)")


def send(port, status, note, velocity=100):
    return "send %d %06x" % (port, status | note << 8 | velocity << 16)


def picture(octave, pressed=()):
    """The strip with the labels of octave and the pressed keys lit, drawn from the key images."""
    img = [[SHEET[y][x % 70][:3] for x in range(WIDTH)] for y in range(HEIGHT)]
    keys = [([row[:70] for row in SHEET[30 * (k + 1):30 * (k + 2)]], 70 * o) for o, k in
            (divmod(note - 12, 12) for note in pressed)]
    for rows, left in keys + [(LABELS[:HEIGHT], 70 * octave - 110)]:
        for y, row in enumerate(rows):
            for x, p in enumerate(row):
                if p[3] and 0 <= left + x < WIDTH:
                    img[y][left + x] = p[:3]
    return img


class Strip:
    """The strip's pixels on the screen, where the frame's client area and the strip's place in it put
    them; visible: its columns inside the client area (a frame narrower than the strip cuts it on both
    sides)."""

    def __init__(self, s):
        frame, (kx, ky) = s.window_info("HostWindow"), next(c[1:3] for c in s.children("HostWindow")
                                                             if c[0] == "KeyboardWindow")
        self.s, self.origin = s, (frame["x"] + kx, frame["y"] + ky)
        self.visible = range(max(0, -kx), min(WIDTH, frame["client_width"] - kx))

    def differences(self, want):
        raw = subprocess.run(["import", "-display", self.s.display, "-window", "root", "-depth", "8", "rgb:-"],
                             stdout=subprocess.PIPE, check=True).stdout
        (left, top), bad = self.origin, []
        for y in range(HEIGHT):
            at = ((top + y) * SCREEN_WIDTH + left) * 3
            bad += [(x, y, tuple(raw[at + 3 * x:at + 3 * x + 3]), want[y][x]) for x in self.visible
                    if any(abs(raw[at + 3 * x + i] - want[y][x][i]) > 8 for i in range(3))]
        return bad

    def shows(self, octave, notes=()):
        return lambda: not self.differences(picture(octave, notes))

    def expect(self, what, octave=5, notes=()):
        try:
            wait_for(self.shows(octave, notes), 10, 0.3)
        except TestFailure:
            bad = self.differences(picture(octave, notes))
            self.s.screenshot(os.path.join(self.s.dir, "shot.png"))
            raise TestFailure("%s: %d pixels differ, first %r (shot.png)" % (what, len(bad), bad[:5]))


def check_pitches(rec):
    # The first sound of the run: A3 from one port with E4 from the other.
    onset = (rec.onsets() or [None])[0]
    check(onset is not None, "the MIDI notes made no sound")
    start = onset + rec.rate // 50
    for f in (220.0, 329.63):
        level = [rec.tone_level(f * 2 ** (d / 12.0), 0, start, start + rec.rate // 5) for d in (0, -1, 1)]
        check(level[0] > 4 * max(level[1:]), "%.2f Hz at %.0f, a semitone off %r" % (f, level[0], level[1:]))


def main():
    with Session("keyboard_strip", lang="ja_JP.UTF-8") as s:
        midi = register_test_midi(s, ports=PORTS)
        asio = register_test_asio(s, wav_path=os.path.join(s.dir, "asio.wav"), rates=[48000], preferred=480)
        p = s.start(install_program(os.path.join(s.dir, "app"), os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")))

        # Found where the frame settles (it takes the editor's size after it shows); whatever the audio
        # situation, boxes about it are answered.
        def strip_at_start():
            check(p.poll() is None, "the program ended early (code %s)" % p.returncode)
            s.dismiss_boxes()
            strip = Strip(s) if any(c[0] == "KeyboardWindow" for c in s.children("HostWindow")) else None
            return strip if strip and strip.shows(5)() else None
        strip = wait_for(strip_at_start, 90, 0.5, "the keyboard strip of octave 5 on the screen")
        w = s.wait_window("^Pomaro$", 60, proc=p)
        for name in PORTS:
            s.wait_log("MIDI入力を開始しました：%s\r\n" % re.escape(name[:32]), 10, proc=p)

        # Sounding now, A3 and E4 are the first notes of the recording.
        s.wait_log(STARTED, 30, proc=p)
        reports = midi.run(send(0, 0x90, 57), send(1, 0x90, 64))
        check(all(r["delivered"] == "1" for r in reports), "a port was not started: %r" % reports)
        strip.expect("notes from both MIDI ports", notes=[57, 64])
        midi.run(send(0, 0x80, 57, 0), send(1, 0x80, 64, 0))
        strip.expect("MIDI notes released")

        s.keydown_until(w, "c", strip.shows(5, [60]))  # C plays 12 * 5 - 4 + 4 = 60
        s.keyup(w, "c")
        strip.expect("computer key C released")
        s.key_until(w, "Prior", strip.shows(6))  # Page Up
        s.key_until(w, "Next", strip.shows(5))

        left, top = strip.origin
        s.xdotool("mousemove", left + 282, top + 25, "mousedown", 1)  # C of octave index 4: note 60
        strip.expect("mouse pressed on C", notes=[60])
        s.xdotool("mousemove", left + 292, top + 25)  # D: note 62
        strip.expect("mouse dragged to D", notes=[62])
        s.xdotool("mouseup", 1, "mousemove", left + 300, top + 200)
        strip.expect("mouse released")

        # Two keys of one octave lit at once; release-all puts both out though held.
        s.keydown_until(w, "c", strip.shows(5, [60]))
        s.keydown_until(w, "v", strip.shows(5, [60, 62]))  # V plays 62
        s.post("KeyboardWindow", 0x401)  # WM_KEYBOARD_RELEASEALL, as the host's MIDI path posts it
        strip.expect("release-all while keys are held")
        s.keyup(w, "v")
        s.keyup(w, "c")
        strip.expect("after the keys came up")

        # Drawing is coalesced, never stale: the held key stays lit, the flooded one ends up.
        midi.run(send(1, 0x90, 57), "flood 0 62 4000 10000")
        strip.expect("a held key through a flood of another", notes=[57])

        midi.start("flood 0 62 200000 10000")
        wait_for(lambda: not os.path.exists(midi.commands_path), 10, 0.01, "the flood to begin")
        s.post("HostWindow", WM_CLOSE)
        wait_for(lambda: p.poll() is not None, 60, 0.1, "the program to end while a port floods")
        check(p.returncode == 0, "the program ended with code %s" % p.returncode)
        for name in PORTS:
            check("MIDI入力を終了しました：%s\r\n" % name[:32] in s.log_text(), "port %s was not closed" % name)
        check_pitches(asio.recording())


run_test(main)
