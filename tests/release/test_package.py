"""The release zip tools/package.sh makes of this build's bin/. "contents": named after the version, it
holds exactly the program, its instrument, the players' README and the licence texts; both binaries import
only system DLLs, the version block carries the version, and packaging twice gives the same bytes.
"first_minute": unpacked into a fresh Wine prefix (made by wineboot) with only the test ASIO driver, the
stripped program and instrument play as test_sound.py's cases do.
"fresh_clone": the README's first command, `bash tools/demo.sh`, in a copy of the tracked files (no build/,
out/ or fetched SDK) with an environment that says nothing of this build: it sets up the SDK, builds and
plays; out/demo/ then holds a screenshot, a log with the driver and the instrument loaded and unloaded and
no failure, and a WAV in which C, B and M sound middle C, E and G. Shared, so that it costs minutes: the
compiler cache and the SDK tarballs (the fetch script checks them against cmake/vst3sdk.md5 as its own
downloads). Skipped without git."""
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

from drivers import Wav, register_test_asio
from pomaro_e2e import ASIO, LOAD, LOADED, SOURCE_DIR, STARTED, UNLOADED, Session, check, run_test
from test_sound import ASIO_KEYS, ASIO_LOG, DEMO, play

BUILD_DIR, VERSION, WORK = (os.environ.get("POMARO_" + k, "") for k in ("BUILD_DIR", "VERSION", "RELEASE_WORK"))
OBJDUMP = os.environ.get("POMARO_OBJDUMP", "x86_64-w64-mingw32-objdump")
TOP = "Pomaro-%s-win64" % VERSION
NOTES = (261.63, 329.63, 392.00)
# DLLs that every 64-bit Windows since 10 has in System32. A compiler runtime (libstdc++-6,
# libgcc_s_seh-1, libwinpthread-1) or anything else means the zip would not run on a clean machine.
SYSTEM_DLLS = {
    "advapi32.dll", "avrt.dll", "comctl32.dll", "comdlg32.dll", "d2d1.dll", "dwrite.dll", "gdi32.dll", "kernel32.dll",
    "msvcrt.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll",
    "version.dll", "windowscodecs.dll", "winmm.dll", "ws2_32.dll",
}


def package(out_dir):
    """The binary zip's path."""
    os.makedirs(out_dir, exist_ok=True)
    r = subprocess.run([os.path.join(SOURCE_DIR, "tools", "package.sh"), BUILD_DIR, out_dir], capture_output=True)
    check(r.returncode == 0, "package.sh failed:\n%s" % r.stderr.decode(errors="replace"))
    paths = r.stdout.decode().split()
    check(len(paths) == 2, "package.sh printed %r" % paths)
    return paths[0]


def objdump(path):
    r = subprocess.run([OBJDUMP, "-p", path], capture_output=True, text=True, errors="replace")
    check(r.returncode == 0, "objdump -p %s failed: %s" % (path, r.stderr))
    delayed = re.search(r"^Entry d ([0-9a-f]+) ([0-9a-f]+) Delay Import Directory", r.stdout, re.M)
    check(delayed and int(delayed.group(2), 16) == 0, "%s has delay-load imports, which are not read here" % path)
    return r.stdout


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def contents(work):
    path = package(os.path.join(work, "out"))
    check(os.path.basename(path) == TOP + ".zip", "zip named %s for version %s" % (path, VERSION))
    with zipfile.ZipFile(path) as z:
        names = sorted(i.filename for i in z.infolist() if not i.is_dir())
        z.extractall(os.path.join(work, "unpacked"))
    expected = sorted(TOP + "/" + n for n in (
        "Pomaro.exe", "VST3/Pomaro.vst3", "README.txt", "LICENSE.txt", "SOURCE-OFFER.txt", "licenses/GPL-3.0.txt",
        "licenses/THIRD-PARTY-NOTICES.txt", "licenses/VST3-SDK-base-LICENSE.txt",
        "licenses/VST3-SDK-pluginterfaces-LICENSE.txt", "licenses/VST3-SDK-public.sdk-LICENSE.txt"))
    check(names == expected, "zip holds %r" % names)
    root = os.path.join(work, "unpacked", TOP)

    for rel in ("Pomaro.exe", "VST3/Pomaro.vst3"):
        dlls = [d.lower() for d in re.findall(r"^\s*DLL Name: (\S+)\s*$", objdump(os.path.join(root, rel)), re.M)]
        print("%s imports: %s" % (rel, ", ".join(dlls)))
        check("kernel32.dll" in dlls, "%s: no import table read" % rel)
        check(set(dlls) <= SYSTEM_DLLS, "%s needs DLLs a clean Windows lacks: %s" % (rel, set(dlls) - SYSTEM_DLLS))
    four = ".".join((VERSION.split(".") + ["0"] * 4)[:4])
    # File and product version from the VS_FIXEDFILEINFO block (without one, what is read fails the check).
    exe = read(os.path.join(root, "Pomaro.exe"))
    v = struct.unpack_from("<4I", exe, exe.find(struct.pack("<I", 0xFEEF04BD)) + 8)
    got = tuple("%d.%d.%d.%d" % (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF) for hi, lo in (v[:2], v[2:]))
    check(got == (four, four), "version block %r, project version %s" % (got, VERSION))

    sdk = re.search(r"^VST3_SDK_DIR:\w+=(.+)$", read(os.path.join(BUILD_DIR, "CMakeCache.txt"), "r"), re.M)
    for part in ("base", "pluginterfaces", "public.sdk"):
        check(sdk and read(os.path.join(sdk[1], part, "LICENSE.txt")) == read(
            os.path.join(root, "licenses", "VST3-SDK-%s-LICENSE.txt" % part)), "the SDK's %s licence text" % part)

    readme = read(os.path.join(root, "README.txt"))
    check(readme.startswith(b"\xef\xbb\xbf") and b"\n" not in readme.replace(b"\r\n", b""),
          "README.txt lacks its UTF-8 byte-order mark or has bare line feeds")
    for phrase in ("設定(&C) > オーディオドライバ(&A)...", "Documents\\Pomaro\\PomaroApp.log", "Page Up"):
        check(phrase in readme.decode("utf-8"), "README.txt does not mention %r" % phrase)

    offer = read(os.path.join(root, "SOURCE-OFFER.txt"), "r")
    source_zip = "Pomaro-%s-source.zip" % VERSION
    check(source_zip in offer and "@VERSION@" not in offer, "the source offer names no source archive")
    with zipfile.ZipFile(os.path.join(os.path.dirname(path), source_zip)) as z:
        src = set(z.namelist())
    for need in ("CMakeLists.txt", "app/Main.cpp", "plugins/demo/CMakeLists.txt", "cmake/vst3sdk.md5",
                 "third_party/downloads/vst3sdk_3.7.10.14+~4.13.3.orig-pluginterfaces.tar.gz"):
        check("Pomaro-%s-source/%s" % (VERSION, need) in src, "the source archive lacks %s" % need)

    check(read(package(os.path.join(work, "again"))) == read(path), "packaging the same build twice differs")


