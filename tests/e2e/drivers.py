"""Registers the test WASAPI endpoint (in place of the system's device enumerator), ASIO and
MIDI drivers in a session's prefix, and reads back what programs played and what the recorder saw."""
import array
import math
import os
import re
import shutil
import struct

from pomaro_e2e import ASIO, BIN_DIR, wait_for

_FORMATS = {(1, 16): ("int16", "h", 32768.0), (1, 32): ("int32", "i", 2147483648.0), (3, 32): ("float32", "f", 1.0)}
_ASIO_TYPES = {"int16": 16, "int32": 18, "float32": 19}
# DLL, the COM class it serves, its threading model
_DRIVERS = {"endpoint": ("PomaroTestEndpoint.dll", "{BCDE0395-E52F-467C-8E3D-C4579291692E}", "Both"),
            "asio": ("PomaroTestAsio.dll", "{6F0D3C5E-8B2A-4E61-9C47-3A1B5D2E7F90}", "Apartment")}


def win_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def config_lines(config):
    def value(v):
        return ("yes" if v else "no") if isinstance(v, bool) else \
            ", ".join(map(str, v)) if isinstance(v, (list, tuple)) else v
    return ["%s = %s\n" % (k, value(v)) for k, v in config.items() if v is not None]


class Wav:
    """A driver's stereo WAV from frame start on, in full-scale units; readable while it still grows."""

    def __init__(self, path, start=0):
        self.rate = self.frames = 0
        self.format, self.left, self.right = "int16", [], []
        try:
            with open(path, "rb") as f:
                head = f.read(44)
                if len(head) < 44 or head[:4] != b"RIFF":
                    return
                fmt, channels, self.rate = struct.unpack_from("<HHI", head, 20)
                self.format, code, scale = _FORMATS[(fmt, struct.unpack_from("<H", head, 34)[0])]
                width = channels * (4 if code != "h" else 2)
                self.frames = min(struct.unpack_from("<I", head, 40)[0], f.seek(0, os.SEEK_END) - 44) // width
                f.seek(44 + min(start, self.frames) * width)
                values = [v / scale for v in array.array(code, f.read((self.frames - min(start, self.frames)) * width))]
        except FileNotFoundError:
            return
        self.left, self.right = values[0::channels], values[1::channels]

    def rms(self, which=0, start=0, end=None):
        s = (self.left, self.right)[which][start:end]
        return math.sqrt(sum(v * v for v in s) / len(s)) if s else 0.0

    def tone_level(self, freq, which=0, start=0, end=None):  # Goertzel
        s, k = (self.left, self.right)[which][start:end], 2 * math.cos(2 * math.pi * freq / self.rate)
        s1 = s2 = 0.0
        for v in s:
            s1, s2 = v + k * s1 - s2, s1
        return 2 * math.sqrt(max(s1 * s1 + s2 * s2 - k * s1 * s2, 0.0)) / len(s) if s else 0.0

    def tone_frequency(self, start, length, which=0):  # the strongest of 100-1000 Hz, to 0.1 Hz
        def strongest(lo, hi, step):
            return max((lo + i * step for i in range(int((hi - lo) / step) + 1)),
                       key=lambda f: self.tone_level(f, which, start, start + length))
        coarse = strongest(100.0, 1000.0, 2.0)
        return strongest(coarse - 2.0, coarse + 2.0, 0.1)

    def onsets(self, threshold=0.01, gap=None):  # frames where the left channel sounds after gap (0.2 s) of quiet
        found, gap = [], gap or self.rate // 5
        quiet = gap
        for i, v in enumerate(self.left):
            if abs(v) > threshold:
                if quiet >= gap:
                    found.append(i)
                quiet = 0
            else:
                quiet += 1
        return found

    def peak(self):
        return max(map(abs, self.left), default=0)


class Driver:
    def __init__(self, wav_path):
        self.wav_path = wav_path

    def recording(self, start=0):
        return Wav(self.wav_path, start)

    def frames(self):
        return Wav(self.wav_path, 1 << 40).frames

    def heard_since(self, mark, level=0.01):
        return Wav(self.wav_path, mark).peak() >= level

    def quiet(self, seconds=0.2, level=0.01):
        head = Wav(self.wav_path, 1 << 40)
        span = int(seconds * head.rate)
        return head.frames >= span > 0 and Wav(self.wav_path, head.frames - span).peak() < level

    def stats(self):  # written when a stream stopped
        with open(self.wav_path + ".stats.txt") as f:
            return {k: int(v) for k, _, v in (line.strip().partition("=") for line in f) if k}


