"""The release zip tools/package.sh makes of this build's bin/. "contents": named after the version, it
holds exactly the program, its instrument, the players' README and the licence texts; both binaries import
only system DLLs, the stripped instrument keeps its entry point, the version block carries the version, and
packaging twice gives the same bytes. "first_minute": unpacked into a fresh Wine prefix (made by wineboot)
with only the test ASIO driver, it plays as test_sound.py's cases do and shows the editor."""
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

from drivers import register_test_asio
from pomaro_e2e import SOURCE_DIR, Session, check, run_test, wait_for
from test_sound import ASIO_KEYS, ASIO_LOG, DEMO, play

BUILD_DIR, VERSION, WORK = (os.environ.get("POMARO_" + k, "") for k in ("BUILD_DIR", "VERSION", "RELEASE_WORK"))
OBJDUMP = os.environ.get("POMARO_OBJDUMP", "x86_64-w64-mingw32-objdump")
TOP = "Pomaro-%s-win64" % VERSION
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


def fixed_version(path):
    """(file version, product version) from the VS_FIXEDFILEINFO block, as "a.b.c.d"."""
    data = read(path)
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    check(at >= 0, "%s has no version block" % path)
    v = struct.unpack_from("<4I", data, at + 8)
    return tuple("%d.%d.%d.%d" % (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF) for hi, lo in (v[:2], v[2:]))


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
    check(re.search(r"\]\s+GetPluginFactory\s*$", objdump(os.path.join(root, "VST3", "Pomaro.vst3")), re.M),
          "the stripped instrument lost GetPluginFactory")
    four = ".".join((VERSION.split(".") + ["0"] * 4)[:4])
    got = fixed_version(os.path.join(root, "Pomaro.exe"))
    check(got == (four, four), "version block %r, project version %s" % (got, VERSION))

    sdk = re.search(r"^VST3_SDK_DIR:\w+=(.+)$", read(os.path.join(BUILD_DIR, "CMakeCache.txt"), "r"), re.M)
    check(sdk, "no VST3_SDK_DIR in the build's cache")
    for part in ("base", "pluginterfaces", "public.sdk"):
        check(read(os.path.join(sdk.group(1), part, "LICENSE.txt")) ==
              read(os.path.join(root, "licenses", "VST3-SDK-%s-LICENSE.txt" % part)),
              "the SDK's %s licence text was altered" % part)

    readme = read(os.path.join(root, "README.txt"))
    check(readme.startswith(b"\xef\xbb\xbf"), "README.txt has no UTF-8 byte-order mark")
    check(b"\n" not in readme.replace(b"\r\n", b""), "README.txt has bare line feeds")
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

    again = package(os.path.join(work, "again"))
    check(read(again) == read(path), "packaging the same build twice differs")


def first_minute(work):
    path = package(os.path.join(work, "out"))
    with Session("session", lang="ja_JP.UTF-8", fresh_prefix=True, root=work) as s:
        dest = os.path.join(s.user_dir, "Downloads")  # where a user would unpack a download
        with zipfile.ZipFile(path) as z:
            z.extractall(dest)
        # The host machine's own sound system stays out of the prefix: the test driver is the
        # only device, as on a machine with one ASIO card and no free output.
        s.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "")
        driver = register_test_asio(s, wav_path=os.path.join(s.dir, "asio.wav"), type="int32", **ASIO_KEYS)
        editor = []

        def editor_shown():
            wait_for(lambda: (s.window_info("HostWindow") or {}).get("visible"), 30, what="the frame to be shown")
            editor.extend(c for c in s.children("HostWindow") if c[0] == "VstWindow" and c[3] >= 100)
        play(s, os.path.join(dest, TOP, "Pomaro.exe"), ("the release zip", DEMO, "asio", "int32", ASIO_LOG), driver,
             editor_shown)
        check(editor, "no editor in the frame")


if __name__ == "__main__":
    mode = sys.argv[1]
    work = os.path.join(WORK, mode)
    shutil.rmtree(work, ignore_errors=True)
    run_test(lambda: {"contents": contents, "first_minute": first_minute}[mode](work))
