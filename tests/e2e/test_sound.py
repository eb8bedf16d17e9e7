"""The computer key C plays middle C into both channels of the device the program chooses on its
own, and the note falls away once the key is up: the test ASIO driver in each sample type it
understands where there is no WASAPI endpoint, else the first test endpoint, at 48 kHz in 10 ms
periods. The SDK's electric piano writes nothing while no voice sounds: the driver records exact
silence until the key. The endpoint's restart request reopens it by name, without probing, and
the sound comes back, for ten seconds of playing."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from drivers import register_test_asio, register_test_endpoint  # noqa: E402
from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test, wait_for  # noqa: E402

MIDDLE_C = 261.63
STARTED, RESTART = "オーディオ出力を開始しました。", "オーディオドライバを再起動します。"
PROBING, LOAD = "オーディオドライバを列挙します。", "オーディオドライバをロードします : "
LOADED, UNLOADED = "VSTiプラグインを読み込みました : VST3\\Pomaro.vst3", "VSTiプラグインをアンロードしました。"
ASIO, SPEAKERS = "Pomaro Test ASIO", "Pomaro Test Speakers"
DEMO, SDK = os.path.join(BIN_DIR, "VST3", "Pomaro.vst3"), os.path.join(BIN_DIR, "sdkplugins", "epiano.vst3")
ASIO_LOG = ["ASIOドライバ : " + ASIO, LOAD + ASIO, STARTED]
WASAPI_LOG = [PROBING, "Windowsドライバ : " + SPEAKERS, "Windowsドライバ : Quiet Corner", LOAD + SPEAKERS,
              "サンプルレート : 48.0kHz", "バッファ長 : 480 (10.000msec)", "フォーマット：Int 16bit", STARTED]
ASIO_KEYS = dict(rates=[44100, 48000], min=64, max=2048, preferred=512, granularity=1)
# The bare client takes the first endpoint.
ENDPOINTS = [{"name": SPEAKERS, "rates": [44100, 48000], "period": 100000, "min_period": 30000},
             {"name": "Quiet Corner", "rates": [96000]}]

# case, instrument, family, ASIO sample type, the log's lines in order
CASES = [
    ("int16", DEMO, "asio", "int16", ASIO_LOG),
    ("int32", DEMO, "asio", "int32", ASIO_LOG),
    ("float32", DEMO, "asio", "float32", ASIO_LOG),
    ("sdk", SDK, "asio", "int16", ASIO_LOG),
    ("wasapi", DEMO, "wasapi", "int16", WASAPI_LOG),
]


def check_tone(rec, onset, what):
    """Middle C in both channels, read past the attack (the demo's first tenth of a second reads up
    to 2 % sharp) in one of two spans: a focus flap may have pressed the key again in the first."""
    seen, length = [], rec.rate // 10
    for start in (onset + length, onset + 3 * length):
        span = [(rec.rms(c, start, start + length), rec.tone_frequency(start, length, c)) for c in (0, 1)]
        seen.append(span)
        if start + length <= rec.frames and all(
                level > 0.0005 * rec.full_scale and abs(f - MIDDLE_C) <= MIDDLE_C * 0.01 for level, f in span):
            print("%s: %s" % (what, ", ".join("%.2f Hz at rms %.4f" % (f, l / rec.full_scale) for l, f in span)))
            return
    check(False, "%s: (rms, Hz) of both channels in both spans: %r" % (what, seen))


def falls_away(rec):
    """Whether the level (10 ms blocks) falls to a third within 30 ms somewhere: a held note decays
    by far less in that time."""
    step = rec.rate // 100
    levels = [rec.rms(0, i, i + step) for i in range(0, rec.frames - step, step)]
    return any(a > 0.0005 * rec.full_scale and b < a / 3 for a, b in zip(levels, levels[3:]))


def press_c(s, w, driver, falls=True):
    """Holds C half a second past its first sound, releases it, and waits until the note has fallen
    away (on a busy machine the release may reach the program seconds late; Wine now and then moves
    the focus away and back meanwhile, which releases the note early and presses it again) and
    faded; returns the recording's length just before the release."""
    mark = driver.frames()
    s.keydown_until(w, "c", lambda: driver.heard_since(mark))
    time.sleep(0.5)
    release = driver.frames()
    s.keyup(w, "c")
    if falls:
        wait_for(lambda: falls_away(driver.recording(mark)), 15, 0.2, "the note to fall away after its release")
    wait_for(lambda: driver.quiet(0.25, 0.009), 10, 0.1, "the note to fade after its release")
    return release


