"""The release zip: named after the build's version, holding exactly the program, its
instrument, the players' README and the licence texts; both binaries import only
system DLLs, the instrument keeps its entry point after stripping, the version block
carries the same version, and packaging the same build twice gives the same bytes."""
import hashlib
import os
import re
import shutil
import subprocess
import zipfile

from pomaro_e2e import check, run_test
from release_zip import BUILD_DIR, OBJDUMP, SYSTEM_DLLS, VERSION, WORK, fixed_version, imports, package


def sdk_dir():
    with open(os.path.join(BUILD_DIR, "CMakeCache.txt"), encoding="utf-8") as f:
        m = re.search(r"^VST3_SDK_DIR:\w+=(.*)$", f.read(), re.M)
    check(m and m.group(1), "no VST3_SDK_DIR in the build's cache")
    return m.group(1)


def main():
    work = os.path.join(WORK, "package")
    shutil.rmtree(work, ignore_errors=True)
    path = package(os.path.join(work, "out"))
    top = "Pomaro-%s-win64" % VERSION
    check(os.path.basename(path) == top + ".zip", "zip named %s for version %s" % (path, VERSION))

    with zipfile.ZipFile(path) as z:
        names = sorted(i.filename for i in z.infolist() if not i.is_dir())
        print("zip contents:\n  " + "\n  ".join("%8d  %s" % (z.getinfo(n).file_size, n) for n in names))
        z.extractall(os.path.join(work, "unpacked"))
    expected = sorted(top + "/" + n for n in (
        "Pomaro.exe", "VST3/Pomaro.vst3", "README.txt", "LICENSE.txt", "SOURCE-OFFER.txt",
        "licenses/GPL-3.0.txt", "licenses/THIRD-PARTY-NOTICES.txt",
        "licenses/VST3-SDK-base-LICENSE.txt", "licenses/VST3-SDK-pluginterfaces-LICENSE.txt",
        "licenses/VST3-SDK-public.sdk-LICENSE.txt"))
    check(names == expected, "zip holds %r" % names)
    root = os.path.join(work, "unpacked", top)

    for rel in ("Pomaro.exe", "VST3/Pomaro.vst3"):
        dlls = imports(os.path.join(root, rel))
        print("%s imports: %s" % (rel, ", ".join(dlls)))
        check("kernel32.dll" in (d.lower() for d in dlls), "%s: no import table read" % rel)
        foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
        check(not foreign, "%s needs DLLs a clean Windows lacks: %s" % (rel, foreign))

    exports = subprocess.run([OBJDUMP, "-p", os.path.join(root, "VST3", "Pomaro.vst3")],
                             stdout=subprocess.PIPE).stdout.decode(errors="replace")
    check(re.search(r"\]\s+GetPluginFactory\s*$", exports, re.M), "the stripped instrument lost GetPluginFactory")

    four = ".".join((VERSION.split(".") + ["0"] * 4)[:4])
    check(fixed_version(os.path.join(root, "Pomaro.exe")) == (four, four),
          "version block %r, project version %s" % (fixed_version(os.path.join(root, "Pomaro.exe")), VERSION))

    sdk = sdk_dir()
    for part in ("base", "pluginterfaces", "public.sdk"):
        with open(os.path.join(sdk, part, "LICENSE.txt"), "rb") as a, \
                open(os.path.join(root, "licenses", "VST3-SDK-%s-LICENSE.txt" % part), "rb") as b:
            check(a.read() == b.read(), "the SDK's %s licence text was altered" % part)

    with open(os.path.join(root, "README.txt"), "rb") as f:
        readme = f.read()
    check(readme.startswith(b"\xef\xbb\xbf"), "README.txt has no UTF-8 byte-order mark")
    check(b"\n" not in readme.replace(b"\r\n", b""), "README.txt has bare line feeds")
    text = readme.decode("utf-8")
    for phrase in ("設定(&C) > オーディオドライバ(&A)...", "Documents\\Pomaro\\PomaroApp.log", "Page Up"):
        check(phrase in text, "README.txt does not mention %r" % phrase)

    with open(os.path.join(root, "SOURCE-OFFER.txt"), encoding="utf-8") as f:
        offer = f.read()
    source_zip = "Pomaro-%s-source.zip" % VERSION
    check(source_zip in offer and "@VERSION@" not in offer, "the source offer names no source archive")
    with zipfile.ZipFile(os.path.join(os.path.dirname(path), source_zip)) as z:
        src = set(z.namelist())
    prefix = "Pomaro-%s-source/" % VERSION
    for need in ("CMakeLists.txt", "app/Main.cpp", "plugins/demo/CMakeLists.txt", "cmake/vst3sdk.md5",
                 "third_party/downloads/vst3sdk_3.7.10.14+~4.13.3.orig-pluginterfaces.tar.gz"):
        check(prefix + need in src, "the source archive lacks %s" % need)

    def digest(zip_path):
        with open(zip_path, "rb") as f:
            return hashlib.sha256(f.read()).digest()
    check(digest(package(os.path.join(work, "again"))) == digest(path), "packaging the same build twice differs")


run_test(main)
