"""The audio driver dialog, opened while the test endpoint plays, switches to the test ASIO driver
with Apply, by name (no probing), and a key then sounds through it; reopened, it switches back to
the endpoint with OK."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from drivers import register_test_asio, register_test_endpoint  # noqa: E402
from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test, wait_for  # noqa: E402

TITLE = "オーディオドライバ設定"
ASIO, SPEAKERS = "Pomaro Test ASIO", "Test Speakers"
CHANGE, STARTED = "オーディオドライバを変更します。", "オーディオ出力を開始しました。"
OK, CANCEL, WASAPI_TYPE, ASIO_TYPE, COMBO, CURRENT, SIZE, PANEL, APPLY = 1, 2, 1001, 1002, 1004, 1005, 1007, 1009, 1010


def read_dialog(s):
    """{id: {rect, enabled, checked, text}} plus "thumb"; None without the dialog."""
    r = s.wine([os.path.join(BIN_DIR, "dialogprobe.exe"), TITLE], timeout=60)
    if r.returncode != 0:
        return None
    controls = {}
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        head, _, text = line.rstrip("\r").partition("\t")
        v = head.split()
        if v and v[0] == "thumb":
            controls["thumb"] = {"x": int(v[1]), "y": int(v[2]), "pos": int(v[3]), "last": int(v[4])}
        elif len(v) == 7:
            controls[int(v[0])] = {"rect": tuple(map(int, v[1:5])), "enabled": v[5] == "1", "checked": v[6] == "1",
                                   "text": text}
    return controls


def click(s, control, then):
    """Clicks a control of the dialog until the dialog read back passes then() (False: it has closed)."""
    def done():
        d = read_dialog(s)
        return d is None if then is False else d if d and then(d) else None
    s.probe("click", TITLE, control)
    return wait_for(done, 30, 0.3, "the dialog after a click on %d" % control)


def changed(s, mark, *texts):
    """Waits for a driver change after mark and checks its lines in order."""
    s.wait_log(CHANGE + r"[\s\S]*" + STARTED, 30)
    at = mark
    for text in (CHANGE,) + texts + (STARTED,):
        found = s.log_text().find(text, at)
        check(found >= 0, "%r missing in order:\n%s" % (text, s.log_text()[mark:]))
        check(text != texts[0] or "オーディオドライバを列挙します。" not in s.log_text()[at:found],
              "the driver was probed, not opened by name:\n" + s.log_text()[mark:])
        at = found


def main():
    with Session("dialog_switch", lang="ja_JP.UTF-8") as s:
        register_test_endpoint(s, os.path.join(s.dir, "endpoint.wav"), name=SPEAKERS, rates=[48000])
        asio = register_test_asio(s, wav_path=os.path.join(s.dir, "asio.wav"), name=ASIO, type="int32",
                                  rates=[44100, 48000], min=64, max=2048, preferred=256, granularity=-1)
        p = s.start(install_program(os.path.join(s.dir, "Pomaro"), os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")))
        s.wait_log("オーディオドライバをロードします : %s[\\s\\S]*%s" % (SPEAKERS, STARTED), 60, proc=p)
        frame = s.wait_window("^Pomaro$", 60, proc=p)
        try:
            switch(s, frame, asio)
        except Exception:
            print("program log:\n" + s.log_text())
            raise
        s.key_until(frame, "alt+F4", lambda: p.poll() is not None)


def switch(s, frame, asio):
    # Opened on the Windows driver in use; nothing to apply yet.
    s.post("HostWindow", 0x111, 40002)
    d = wait_for(lambda: read_dialog(s), 30, 0.3, "the audio driver dialog")
    check(d[WASAPI_TYPE]["checked"] and not d[ASIO_TYPE]["checked"], "the Windows driver is not the checked type")
    check(d[CURRENT]["text"] == "Windowsドライバ：" + SPEAKERS and d[COMBO]["text"] == SPEAKERS,
          "current driver %r, combo %r" % (d[CURRENT]["text"], d[COMBO]["text"]))
    check(not d[OK]["enabled"] and not d[APPLY]["enabled"] and d[CANCEL]["enabled"], "buttons at opening: %r" % d)
    check(not d[PANEL]["enabled"], "a WASAPI endpoint has no control panel")

    d = click(s, ASIO_TYPE, lambda c: c[APPLY]["enabled"])
    check(d[COMBO]["text"] == ASIO, "the ASIO list shows %r" % d[COMBO]["text"])
    mark = len(s.log_text())
    d = click(s, APPLY, lambda c: c[CURRENT]["text"].startswith("ASIO"))
    changed(s, mark, "オーディオドライバをロードします : " + ASIO)
    check(d[CURRENT]["text"] == "ASIOドライバ：" + ASIO and d[ASIO_TYPE]["checked"], "current %r" % d[CURRENT]["text"])
    check(not d[APPLY]["enabled"] and not d[OK]["enabled"], "Apply did not disable itself")
    # A driver of powers of two: 64, 128, 256, 512, 1024, 2048; the 10 ms floor (480) rounds up to 512.
    check(d["thumb"]["last"] == 5, "64..2048 in powers of two is 6 positions, not %d" % (d["thumb"]["last"] + 1))
    check(d[SIZE]["text"] == "512" and d["thumb"]["pos"] == 3, "size %r at %d" % (d[SIZE]["text"], d["thumb"]["pos"]))
    click(s, CANCEL, False)

    sound = asio.frames()
    s.keydown_until(frame, "c", lambda: asio.heard_since(sound))
    s.keyup(frame, "c")

    # Back to the Windows driver with OK, which applies and closes.
    s.post("HostWindow", 0x111, 40002)
    wait_for(lambda: read_dialog(s), 30, 0.3, "the audio driver dialog")
    click(s, WASAPI_TYPE, lambda c: c[OK]["enabled"])
    mark = len(s.log_text())
    click(s, OK, False)
    changed(s, mark, "オーディオドライバをロードします : " + SPEAKERS)


if __name__ == "__main__":
    run_test(main)