def restart(s, p, w, driver):
    s.post("HostWindow", 0x400)
    wait_for(lambda: s.log_text().count(STARTED) >= 2, 30, what="the restart")
    after = s.log_text().split(RESTART, 1)[1]
    check(PROBING not in after and LOAD + SPEAKERS in after, "the restart did not reopen the endpoint:\n" + after)
    mark = driver.frames()
    release = press_c(s, w, driver)
    wait_for(lambda: driver.frames() >= mark + 10 * 48000 or p.poll() is not None, 30, 0.2, "ten seconds of playing")
    return [release]


def play(s, exe, case, driver, shown=lambda: None):
    name, plugin, family, kind, lines = case
    p = s.start(exe)
    s.wait_log(STARTED, 60, proc=p)
    w = s.wait_window("^Pomaro$", 60, proc=p)
    shown()
    wait_for(lambda: driver.frames() >= 48000, 60, 0.1, "a second of playing before the key")
    before = driver.frames()
    releases = [press_c(s, w, driver, plugin != SDK)] + (restart(s, p, w, driver) if family == "wasapi" else [])
    s.key_until(w, "alt+F4", lambda: p.poll() is not None)
    check(p.returncode == 0, "exit code %r" % p.returncode)

    log = s.log_text()
    at = 0
    for line in lines:
        at = log.find(line, at)
        check(at >= 0, "missing or out of order: %r\n%s" % (line, log))
    check(family == "wasapi" or "Windowsドライバ" not in log, "a WASAPI endpoint was listed:\n" + log)
    logged = s.log_lines()
    check(LOADED in logged and UNLOADED in logged[logged.index(LOADED):], "no load, then unload:\n" + log)
    check(not any("エラー" in l or "失敗" in l for l in logged), "the log reports a failure:\n" + log)
    rec = driver.recording()
    check(rec.format == kind, "recorded %s, not %s" % (rec.format, kind))
    noise = [i for i in range(before) if rec.left[i] or rec.right[i]]
    check(plugin != SDK or not noise, "%d of the %d frames before the key are not silence" % (len(noise), before))
    # A press may show more than one onset (see press_c).
    onsets, bounds = rec.onsets(0.01 * rec.full_scale, rec.rate // 5), [before] + releases
    for n, release in enumerate(releases):
        mine = [o for o in onsets if bounds[n] <= o < release]
        check(mine, "no note for key press %d: onsets %r, releases %r" % (n, onsets, releases))
        check_tone(rec, mine[0], "%s note %d" % (name, n))
    if family == "wasapi":
        stats = driver.stats()
        check(stats["periods"] >= 900, "the restarted stream ran %d periods" % stats["periods"])


def main():
    for family in ("asio", "wasapi"):
        with Session("sound_" + family, lang="ja_JP.UTF-8") as s:
            for case in (c for c in CASES if c[2] == family):
                wav = os.path.join(s.dir, case[0] + ".wav")
                if family == "asio":
                    s.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "")  # no WASAPI endpoint at all
                    driver = register_test_asio(s, wav_path=wav, type=case[3], **ASIO_KEYS)
                else:
                    driver = register_test_endpoint(s, wav, endpoints=ENDPOINTS)
                play(s, install_program(os.path.join(s.dir, case[0]), case[1]), case, driver)


if __name__ == "__main__":
    run_test(main)
