"""The audio driver dialog, opened while the test endpoint plays, switches to the test ASIO driver
by name (no probing) and a key then sounds through it; reopened, the buffer size thumb dragged to
its end and OK reopen the same driver at its largest size. Leaves dialog.png, the open dialog."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from drivers import register_test_asio, register_test_endpoint  # noqa: E402
from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test, wait_for  # noqa: E402

TITLE = "オーディオドライバ設定"
WM_COMMAND = 0x111
MENU_AUDIO_DRIVER = 40002
ASIO_NAME = "Pomaro Test ASIO"
ENDPOINT_NAME = "Test Speakers"


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
            controls[int(v[0])] = {"rect": tuple(int(x) for x in v[1:5]), "enabled": v[5] == "1",
                                   "checked": v[6] == "1", "text": text}
    return controls


def open_dialog(s):
    s.post("HostWindow", WM_COMMAND, MENU_AUDIO_DRIVER, 0)
    return wait_for(lambda: read_dialog(s), 30, 0.3, "the audio driver dialog")


def click(s, control, evidence):
    left, top, right, bottom = control["rect"]
    dialog = s.wait_window("^%s$" % TITLE, 30)
    return s.click_until(dialog, (left + right) // 2, (top + bottom) // 2, evidence)


def dialog_where(s, test):
    return lambda: (lambda c: c if c and test(c) else None)(read_dialog(s))


def after(log, start, *texts):
    """Where the last of texts is, each found after the one before from start on."""
    for text in texts:
        start = log.find(text, start)
        check(start >= 0, "%r missing in order:\n%s" % (text, log))
    return start


def main():
    with Session("dialog_switch", lang="ja_JP.UTF-8") as s:
        try:
            run(s)
        except Exception:
            print("program log:\n" + s.log_text())
            raise


def run(s):
    plugin = os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")
    s.reg_add(r"HKCU\Software\Wine\X11 Driver", "Decorated", "N")
    s.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
    register_test_endpoint(s, wav_path=os.path.join(s.dir, "endpoint.wav"), name=ENDPOINT_NAME,
                           rates=[48000])
    asio = register_test_asio(s, wav_path=os.path.join(s.dir, "asio.wav"), name=ASIO_NAME, type="int32",
                              rates=[44100, 48000], min=64, max=2048, preferred=256, granularity=-1)
    exe = install_program(os.path.join(s.dir, "Pomaro"), plugin)
    p = s.start(exe)
    s.wait_log(r"オーディオドライバをロードします : %s" % ENDPOINT_NAME, 60, proc=p)
    s.wait_log(r"オーディオ出力を開始しました。", 30, proc=p)
    frame = s.wait_window("^Pomaro$", 60, proc=p)

    # Opened on the Windows driver in use; nothing to apply yet.
    d = open_dialog(s)
    time.sleep(0.5)
    s.screenshot(os.path.join(s.dir, "dialog.png"))
    check(d[1001]["checked"] and not d[1002]["checked"], "the Windows driver is not the checked type: %r" % d)
    check(d[1005]["text"] == "Windowsドライバ：%s" % ENDPOINT_NAME, "current driver %r" % d[1005]["text"])
    check(d[1004]["text"] == ENDPOINT_NAME, "combo shows %r" % d[1004]["text"])
    check(not d[1]["enabled"] and not d[1010]["enabled"] and d[2]["enabled"], "buttons at opening: %r" % d)
    check(not d[1009]["enabled"], "a WASAPI endpoint has no control panel")

    # ASIO driver, Apply.
    d = click(s, d[1002], dialog_where(s, lambda c: c[1010]["enabled"]))  # Apply enabled
    check(d[1004]["text"] == ASIO_NAME, "the ASIO list shows %r" % d[1004]["text"])
    mark = len(s.log_text())
    click(s, d[1010], lambda: "オーディオドライバを変更します。" in s.log_text()[mark:])
    s.wait_log(r"オーディオドライバを変更します。[\s\S]*オーディオ出力を開始しました。", 30, proc=p)
    log = s.log_text()
    change = after(log, mark, "オーディオドライバを変更します。")
    load = after(log, change, "オーディオドライバをロードします : %s" % ASIO_NAME)
    check("オーディオドライバを列挙します。" not in log[change:load], "the driver was probed, not opened by name:\n" + log[mark:])
    after(log, load, "オーディオ出力を開始しました。")
    d = wait_for(dialog_where(s, lambda c: c[1005]["text"].startswith("ASIO")), 10, 0.3,
                 "the dialog to show the ASIO driver")
    check(d[1005]["text"] == "ASIOドライバ：%s" % ASIO_NAME, "current driver %r" % d[1005]["text"])
    check(d[1002]["checked"], "the ASIO type is not checked")
    check(not d[1010]["enabled"] and not d[1]["enabled"], "Apply did not disable itself")
    # A driver of powers of two: 64, 128, 256, 512, 1024, 2048; the 10 ms floor (480)
    # rounds up to 512.
    check(d["thumb"]["last"] == 5, "64..2048 in powers of two is 6 positions, not %d" % (d["thumb"]["last"] + 1))
    check(d[1007]["text"] == "512" and d["thumb"]["pos"] == 3, "size %r at %d" % (d[1007]["text"], d["thumb"]["pos"]))
    print("after Apply: size %s, thumb %d of %d" % (d[1007]["text"], d["thumb"]["pos"], d["thumb"]["last"]))
    click(s, d[2], lambda: read_dialog(s) is None)

    # A computer key now sounds through the ASIO driver.
    sound = asio.frames()
    s.keydown_until(frame, "c", lambda: asio.heard_since(sound))
    s.keyup(frame, "c")

    # Drag the thumb to its end and press OK: the same driver again at 2048 frames.
    d = open_dialog(s)
    t = d["thumb"]
    left, top, right, bottom = d[1008]["rect"]
    print("trackbar %r, thumb %r" % (d[1008]["rect"], t))
    # The thumb's centre as this comctl32 lays it out; nearby points in case the
    # estimate is off (a press beside the thumb only pages it, which picks nothing).
    for dx in (0, -4, 4, -8, 8):
        s.xdotool("mousemove", t["x"] + dx, t["y"], "mousedown", 1)
        s.xdotool("mousemove", t["x"] + dx + 10, t["y"])
        s.xdotool("mousemove", right + 20, t["y"])
        s.xdotool("mouseup", 1)
        d = read_dialog(s)
        if d and d[1]["enabled"]:
            break
        print("no drag from x %d" % (t["x"] + dx))
    check(d and d[1]["enabled"], "no drag of the thumb enabled OK")
    check(d[1007]["text"] == "2048", "the dragged size reads %r" % d[1007]["text"])
    mark = len(s.log_text())
    click(s, d[1], lambda: read_dialog(s) is None)
    s.wait_log(r"オーディオドライバを変更します。[\s\S]*バッファ長 : 2048 [\s\S]*オーディオ出力を開始しました。", 30, proc=p)
    after(s.log_text(), mark, "オーディオドライバを変更します。", "オーディオドライバをロードします : %s" % ASIO_NAME,
          "バッファ長 : 2048 ")

    s.key_until(frame, "alt+F4", lambda: p.poll() is not None)
    print(s.log_text()[mark:])
    evidence = os.environ.get("POMARO_EVIDENCE_DIR")
    if evidence:
        os.makedirs(evidence, exist_ok=True)
        shutil.copy2(os.path.join(s.dir, "dialog.png"), os.path.join(evidence, "audio-driver-dialog.png"))


if __name__ == "__main__":
    run_test(main)
