// A MIDI input driver for tests, loaded by Wine's winmm as the audio driver module
// (HKCU\Software\Wine\Drivers, Audio = pomaromidi loads winepomaromidi.drv from system32).
// It lists the input ports its configuration names and plays into them what the test
// hands it as command files. As with a real driver, stop and close return only after a
// callback in progress has finished, and a stopped port gets no data. Each finished
// command adds one line to the report file.
//
// Configuration: the file named by HKCU\Software\PomaroTest\Midi, value Config:
//   commands = <path>   polled every 10 ms; taken by a rename, then run line by line
//   report = <path>     one line appended per command
//   [port]
//   name = <text>       one section per port, in device order
// Commands (numbers decimal, messages hexadecimal with the status in the low byte):
//   send <port> <message>
//   flood <port> <note> <count> <rate>    note-on / note-off of one key, alternating
//   light <port> <note> <top class> <child class> <x> <y>
// The flood's callback timings and the light command are what bench/midi-flood.py measures.
#include "testdrivers/common/ConfigFile.h"
#include "testdrivers/common/TextParse.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <sstream>
#include <vector>

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

namespace {

using namespace PomaroTestDrivers;

struct Target
{
    DWORD_PTR callback = 0, instance = 0;
    HDRVR handle = nullptr;
    DWORD flags = 0; // the DCB_ type in the low word
    void notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) const
    {
        DriverCallback(callback, flags, handle, message, instance, param1, param2);
    }
};

struct Port
{
    std::wstring name;
    Target target;
    bool open = false, started = false, inCallback = false;
};

// Shared by winmm's calls and the sender thread, which lives until the process ends.
std::vector<Port>& ports = *new std::vector<Port>();
SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_idle = CONDITION_VARIABLE_INIT;
DWORD g_senderThread = 0;
std::wstring g_commands, g_report;

struct Hold
{
    Hold() { AcquireSRWLockExclusive(&g_lock); }
    ~Hold() { ReleaseSRWLockExclusive(&g_lock); }
};

double nowMs()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

DWORD setStarted(UINT port, bool started)
{
    Hold hold;
    if (port >= ports.size() || !ports[port].open)
        return MMSYSERR_INVALHANDLE;
    ports[port].started = started;
    // A stop returns once no callback runs; from inside the callback there is nothing to wait for.
    while (!started && ports[port].inCallback && GetCurrentThreadId() != g_senderThread)
        SleepConditionVariableSRW(&g_idle, &g_lock, INFINITE, 0);
    return MMSYSERR_NOERROR;
}

// Opens a port for a callback (null: closes it); MIM_OPEN or MIM_CLOSE goes out before the call returns.
DWORD setOpen(UINT port, const Target* opening)
{
    if (const DWORD stopped = opening ? MMSYSERR_NOERROR : setStarted(port, false))
        return stopped;
    Target target;
    {
        Hold hold;
        if (port >= ports.size())
            return MMSYSERR_BADDEVICEID;
        if (opening && ports[port].open)
            return MMSYSERR_ALLOCATED;
        ports[port].open = opening != nullptr;
        if (opening)
            ports[port].target = *opening;
        target = ports[port].target;
    }
    target.notify(opening ? MIM_OPEN : MIM_CLOSE, 0, 0);
    return MMSYSERR_NOERROR;
}

struct DeliveryStats
{
    double longestMs = 0.0;
    int slow = 0; // callbacks of 5 ms or more
};

// Calls the port's callback with one short message. False when the port is not started:
// the message is dropped.
bool deliver(UINT port, DWORD message, DeliveryStats& stats)
{
    Target target;
    {
        Hold hold;
        if (port >= ports.size() || !ports[port].started)
            return false;
        ports[port].inCallback = true;
        target = ports[port].target;
    }
    const double begin = nowMs();
    target.notify(MIM_DATA, message, 0); // no time stamp: the program reads none
    const double took = nowMs() - begin;
    stats.longestMs = took > stats.longestMs ? took : stats.longestMs;
    stats.slow += took >= 5.0;
    Hold hold;
    ports[port].inCallback = false;
    WakeAllConditionVariable(&g_idle);
    return true;
}

