"""The README's first command, `bash tools/demo.sh`, in a copy of the tracked files (no build/,
out/ or fetched SDK) with an environment that says nothing of this build: it sets up the SDK,
builds and plays; out/demo/ then holds a screenshot, a log with the driver and the instrument
loaded and unloaded and no failure, and a WAV in which C, B and M sound middle C, E and G.
Shared, so that it costs minutes: the compiler cache and the SDK tarballs (the fetch script
checks them against cmake/vst3sdk.md5 as its own downloads). Skipped without git."""
import os
import shutil
import subprocess
import sys

from drivers import Wav
from pomaro_e2e import ASIO, LOAD, LOADED, SOURCE_DIR, STARTED, UNLOADED, check, run_test

NOTES = (261.63, 329.63, 392.00)


def main():
    r = subprocess.run(["git", "-c", "safe.directory=*", "-C", SOURCE_DIR, "ls-files", "-z"], capture_output=True)
    if r.returncode != 0:
        print("not a git checkout: the files a clone would hold are unknown")
        sys.exit(77)
    work = os.path.join(os.environ["POMARO_RELEASE_WORK"], "fresh_clone")
    shutil.rmtree(work, ignore_errors=True)
    tree = os.path.join(work, "pomaro")
    # As the working tree has them: an uncommitted change is what is tested.
    for rel in filter(None, r.stdout.decode("utf-8").split("\0")):
        if os.path.lexists(os.path.join(SOURCE_DIR, rel)):  # not a deletion not yet committed
            os.makedirs(os.path.dirname(os.path.join(tree, rel)), exist_ok=True)
            shutil.copy2(os.path.join(SOURCE_DIR, rel), os.path.join(tree, rel), follow_symlinks=False)
    os.makedirs(os.path.join(tree, "third_party", "downloads"))
    with open(os.path.join(SOURCE_DIR, "cmake", "vst3sdk.md5")) as f:
        for name in (line.split()[1] for line in f if line.strip()):
            have = os.path.join(SOURCE_DIR, "third_party", "downloads", name)
            if os.path.exists(have):
                shutil.copy2(have, os.path.join(tree, "third_party", "downloads"))
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("POMARO_", "WINE", "CCACHE_BASEDIR")) and k not in ("PYTHONPATH", "DISPLAY")}
    # Output through a file: Wine's system processes inherit it and outlive the script.
    with open(os.path.join(work, "demo.log"), "w+b") as f:
        p = subprocess.run(["bash", "tools/demo.sh"], cwd=tree, env=env, stdin=subprocess.DEVNULL, stdout=f,
                           stderr=subprocess.STDOUT, timeout=1500)
        f.seek(0)
        print(f.read().decode("utf-8", "replace")[-6000:])
    check(p.returncode == 0, "bash tools/demo.sh ended with %d" % p.returncode)
    out = os.path.join(tree, "out", "demo")

    shot = os.path.join(out, "screenshot.png")
    size = subprocess.run(["identify", "-format", "%w %h %k", shot], capture_output=True, text=True).stdout.split()
    # The editor and the strip bring hundreds of colours; an empty screen has one.
    check(size[:2] == ["1280", "1024"] and int(size[2]) > 50, "screenshot is %r (width, height, colours)" % size)

    with open(os.path.join(out, "PomaroApp.log"), "rb") as f:
        lines = [l[13:] for l in f.read().decode("cp932", "replace").split("\r\n") if l]
    for line in (LOAD + ASIO, STARTED, LOADED, UNLOADED):
        check(line in lines, "the log lacks %r:\n%s" % (line, "\n".join(lines)))
    check(not any("エラー" in l or "失敗" in l for l in lines), "the log reports a failure:\n%s" % "\n".join(lines))

    rec = Wav(os.path.join(out, "demo.wav"))
    played = []
    # A key pressed again by a focus flap under Wine sounds its note twice in a row.
    for onset in rec.onsets(0.01 * rec.full_scale, rec.rate // 5):
        f = rec.tone_frequency(onset + rec.rate // 100, rec.rate // 10)
        if not played or abs(f - played[-1]) > played[-1] * 0.01:
            played.append(f)
    check(len(played) == len(NOTES) and all(abs(f - hz) <= hz * 0.01 for f, hz in zip(played, NOTES)),
          "the WAV plays %r Hz, not %r" % (played, NOTES))

run_test(main)
