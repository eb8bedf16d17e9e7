"""The release tests' packaging of the build, and a PE file's imports and fixed version block."""
import os
import re
import struct
import subprocess

from pomaro_e2e import SOURCE_DIR, check

BUILD_DIR = os.environ.get("POMARO_BUILD_DIR", "")
VERSION = os.environ.get("POMARO_VERSION", "")
OBJDUMP = os.environ.get("POMARO_OBJDUMP", "x86_64-w64-mingw32-objdump")
WORK = os.environ.get("POMARO_RELEASE_WORK", "")

# DLLs that every 64-bit Windows since 10 has in System32. A compiler runtime
# (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) or anything else means the zip
# would not run on a clean machine.
SYSTEM_DLLS = {
    "advapi32.dll", "avrt.dll", "comctl32.dll", "comdlg32.dll", "d2d1.dll", "dwrite.dll",
    "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "shell32.dll",
    "shlwapi.dll", "user32.dll", "uxtheme.dll", "version.dll", "windowscodecs.dll",
    "winmm.dll", "ws2_32.dll",
}


def package(out_dir):
    """The binary zip's path."""
    os.makedirs(out_dir, exist_ok=True)
    r = subprocess.run([os.path.join(SOURCE_DIR, "tools", "package.sh"), BUILD_DIR, out_dir],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    check(r.returncode == 0, "package.sh failed:\n%s" % r.stderr.decode(errors="replace"))
    paths = r.stdout.decode().split()
    check(len(paths) == 2, "package.sh printed %r" % paths)
    return paths[0]


def imports(path):
    r = subprocess.run([OBJDUMP, "-p", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    check(r.returncode == 0, "objdump -p %s failed: %s" % (path, r.stderr.decode(errors="replace")))
    names = re.findall(r"^\s*DLL Name: (\S+)\s*$", r.stdout.decode(errors="replace"), re.M)
    delayed = re.search(r"^Entry d ([0-9a-f]+) ([0-9a-f]+) Delay Import Directory", r.stdout.decode(errors="replace"),
                        re.M)
    check(delayed and int(delayed.group(2), 16) == 0,
          "%s has delay-load imports, which this check does not read" % path)
    return names


def fixed_version(path):
    """(file version, product version) from the VS_FIXEDFILEINFO block, as "a.b.c.d"."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    check(at >= 0, "%s has no version block" % path)
    ms, ls, pms, pls = struct.unpack_from("<4I", data, at + 8)

    def text(hi, lo):
        return "%d.%d.%d.%d" % (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF)
    return text(ms, ls), text(pms, pls)