void loadConfig()
{
    const std::wstring path =
        configPath(nullptr, HKEY_CURRENT_USER, L"Software\\PomaroTest\\Midi", L"Config");
    std::string text;
    if (!path.empty() && !readTextFile(path, text))
        std::fprintf(stderr, "PomaroTestMidi: cannot read the configuration file\n");
    std::istringstream lines(text);
    Hold hold;
    for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        const size_t eq = line.find('=');
        const std::string key = trim(line.substr(0, eq));
        const std::wstring value = eq == std::string::npos ? L"" : widen(trim(line.substr(eq + 1)));
        if (line == "[port]")
            ports.emplace_back();
        else if (key == "name" && !ports.empty())
            ports.back().name = value;
        else if (key == "commands")
            g_commands = value;
        else if (key == "report")
            g_report = value;
    }
    if (ports.empty())
        ports.emplace_back().name = L"Pomaro Test MIDI";
}

void report(const char* pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    HANDLE f = g_report.empty()
                   ? INVALID_HANDLE_VALUE
                   : CreateFileW(g_report.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    const std::string line = std::string(text) + "\n";
    DWORD written = 0;
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
}

DWORD noteOn(int note) { return 0x90u | static_cast<DWORD>(note & 0x7F) << 8 | 100u << 16; }
DWORD noteOff(int note) { return 0x80u | static_cast<DWORD>(note & 0x7F) << 8; }

// Message i is due i / rate seconds after the first; a port behind its schedule
// catches up at once, as a driver's buffered input would.
void flood(UINT port, int note, int count, double rate)
{
    DeliveryStats stats;
    const double begin = nowMs();
    int sent = 0;
    bool stopped = false;
    while (sent < count && !stopped) {
        if (nowMs() < begin + sent * 1000.0 / rate)
            Sleep(1);
        else if (!(stopped = !deliver(port, sent % 2 == 0 ? noteOn(note) : noteOff(note), stats)))
            ++sent;
    }
    report("flood port=%u note=%d count=%d rate=%g sent=%d stopped=%d paced_ms=%.1f took_ms=%.1f "
           "longest_callback_ms=%.3f slow_callbacks=%d",
           port, note, count, rate, sent, stopped ? 1 : 0, count * 1000.0 / rate, nowMs() - begin,
           stats.longestMs, stats.slow);
}

// Plays a note and times how long the pixel at (x, y) of a window takes to change.
void light(UINT port, int note, const std::wstring& topClass, const std::wstring& childClass, int x, int y)
{
    HWND top = FindWindowW(topClass.c_str(), nullptr);
    HWND window = top ? FindWindowExW(top, nullptr, childClass.c_str(), nullptr) : nullptr;
    HDC dc = window ? GetDC(window) : nullptr;
    if (!dc)
        return report("light port=%u note=%d found=0", port, note);
    DeliveryStats stats;
    const COLORREF before = GetPixel(dc, x, y);
    const double begin = nowMs();
    const bool delivered = deliver(port, noteOn(note), stats);
    bool changed = false;
    while (delivered && !(changed = GetPixel(dc, x, y) != before) && nowMs() - begin < 30000.0)
        Sleep(1);
    const double took = nowMs() - begin;
    ReleaseDC(window, dc);
    deliver(port, noteOff(note), stats);
    report("light port=%u note=%d found=1 delivered=%d changed=%d ms=%.1f", port, note, delivered ? 1 : 0,
           changed ? 1 : 0, took);
}

void run(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, a, b;
    UINT port = 0;
    int note = 0, count = 0, x = 0, y = 0;
    double rate = 0.0;
    DeliveryStats stats;
    if (!(in >> verb))
        return;
    if (verb == "send" && in >> port >> a) {
        const DWORD message = static_cast<DWORD>(std::strtoul(a.c_str(), nullptr, 16));
        report("send port=%u message=%06lx delivered=%d", port, static_cast<unsigned long>(message),
               deliver(port, message, stats) ? 1 : 0);
    } else if (verb == "flood" && in >> port >> note >> count >> rate && rate > 0.0) {
        flood(port, note, count, rate);
    } else if (verb == "light" && in >> port >> note >> a >> b >> x >> y) {
        light(port, note, widen(a), widen(b), x, y);
    } else {
        report("error text=cannot_run_%s", verb.c_str());
    }
}

// The test writes the commands file whole (by a rename); taking it by a rename too
// means a file is never read half or twice.
DWORD WINAPI senderMain(void*)
{
    const std::wstring taken = g_commands + L".taken";
    for (;; Sleep(10)) {
        std::string text;
        if (MoveFileExW(g_commands.c_str(), taken.c_str(), MOVEFILE_REPLACE_EXISTING) &&
            readTextFile(taken, text)) {
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);)
                run(trim(line));
        }
    }
}

