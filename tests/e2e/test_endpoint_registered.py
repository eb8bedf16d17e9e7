"""The test endpoint registered over the system's device enumerator: a program's
CoCreateInstance gets our enumerator, our endpoints and our recording."""
import os

from drivers import client_exe, parse_report, register_test_endpoint
from pomaro_e2e import Session, check, run_test


def main():
    with Session("endpoint_registered") as s:
        wav = os.path.join(s.dir, "render.wav")
        ep = register_test_endpoint(s, wav_path=wav, endpoints=[
            {"name": "Test Speakers", "rates": [44100, 48000]},
            {"rates": [48000]},                                      # no readable name
            {"name": "\u30c6\u30b9\u30c8\u51fa\u529b", "rates": [96000]},  # テスト出力
            {"name": "Unplugged", "state": "unplugged"},
        ])
        r = s.wine([client_exe(), "list"], timeout=60)
        report = parse_report(r.stdout)
        check(r.returncode == 0, "list failed: %r" % report)
        check(report.get("server", "").lower().endswith("pomarotestendpoint.dll"),
              "CoCreateInstance was not answered by the test endpoint: %r" % report)
        names = [e[1] for e in report.get("endpoints", [])]
        check(names == ["Test Speakers", "<none>", "\u30c6\u30b9\u30c8\u51fa\u529b"], "endpoints %r" % names)

        # The bare client renders through the registered endpoint into the recording.
        bare = ep.run_bare_client(seconds=1.0, record=True)
        check(bare["buffer_frames"] == 480, "bare client %r" % bare)
        # A busy machine makes some periods late (and a late one may stretch the run); a
        # counter that calls every period late is the endpoint's fault.
        check(abs(bare["periods"] - 100) <= 5 + bare["late_periods"], "about 100 periods of 10 ms in a second: %r" % bare)
        check(bare["late_periods"] < bare["periods"] // 2, "most periods are late: %r" % bare)
        stats = ep.stats()
        check(stats["frames"] == bare["frames"] == bare["releases"] * 480, "stats %r vs %r" % (stats, bare))
        check(stats["periods"] == bare["periods"], "stats file and interface agree: %r" % stats)
        rec = ep.recording()
        check(rec.rate == 48000 and rec.frames == stats["frames"], "WAV %d Hz, %d frames" % (rec.rate, rec.frames))
        check(rec.peak(0) == 0 and rec.peak(1) == 0, "the bare client renders silence")

        # Without recording, the WAV stays as it was.
        again = ep.run_bare_client(seconds=0.3)
        check(again["periods"] >= 25, "second run %r" % again)
        check(ep.recording().frames == rec.frames, "an unrecorded run left the WAV alone")


run_test(main)
