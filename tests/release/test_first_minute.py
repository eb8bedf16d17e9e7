"""A user's first minute with the release zip: unpacked into a fresh Wine prefix (made
by wineboot, no test settings) on a fresh display, with only the test ASIO driver
installed, Pomaro.exe shows the instrument's editor, the key C sounds middle C through
the driver, Alt+F4 ends the run with code 0, and the log shows the load and unload."""
import os
import shutil
import time
import zipfile

from drivers import register_test_asio
from pomaro_e2e import BIN_DIR, Session, check, run_test, wait_for
from release_zip import VERSION, WORK, package
from test_asio_sound import check_recording


def main():
    work = os.path.join(WORK, "first_minute")
    shutil.rmtree(work, ignore_errors=True)
    path = package(os.path.join(work, "out"))
    with Session("session", lang="ja_JP.UTF-8", fresh_prefix=True, root=work) as s:
        # Where a user would unpack a download: a folder of their own on C:.
        dest = os.path.join(s.user_dir, "Downloads")
        os.makedirs(dest, exist_ok=True)
        with zipfile.ZipFile(path) as z:
            z.extractall(dest)
        exe = os.path.join(dest, "Pomaro-%s-win64" % VERSION, "Pomaro.exe")
        # The host machine's own sound system stays out of the prefix: the test driver
        # is the only device, as on a machine with one ASIO card and no free output.
        s.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "")
        driver = register_test_asio(s, os.path.join(BIN_DIR, "PomaroTestAsio.dll"),
                                    os.path.join(s.dir, "asio.wav"), type="int32",
                                    rates=[44100, 48000], min=64, max=2048, preferred=512, granularity=1)

        p = s.start(exe)
        s.wait_log(r"オーディオ出力を開始しました。", 90, proc=p)
        w = s.wait_window("^Pomaro$", 60, proc=p)
        wait_for(lambda: (s.window_info("HostWindow") or {}).get("visible"), 30, what="the frame to be shown")
        kids = {c[0]: c for c in s.children("HostWindow")}
        check("VstWindow" in kids and kids["VstWindow"][3] >= 100, "no editor in the frame: %r" % kids)
        mark = driver.frames()
        s.keydown_until(w, "c", lambda: driver.heard_since(mark))
        time.sleep(0.5)
        s.keyup(w, "c")
        s.key_until(w, "alt+F4", lambda: p.poll() is not None)
        check(p.returncode == 0, "exit code %r" % p.returncode)

        lines = [l[13:] for l in s.log_text().split("\r\n") if l]
        print("\n".join(lines))
        for line in ("オーディオドライバをロードします : %s" % driver.name,
                     "VSTiプラグインを読み込みました : VST3\\Pomaro.vst3",
                     "VSTiプラグインをアンロードしました。"):
            check(line in lines, "the log lacks %r" % line)
        check(lines.index("VSTiプラグインを読み込みました : VST3\\Pomaro.vst3")
              < lines.index("VSTiプラグインをアンロードしました。"), "unloaded before loaded")
        check(not any("エラー" in l or "失敗" in l for l in lines), "the log reports a failure")

        check_recording(driver.recording(), "the release zip")


run_test(main)
