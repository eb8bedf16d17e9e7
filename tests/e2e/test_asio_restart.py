"""A driver's reset request, and a buffer-size change to another size, rebuild the
stream on the UI thread with the same ASIO driver reopened by name; a size change to
the current size asks for nothing."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from drivers import register_test_asio  # noqa: E402
from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test  # noqa: E402

RESTART = "オーディオドライバを再起動します。"
LOADED = "オーディオドライバをロードします : Pomaro Test ASIO"


def run(s, exe, name, restarts, **config):
    driver = register_test_asio(s, os.path.join(BIN_DIR, "PomaroTestAsio.dll"),
                                os.path.join(s.dir, "asio-%s.wav" % name), preferred=512, **config)
    p = s.start(exe)
    w = s.wait_window("^Pomaro$", 60, proc=p)
    s.wait_log("オーディオ出力を開始しました。", 30, proc=p)
    if restarts:
        s.wait_log(RESTART + r"[\s\S]*オーディオ出力を開始しました。", 30, proc=p)
    time.sleep(1.5)  # the message goes out after 20 periods (about 0.2 s)
    s.key_until(w, "alt+F4", lambda: p.poll() is not None)
    log = s.log_text()
    check(log.count(RESTART) == restarts, "%s: %d restarts, expected %d:\n%s" % (name, log.count(RESTART), restarts, log))
    check(log.count(LOADED) == 1 + restarts, "%s: driver loaded %d times:\n%s" % (name, log.count(LOADED), log))
    if restarts:
        after = log[log.index(RESTART):]
        check("オーディオドライバを列挙します。" not in after, "%s: the restart probed again:\n%s" % (name, log))
        check("バッファ長 : 512 " in after, "%s: the restart changed the buffer size:\n%s" % (name, log))
    stats = driver.stats()
    check(stats["messages_sent"] == 1, "%s: driver sent %d messages" % (name, stats["messages_sent"]))
    return stats


def main():
    plugin = os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")
    with Session("asio_restart", lang="ja_JP.UTF-8") as s:
        s.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "")
        exe = install_program(os.path.join(s.dir, "Pomaro"), plugin)
        stats = run(s, exe, "reset", 1, reset_after=20)
        check(stats["reset_answer"] == 1, "reset request answered %d" % stats["reset_answer"])
        check(stats["instances"] >= 3, "the driver was not instantiated again (%d)" % stats["instances"])
        run(s, exe, "other_size", 1, size_change_after=20, size_change_to=256)
        stats = run(s, exe, "same_size", 0, size_change_after=20)
        check(stats["size_change_answer"] == 0, "size change answered %d" % stats["size_change_answer"])


if __name__ == "__main__":
    run_test(main)
