"""Test audio drivers for end-to-end tests: registers the test WASAPI endpoint
(PomaroTestEndpoint.dll) in a session's prefix in place of the system's device
enumerator, and reads back what programs rendered through it.

    ep = register_test_endpoint(session, dll, os.path.join(session.dir, "out.wav"),
                                name="Test Speakers", rates=[44100, 48000])
    ... run the program ...
    rec = ep.recording()          # WAV as plain Python lists
    ep.stats()["late_periods"]
"""
import math
import os
import shutil
import struct
import subprocess
import wave

from pomaro_e2e import BIN_DIR, WINE64, TestFailure, check, wait_for

ENUMERATOR_CLSID = "{BCDE0395-E52F-467C-8E3D-C4579291692E}"
CONFIG_KEY = r"HKCU\Software\PomaroTest\Endpoint"

_ENDPOINT_KEYS = ("name", "id", "state", "flow", "rates", "period", "min_period", "align",
                  "not_aligned", "extra_frames", "mix_rate", "fail")


def win_path(unix_path):
    """The path under Wine's Z: drive, which maps the whole Unix tree."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def _value(key, v):
    if key == "rates":
        return ", ".join(str(int(r)) for r in v)
    if key == "not_aligned":
        return "%d:%d" % tuple(v)
    if key == "fail" and not isinstance(v, str):
        return ", ".join(v)
    return str(v)


def endpoint_config_text(wav_path=None, endpoints=None, fail_enumerator=None, **single):
    """The configuration file's text. Either endpoints=[{name:..., rates:[...]}, ...] or the
    keys of one endpoint directly (name, rates, period, min_period, align, not_aligned,
    extra_frames, mix_rate, state, flow, id, fail). An endpoint dict without "name" has no
    readable friendly name."""
    if endpoints is None:
        endpoints = [dict(single)] if single else [{"name": "Pomaro Test Endpoint"}]
    elif single:
        raise TypeError("give endpoints=[...] or one endpoint's keys, not both")
    lines = []
    if wav_path:
        lines.append("wav = " + win_path(wav_path))
    if fail_enumerator:
        lines.append("fail = " + _value("fail", fail_enumerator))
    for e in endpoints:
        unknown = set(e) - set(_ENDPOINT_KEYS)
        if unknown:
            raise TypeError("unknown endpoint keys: %s" % ", ".join(sorted(unknown)))
        lines.append("[endpoint]")
        for k in _ENDPOINT_KEYS:
            if k in e and e[k] is not None:
                lines.append("%s = %s" % (k, _value(k, e[k])))
    return "\n".join(lines) + "\n"


class Recording:
    """A 16-bit stereo WAV as lists of ints."""

    def __init__(self, path):
        with wave.open(path, "rb") as w:
            check(w.getnchannels() == 2 and w.getsampwidth() == 2, "%s is not 16-bit stereo" % path)
            self.rate = w.getframerate()
            self.frames = w.getnframes()
            raw = w.readframes(self.frames)
        samples = struct.unpack("<%dh" % (len(raw) // 2), raw)
        self.left = list(samples[0::2])
        self.right = list(samples[1::2])

    def seconds(self):
        return self.frames / float(self.rate) if self.rate else 0.0

    def channel(self, which):
        return self.left if which in (0, "left") else self.right

    def peak(self, which=0, start=0, end=None):
        s = self.channel(which)[start:end]
        return max((abs(v) for v in s), default=0)

    def rms(self, which=0, start=0, end=None):
        s = self.channel(which)[start:end]
        return math.sqrt(sum(v * v for v in s) / len(s)) if s else 0.0

    def zero_crossing_frequency(self, which=0, start=0, end=None):
        """Frequency from rising zero crossings: good for one clear tone."""
        s = self.channel(which)[start:end]
        rising = [i for i in range(1, len(s)) if s[i - 1] < 0 <= s[i]]
        if len(rising) < 2:
            return 0.0
        return (len(rising) - 1) * self.rate / float(rising[-1] - rising[0])

    def tone_level(self, freq, which=0, start=0, end=None):
        """Amplitude of one frequency (Goertzel), in sample units: a sine of amplitude A gives about A."""
        s = self.channel(which)[start:end]
        n = len(s)
        if n == 0:
            return 0.0
        k = 2 * math.cos(2 * math.pi * freq / self.rate)
        s1 = s2 = 0.0
        for v in s:
            s1, s2 = v + k * s1 - s2, s1
        power = s1 * s1 + s2 * s2 - k * s1 * s2
        return 2 * math.sqrt(max(power, 0.0)) / n

    def tone_frequency(self, start, length, which=0):
        """The strongest frequency between 100 and 1000 Hz of a span, refined to 0.1 Hz."""
        coarse = self.dominant_frequency(100.0, 1000.0, 2.0, which=which, start=start, end=start + length)
        return self.dominant_frequency(coarse - 2.0, coarse + 2.0, 0.1, which=which, start=start, end=start + length)

    def onsets(self, threshold, gap):
        """Frames of the left channel where sound starts after at least gap silent frames."""
        found, quiet = [], gap
        for i, v in enumerate(self.left):
            if abs(v) > threshold:
                if quiet >= gap:
                    found.append(i)
                quiet = 0
            else:
                quiet += 1
        return found

    def dominant_frequency(self, lo=20.0, hi=5000.0, step=5.0, which=0, start=0, end=None):
        """The strongest frequency on a grid (a small DFT); slow for long spans, so keep spans short."""
        best, best_level = 0.0, -1.0
        f = lo
        while f <= hi:
            level = self.tone_level(f, which, start, end)
            if level > best_level:
                best, best_level = f, level
            f += step
        return best


def read_stats(path):
    stats = {}
    with open(path) as f:
        for line in f:
            k, _, v = line.strip().partition("=")
            if k:
                stats[k] = int(v)
    return stats


class _Wav:
    """The layout of a growing WAV that a test driver writes (a 44-byte header whose sizes
    trail the samples): read while the program still plays, for evidence that a note sounds."""

    def __init__(self, path):
        self.path = path
        self.frame_bytes = self.frames = self.rate = 0
        self.code, self.full_scale = "h", 32768.0
        try:
            with open(path, "rb") as f:
                head = f.read(44)
        except FileNotFoundError:
            return
        if len(head) < 44 or head[:4] != b"RIFF":
            return
        fmt, channels, self.rate = struct.unpack_from("<HHI", head, 20)
        bits, = struct.unpack_from("<H", head, 34)
        self.code, self.full_scale = {(1, 16): ("h", 32768.0), (1, 32): ("i", 2147483648.0),
                                      (3, 32): ("f", 1.0)}.get((fmt, bits), ("h", 32768.0))
        self.frame_bytes = channels * bits // 8
        if self.frame_bytes:
            self.frames = struct.unpack_from("<I", head, 40)[0] // self.frame_bytes

    def peak(self, start, end=None):
        """The largest magnitude, as a fraction of full scale, of frames start to end (left channel)."""
        end = self.frames if end is None else min(end, self.frames)
        if not self.frame_bytes or end <= start:
            return 0.0
        with open(self.path, "rb") as f:
            f.seek(44 + start * self.frame_bytes)
            raw = f.read((end - start) * self.frame_bytes)
        n = len(raw) // self.frame_bytes
        samples = struct.unpack_from("<%d%s" % (2 * n, self.code), raw)[0::2]
        return max((abs(v) for v in samples), default=0) / self.full_scale


class _Recorded:
    """What the program has played into a driver's recording so far."""

    def frames(self):
        """Frames the recording holds now: a mark to look for a note after."""
        return _Wav(self.wav_path).frames

    def rate(self):
        return _Wav(self.wav_path).rate

    def heard_since(self, mark, level=0.01):
        """Whether a sample after frame mark reached level (of full scale): a new note's
        evidence, once the recording was quiet at mark."""
        return _Wav(self.wav_path).peak(mark) >= level

    def quiet(self, seconds=0.2, level=0.01):
        """Whether the last seconds of the recording stay below level: so that a later
        sound is a new note's, not the previous one's tail."""
        wav = _Wav(self.wav_path)
        span = int(seconds * wav.rate)
        return wav.frames >= span > 0 and wav.peak(wav.frames - span) < level

    def wait_recording(self, frames, timeout=30):
        """Waits until the WAV's header announces at least this many frames."""
        wait_for(lambda: self.frames() >= frames, timeout, 0.1, "%d frames in %s" % (frames, self.wav_path))