void startSender()
{
    static const bool started = [] {
        loadConfig();
        HANDLE thread =
            g_commands.empty() ? nullptr : CreateThread(nullptr, 0, &senderMain, nullptr, 0, &g_senderThread);
        if (thread) {
            SetThreadPriority(thread,
                              THREAD_PRIORITY_TIME_CRITICAL); // as real MIDI drivers' input threads run
            CloseHandle(thread);
        }
        return true;
    }();
    (void)started;
}

} // namespace

// Wine's mmdevapi needs these four of an audio driver module; it lists no endpoint.
extern "C" {

__declspec(dllexport) int WINAPI GetPriority() { return 2; } // neutral: the highest priority wins

__declspec(dllexport) HRESULT WINAPI
    GetEndpointIDs(int, WCHAR*** ids, GUID** guids, UINT* count, UINT* defaultIndex)
{
    *ids = nullptr;
    *guids = nullptr;
    *count = *defaultIndex = 0;
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI GetAudioEndpoint(void*, void*, void** out)
{
    return *out = nullptr, E_NOTIMPL;
}

__declspec(dllexport) HRESULT WINAPI GetAudioSessionManager(void*, void** out)
{
    return *out = nullptr, E_NOTIMPL;
}

// The installable driver's entry; winmm keeps what DRV_OPEN answers as the instance id,
// which must not be 0 (the default answers 1 to load, free, enable and disable).
__declspec(dllexport) LRESULT WINAPI
    DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2)
{
    return message == DRV_OPEN || message == DRV_CLOSE ? 1 : DefDriverProc(id, driver, message, p1, p2);
}

// winmm's door to the MIDI input ports.
__declspec(dllexport) DWORD WINAPI
    midMessage(UINT device, UINT message, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2)
{
    switch (message) {
    case MIDM_GETNUMDEVS: {
        startSender();
        Hold hold;
        return static_cast<DWORD>(ports.size());
    }
    case MIDM_GETDEVCAPS: {
        Hold hold;
        if (device >= ports.size() || !p1)
            return MMSYSERR_BADDEVICEID;
        // A name of 32 characters or more fills the field without a terminator, as some
        // drivers leave it.
        MIDIINCAPSW caps{};
        wcsncpy(caps.szPname, ports[device].name.c_str(), MAXPNAMELEN);
        memcpy(reinterpret_cast<void*>(p1), &caps, p2 < sizeof caps ? p2 : sizeof caps);
        return MMSYSERR_NOERROR;
    }
    case MIDM_OPEN: {
        const auto* desc = reinterpret_cast<const MIDIOPENDESC*>(p1);
        if (!desc)
            return MMSYSERR_INVALPARAM;
        // winmm passes the value stored here back with every later call: the device number.
        if (user)
            *reinterpret_cast<DWORD_PTR*>(user) = device;
        const Target target{desc->dwCallback, desc->dwInstance, reinterpret_cast<HDRVR>(desc->hMidi),
                            HIWORD(p2)};
        return setOpen(device, &target);
    }
    case MIDM_START:
    case MIDM_STOP:
        return setStarted(device, message == MIDM_START);
    case MIDM_CLOSE:
        return setOpen(device, nullptr);
    case DRVM_INIT:
        startSender();
        return MMSYSERR_NOERROR;
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
    case MIDM_RESET: // no buffers are ever given, none to return
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

} // extern "C"
