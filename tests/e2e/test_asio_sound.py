"""With no WASAPI endpoint, the automatic choice takes the test ASIO driver, and the
computer key C plays middle C (261.63 Hz) into both output channels, for each of the
three sample types the device understands."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from drivers import register_test_asio  # noqa: E402
from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test  # noqa: E402

MIDDLE_C = 261.63


def play_middle_c(s, exe, driver):
    p = s.start(exe)
    s.wait_log(r"ASIOドライバ : %s" % driver.name, 60, proc=p)
    s.wait_log(r"オーディオドライバをロードします : %s" % driver.name, 30, proc=p)
    s.wait_log(r"オーディオ出力を開始しました。", 30, proc=p)
    w = s.wait_window("^Pomaro$", 60, proc=p)
    mark = driver.frames()
    s.keydown_until(w, "c", lambda: driver.heard_since(mark))
    time.sleep(1.0)
    s.keyup(w, "c")
    s.key_until(w, "alt+F4", lambda: p.poll() is not None)
    log = s.log_text()
    check(log.index("ASIOドライバ : %s" % driver.name) < log.index("オーディオドライバをロードします : %s" % driver.name),
          "the driver was not probed before it was loaded:\n" + log)
    check("Windowsドライバ" not in log, "a WASAPI endpoint was listed:\n" + log)


def check_recording(driver, kind):
    rec = driver.recording()
    check(rec.format == kind, "recorded %s, expected %s" % (rec.format, kind))
    check(rec.frames > rec.rate, "only %d frames recorded" % rec.frames)
    threshold = 0.01 * rec.full_scale
    onset = next((i for i, v in enumerate(rec.left) if abs(v) > threshold), None)
    check(onset is not None, "%s: the left channel stayed silent" % kind)
    # A short span right after the attack: the envelope decays and the key may be
    # released early on a loaded machine.
    start, length = onset + rec.rate // 100, rec.rate // 10
    check(start + length <= rec.frames, "%s: the tone was cut short" % kind)
    for channel, name in ((0, "left"), (1, "right")):
        level = rec.rms(channel, start, start + length)
        check(level > 0.002 * rec.full_scale, "%s: %s channel too quiet (rms %g)" % (kind, name, level))
        f = rec.tone_frequency(start, length, channel)
        check(abs(f - MIDDLE_C) <= MIDDLE_C * 0.01, "%s: %s channel plays %.2f Hz" % (kind, name, f))
        print("%s %s: %.2f Hz, rms %.4f of full scale" % (kind, name, f, level / rec.full_scale))


def main():
    plugin = os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")
    with Session("asio_sound", lang="ja_JP.UTF-8") as s:
        # No WASAPI endpoint at all: the enumerator works and lists nothing.
        s.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "")
        exe = install_program(os.path.join(s.dir, "Pomaro"), plugin)
        for kind in ("int16", "int32", "float32"):
            driver = register_test_asio(s, os.path.join(BIN_DIR, "PomaroTestAsio.dll"),
                                        os.path.join(s.dir, "asio-%s.wav" % kind), type=kind,
                                        rates=[44100, 48000], min=64, max=2048, preferred=512, granularity=1)
            play_middle_c(s, exe, driver)
            check_recording(driver, kind)


if __name__ == "__main__":
    run_test(main)