class TestEndpoint(_Recorded):
    """A registered test endpoint: its files and what was rendered through it."""

    def __init__(self, session, wav_path, config_path, config_text):
        self.session = session
        self.wav_path = wav_path
        self.stats_path = wav_path + ".stats.txt" if wav_path else None
        self.config_path = config_path
        self.config_text = config_text

    def recording(self, path=None):
        return Recording(path or self.wav_path)

    def stats(self):
        """The statistics the last stopped stream wrote (periods, late_periods, frames, ...)."""
        check(self.stats_path and os.path.exists(self.stats_path), "no statistics file: the stream never stopped")
        return read_stats(self.stats_path)

    def run_bare_client(self, seconds=1.0, rate=48000, frames=None, record=False, timeout=60):
        """Renders silence with the bare event loop in the same prefix; returns its report
        (periods, late_periods, endpoint_late_periods, frames, buffer_frames, ...).
        Unless record is set it uses a copy of the configuration without recording,
        so the program's WAV and statistics stay untouched."""
        env = {}
        if not record:
            alt = os.path.join(os.path.dirname(self.config_path), "endpoint-bare.ini")
            with open(alt, "w", encoding="utf-8") as f:
                f.write("\n".join(l for l in self.config_text.splitlines() if not l.startswith("wav =")) + "\n")
            env["POMARO_TEST_ENDPOINT_CONFIG"] = win_path(alt)
        args = [client_exe(), "bare", "%g" % seconds, str(rate)] + ([str(frames)] if frames else [])
        r = self.session.wine(args, env=env, timeout=timeout)
        report = parse_report(r.stdout)
        if r.returncode != 0:
            raise TestFailure("bare client failed (%s): %s" % (r.returncode, report.get("error", r.stderr)))
        return report