def register_driver(session, kind, lines, dll=None):
    """Installs a copy of the DLL (a rebuild cannot touch it) as its COM class with its configuration
    file; returns the file's Windows path."""
    name, clsid, threading = _DRIVERS[kind]
    local, config = os.path.join(session.dir, name), os.path.join(session.dir, kind + ".ini")
    shutil.copy2(dll or os.path.join(BIN_DIR, name), local)
    with open(config, "w", encoding="utf-8") as f:
        f.writelines(lines)
    session.reg_add("HKCR\\CLSID\\%s\\InprocServer32" % clsid, None, win_path(local))
    session.reg_add("HKCR\\CLSID\\%s\\InprocServer32" % clsid, "ThreadingModel", threading)
    return win_path(config)


def register_test_endpoint(session, wav_path, *endpoints):
    """Each endpoint a dict of its keys: name, rates, period..."""
    lines = ["wav = %s\n" % win_path(wav_path)] + [l for e in endpoints for l in ["[endpoint]\n"] + config_lines(e)]
    session.reg_add(r"HKCU\Software\PomaroTest\Endpoint", "Config", register_driver(session, "endpoint", lines))
    return Driver(wav_path)


def register_test_asio(session, dll_path=None, wav_path=None, name=ASIO, alone=False, **config):
    """Keys as testdrivers/asio reads them; type by name ("int16", "int32", "float32"). alone: the
    machine's own sound system stays out of the prefix, as on a machine with one ASIO card and no WASAPI
    endpoint."""
    if alone:
        session.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "")
    wav_path = wav_path or os.path.join(session.dir, "asio.wav")
    config["type"] = _ASIO_TYPES.get(config.get("type"), config.get("type"))
    config.update(wav=win_path(wav_path), stats=win_path(wav_path + ".stats.txt"))
    path, key = register_driver(session, "asio", config_lines(config), dll_path), "HKLM\\Software\\ASIO\\" + name
    session.reg_add(key, "clsid", _DRIVERS["asio"][1])
    session.reg_add(key, "description", name)
    session.reg_add("HKCR\\CLSID\\%s" % _DRIVERS["asio"][1], "PomaroConfig", path)
    return Driver(wav_path)


class TestMidiDriver:
    """Commands as testdrivers/midi/MidiTestDriver.cpp lists them; one report a command."""

    def __init__(self, commands_path, report_path):
        self.commands_path, self.report_path = commands_path, report_path

    def reports(self):
        try:
            with open(self.report_path, encoding="utf-8") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        return [dict([("kind", l.split()[0])] + [tuple(p.split("=", 1)) for p in l.split()[1:]]) for l in lines]

    def start(self, *commands):
        """Hands the commands over and returns the number of reports before them."""
        wait_for(lambda: not os.path.exists(self.commands_path), 30, 0.02, "the driver to take its last commands")
        before = len(self.reports())
        with open(self.commands_path + ".new", "w", encoding="utf-8") as f:
            f.write("\n".join(commands) + "\n")
        os.replace(self.commands_path + ".new", self.commands_path)
        return before

    def run(self, *commands, timeout=60):  # their reports
        before = self.start(*commands)
        wait_for(lambda: len(self.reports()) >= before + len(commands), timeout, 0.02,
                 "the MIDI driver's reports of %r" % (commands,))
        return self.reports()[before:before + len(commands)]


def register_test_midi(session, ports):
    """The prefix's audio driver module (winmm lists its ports; WASAPI none, ASIO still works)."""
    target = os.path.join(session.prefix, "drive_c", "windows", "system32", "winepomaromidi.drv")
    if os.path.exists(target):
        os.remove(target)  # the prefix's system files are links shared with the template
    shutil.copy2(os.path.join(BIN_DIR, "winepomaromidi.drv"), target)
    commands, report, config = (os.path.join(session.dir, n) for n in ("midi-commands.txt", "midi-report.txt",
                                                                       "midi.ini"))
    with open(config, "w", encoding="utf-8") as f:
        f.write("commands = %s\nreport = %s\n" % (win_path(commands), win_path(report)))
        f.writelines("[port]\nname = %s\n" % name for name in ports)
    session.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", "pomaromidi")  # Wine loads wine<name>.drv
    session.reg_add(r"HKCU\Software\PomaroTest\Midi", "Config", win_path(config))
    return TestMidiDriver(commands, report)


class Call:
    PATTERN = re.compile(r"^(\d+) (\d+) (\w+\.\w+)((?: [^ ]+=[^ ]*)*) -> \S+$")

    def __init__(self, line, m):
        self.seq, self.tid, self.name, self.line = int(m[1]), int(m[2]), m[3], line
        self.args = dict(kv.split("=", 1) for kv in m[4].split())

    def __repr__(self):
        return "%d %s %s" % (self.seq, self.name, self.args)


def recorder_calls(path):
    """The recorder's log ("seq tid object.method key=value... -> result") in the order the calls began;
    .line: the order they ended, roughly."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            found = [(n, Call.PATTERN.match(l)) for n, l in enumerate(f.read().splitlines())]
    except FileNotFoundError:
        return []
    return sorted((Call(n, m) for n, m in found if m), key=lambda c: c.seq)