def first_minute(work):
    path = package(os.path.join(work, "out"))
    with Session("session", lang="ja_JP.UTF-8", fresh_prefix=True, root=work) as s:
        dest = os.path.join(s.user_dir, "Downloads")  # where a user would unpack a download
        with zipfile.ZipFile(path) as z:
            z.extractall(dest)
        driver = register_test_asio(s, alone=True, type="int32", **ASIO_KEYS)
        play(s, os.path.join(dest, TOP, "Pomaro.exe"), ("the release zip", DEMO, "asio", "int32", ASIO_LOG), driver)


def fresh_clone(work):
    r = subprocess.run(["git", "-c", "safe.directory=*", "-C", SOURCE_DIR, "ls-files", "-z"], capture_output=True)
    if r.returncode != 0:
        print("not a git checkout: the files a clone would hold are unknown")
        sys.exit(77)
    tree = os.path.join(work, "pomaro")
    # As the working tree has them: an uncommitted change is what is tested.
    for rel in filter(None, r.stdout.decode("utf-8").split("\0")):
        if os.path.lexists(os.path.join(SOURCE_DIR, rel)):  # not a deletion not yet committed
            os.makedirs(os.path.dirname(os.path.join(tree, rel)), exist_ok=True)
            shutil.copy2(os.path.join(SOURCE_DIR, rel), os.path.join(tree, rel), follow_symlinks=False)
    os.makedirs(downloads := os.path.join(tree, "third_party", "downloads"))
    with open(os.path.join(SOURCE_DIR, "cmake", "vst3sdk.md5")) as f:
        for name in (line.split()[1] for line in f if line.strip()):
            if os.path.exists(have := os.path.join(SOURCE_DIR, "third_party", "downloads", name)):
                shutil.copy2(have, downloads)
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
        log = f.read().decode("cp932", "replace")
    check(all(l in log for l in (LOAD + ASIO, STARTED, LOADED, UNLOADED)) and not re.search("エラー|失敗", log),
          "the log lacks a line or reports a failure:\n" + log)

    rec = Wav(os.path.join(out, "demo.wav"))
    played = []
    # A key pressed again by a focus flap under Wine sounds its note twice in a row.
    for onset in rec.onsets():
        f = rec.tone_frequency(onset + rec.rate // 100, rec.rate // 10)
        if not played or abs(f - played[-1]) > played[-1] * 0.01:
            played.append(f)
    check(len(played) == len(NOTES) and all(abs(f - hz) <= hz * 0.01 for f, hz in zip(played, NOTES)),
          "the WAV plays %r Hz, not %r" % (played, NOTES))


if __name__ == "__main__":
    mode = sys.argv[1]
    work = os.path.join(WORK, mode)
    shutil.rmtree(work, ignore_errors=True)
    run_test(lambda: {"contents": contents, "first_minute": first_minute, "fresh_clone": fresh_clone}[mode](work))