def client_exe():
    return os.path.join(BIN_DIR, "endpoint_client.exe")


def parse_report(stdout):
    out = {}
    for line in stdout.decode("utf-8", "replace").splitlines():
        k, _, v = line.partition("=")
        if k in ("error", "server"):
            out[k] = v.strip()
        elif k == "endpoint":
            out.setdefault("endpoints", []).append(tuple(v.rstrip("\r").split("\t")[1:]))
        elif k:
            try:
                out[k] = int(v)
            except ValueError:
                out[k] = v.strip()
    return out


def register_test_endpoint(session, dll_path=None, wav_path=None, **config):
    """Puts the test endpoint in place of the system's device enumerator in the session's
    prefix and configures it (see endpoint_config_text for the keys). The DLL is copied
    into the session folder so that a rebuild during the test cannot touch it."""
    dll_path = dll_path or os.path.join(BIN_DIR, "PomaroTestEndpoint.dll")
    # The prefix's first program starts Wine's services, which keep its output pipes open
    # for their whole life: start them here without pipes, or the first captured run
    # (reg add) waits for them until its time-out.
    subprocess.run([WINE64, "wineboot"], env=session.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    local = os.path.join(session.dir, "PomaroTestEndpoint.dll")
    shutil.copy2(dll_path, local)
    text = endpoint_config_text(wav_path=wav_path, **config)
    config_path = os.path.join(session.dir, "endpoint.ini")
    with open(config_path, "w", encoding="utf-8") as f:
        f.write(text)
    key = "HKCR\\CLSID\\%s\\InprocServer32" % ENUMERATOR_CLSID
    session.reg_add(key, None, win_path(local))
    session.reg_add(key, "ThreadingModel", "Both")
    session.reg_add(CONFIG_KEY, "Config", win_path(config_path))
    return TestEndpoint(session, wav_path, config_path, text)


# -- the test ASIO driver (PomaroTestAsio.dll) ------------------------------------

ASIO_CLSID = "{6F0D3C5E-8B2A-4E61-9C47-3A1B5D2E7F90}"
ASIO_SAMPLE_TYPES = {"int16": 16, "int32": 18, "float32": 19}
_ASIO_KEYS = ("type", "rates", "min", "max", "preferred", "granularity", "outputs", "inputs", "init_error",
              "fail", "panel", "reset_after", "reset_burst", "reset_every_init", "size_change_after", "size_change_to",
              "after_stop", "callback_in_start", "thread_every", "callback")


def asio_config_text(wav_path=None, stats_path=None, **config):
    """The test ASIO driver's configuration text. Keys: type (16, 18, 19, any other, or
    "int16"/"int32"/"float32"), rates [Hz...], min, max, preferred, granularity (-1: powers
    of two), outputs, inputs, init_error (text: init fails), fail [calls, "call#n" for the
    n-th only], panel (bool, or "reset": a modal panel that asks for a reset while open),
    reset_after / size_change_after (buffer switches), reset_burst (requests in a row),
    reset_every_init (bool), size_change_to (frames), after_stop (switches after stop
    returned), callback_in_start (bool), thread_every (switches), callback."""
    unknown = set(config) - set(_ASIO_KEYS)
    if unknown:
        raise TypeError("unknown ASIO driver keys: %s" % ", ".join(sorted(unknown)))
    lines = []
    for k in _ASIO_KEYS:
        v = config.get(k)
        if v is None:
            continue
        if k == "type":
            v = ASIO_SAMPLE_TYPES.get(v, v)
        elif k == "rates":
            v = ", ".join(str(int(r)) for r in v)
        elif k == "fail" and not isinstance(v, str):
            v = ", ".join(v)
        elif isinstance(v, bool):
            v = "yes" if v else "no"
        lines.append("%s = %s" % (k, v))
    if wav_path:
        lines.append("wav = " + win_path(wav_path))
    if stats_path:
        lines.append("stats = " + win_path(stats_path))
    return "\n".join(lines) + "\n"


class AsioRecording(Recording):
    """What the host rendered through the test ASIO driver: stereo WAV of 16- or 32-bit
    integers or 32-bit floats, channel 0 left and 1 right, in the driver's own units."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        check(data[:4] == b"RIFF" and data[8:16] == b"WAVEfmt ", "%s is not a WAV file" % path)
        fmt, channels, rate = struct.unpack_from("<HHI", data, 20)
        bits = struct.unpack_from("<H", data, 34)[0]
        size = struct.unpack_from("<I", data, 40)[0]
        check(channels == 2, "%s has %d channels" % (path, channels))
        code = {(1, 16): "h", (1, 32): "i", (3, 32): "f"}.get((fmt, bits))
        check(code is not None, "%s: format %d with %d bits" % (path, fmt, bits))
        width = bits // 8
        size = min(size, len(data) - 44) // (2 * width) * (2 * width)
        samples = struct.unpack_from("<%d%s" % (size // width, code), data, 44)
        self.format = {"h": "int16", "i": "int32", "f": "float32"}[code]
        self.full_scale = {"h": 32768.0, "i": 2147483648.0, "f": 1.0}[code]
        self.rate = rate
        self.frames = size // (2 * width)
        self.left = list(samples[0::2])
        self.right = list(samples[1::2])


class TestAsioDriver(_Recorded):
    """A registered test ASIO driver: its name, files and what was rendered through it."""

    def __init__(self, session, name, wav_path, stats_path, config_path):
        self.session = session
        self.name = name
        self.wav_path = wav_path
        self.stats_path = stats_path
        self.config_path = config_path

    def recording(self):
        return AsioRecording(self.wav_path)

    def stats(self):
        """Counters written when a stream stopped or the driver was released (instances,
        callbacks, late_callbacks, sample_rate, buffer_frames, reset_answer, ...)."""
        check(os.path.exists(self.stats_path), "no statistics file: the driver never stopped")
        return read_stats(self.stats_path)


def register_test_asio(session, dll_path=None, wav_path=None, **config):
    """Registers the test ASIO driver in the session's prefix (HKLM\\Software\\ASIO\\<name>
    with "clsid" and "description"; the class's InprocServer32, apartment-threaded) and
    configures it (see asio_config_text; also name= and description=). The DLL is copied
    into the session folder so that a rebuild during the test cannot touch it."""
    dll_path = dll_path or os.path.join(BIN_DIR, "PomaroTestAsio.dll")
    name = config.pop("name", "Pomaro Test ASIO")
    description = config.pop("description", name)
    subprocess.run([WINE64, "wineboot"], env=session.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    local = os.path.join(session.dir, "PomaroTestAsio.dll")
    shutil.copy2(dll_path, local)
    stats_path = (wav_path or os.path.join(session.dir, "asio.wav")) + ".stats.txt"
    text = asio_config_text(wav_path=wav_path, stats_path=stats_path, **config)
    config_path = os.path.join(session.dir, "asio.ini")
    with open(config_path, "w", encoding="utf-8") as f:
        f.write(text)
    driver_key = "HKLM\\Software\\ASIO\\%s" % name
    session.reg_add(driver_key, "clsid", ASIO_CLSID)
    if description is not None:
        session.reg_add(driver_key, "description", description)
    class_key = "HKCR\\CLSID\\%s" % ASIO_CLSID
    session.reg_add(class_key + "\\InprocServer32", None, win_path(local))
    session.reg_add(class_key + "\\InprocServer32", "ThreadingModel", "Apartment")
    session.reg_add(class_key, "PomaroConfig", win_path(config_path))
    return TestAsioDriver(session, name, wav_path, stats_path, config_path)


# -- the test MIDI input driver (winepomaromidi.drv) -------------------------------

MIDI_DRIVER_NAME = "pomaromidi"  # Wine's mmdevapi and winmm load wine<name>.drv from system32


class TestMidiDriver:
    """The registered test MIDI driver of a session: hands it commands (see
    testdrivers/midi/MidiTestDriver.h) and reads its report, one dict per command."""

    def __init__(self, session, commands_path, report_path):
        self.session = session
        self.commands_path = commands_path
        self.report_path = report_path

    def reports(self):
        try:
            with open(self.report_path, encoding="utf-8") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        out = []
        for line in lines:
            kind, *pairs = line.split()
            out.append(dict([("kind", kind)] + [tuple(p.split("=", 1)) for p in pairs]))
        return out

    def start(self, *commands):
        """Hands the commands over and returns the number of reports before them."""
        wait_for(lambda: not os.path.exists(self.commands_path), 30, 0.02, "the driver to take its last commands")
        before = len(self.reports())
        tmp = self.commands_path + ".new"
        with open(tmp, "w", encoding="utf-8") as f:
            f.write("\n".join(commands) + "\n")
        os.replace(tmp, self.commands_path)
        return before

    def run(self, *commands, timeout=60):
        """Runs the commands and returns their reports."""
        before = self.start(*commands)
        wait_for(lambda: len(self.reports()) >= before + len(commands), timeout, 0.02,
                 "the MIDI driver's reports of %r" % (commands,))
        return self.reports()[before:before + len(commands)]


def register_test_midi(session, ports=("Pomaro Test MIDI",), dll_path=None):
    """Makes the test MIDI driver the prefix's audio driver module (so winmm lists its
    ports; WASAPI then lists no endpoint, ASIO drivers still work) with these port names."""
    dll_path = dll_path or os.path.join(BIN_DIR, "winepomaromidi.drv")
    target = os.path.join(session.prefix, "drive_c", "windows", "system32", "wine%s.drv" % MIDI_DRIVER_NAME)
    if os.path.exists(target):
        os.remove(target)  # the prefix's system files are links shared with the template
    shutil.copy2(dll_path, target)
    commands = os.path.join(session.dir, "midi-commands.txt")
    report = os.path.join(session.dir, "midi-report.txt")
    config = os.path.join(session.dir, "midi.ini")
    with open(config, "w", encoding="utf-8") as f:
        f.write("commands = %s\nreport = %s\n" % (win_path(commands), win_path(report)))
        for name in ports:
            f.write("[port]\nname = %s\n" % name)
    session.reg_add(r"HKCU\Software\Wine\Drivers", "Audio", MIDI_DRIVER_NAME)
    session.reg_add(r"HKCU\Software\PomaroTest\Midi", "Config", win_path(config))
    return TestMidiDriver(session, commands, report)
