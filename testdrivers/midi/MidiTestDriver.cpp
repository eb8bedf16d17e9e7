// A MIDI input driver for tests, loaded by Wine's winmm as the audio driver module
// (HKCU\Software\Wine\Drivers, Audio = pomaromidi loads winepomaromidi.drv from system32). It lists
// the input ports its configuration names and plays into them the commands a test hands it, appending
// one report line per command.
//
// Configuration: the file named by HKCU\Software\PomaroTest\Midi, value Config:
//   commands = <path>          polled every 10 ms; taken by a rename, then run line by line
//   report = <path>
//   [port] then name = <text>  one section per port, in device order
// Commands (numbers decimal, messages hexadecimal with the status in the low byte):
//   send <port> <message>
//   flood <port> <note> <count> <rate>    note-on / note-off of one key, alternating
//   light <port> <note> <top class> <child class> <x> <y>   bench/midi-flood.py times these two
#include "testdrivers/common/ConfigFile.h"
#include "testdrivers/common/TextParse.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <vector>

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

namespace {

using namespace PomaroTestDrivers;

struct Target
{
    MIDIOPENDESC desc{};
    DWORD flags = 0;                                  // the DCB_ type in the low word
    void notify(UINT message, DWORD_PTR param1) const // with no time stamp: none is read
    {
        DriverCallback(desc.dwCallback, flags, HDRVR(desc.hMidi), message, desc.dwInstance, param1, 0);
    }
};

struct Port
{
    std::wstring name;
    Target target;
    bool open = false, started = false;
};

// Shared by winmm's calls and the sender thread, which lives until the process ends and holds
// g_calling through each callback.
std::vector<Port>& ports = *new std::vector<Port>();
std::mutex g_lock, g_calling;
DWORD g_senderThread = 0;
std::wstring g_commands, g_report;
using Hold = std::unique_lock<std::mutex>;

double nowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Opens a port for a target's callback, starts, stops or closes it. MIM_OPEN or MIM_CLOSE goes out before
// an open or close returns; as with a real driver, a stop or close returns once no callback runs (from
// inside the callback there is nothing to wait for), and a stopped port gets no data.
DWORD change(UINT port, UINT message, const Target* opening = nullptr)
{
    Target target;
    {
        Hold hold(g_lock);
        if (port >= ports.size())
            return MMSYSERR_BADDEVICEID;
        Port& p = ports[port];
        if (p.open == (message == MIDM_OPEN))
            return p.open ? MMSYSERR_ALLOCATED : MMSYSERR_INVALHANDLE;
        if (opening)
            p.target = *opening;
        p.started = message == MIDM_START;
        p.open = message != MIDM_CLOSE;
        target = p.target;
    }
    if (message != MIDM_START && GetCurrentThreadId() != g_senderThread)
        g_calling.lock(), g_calling.unlock(); // waits out a callback in progress
    if (message == MIDM_OPEN || message == MIDM_CLOSE)
        target.notify(message == MIDM_OPEN ? MIM_OPEN : MIM_CLOSE, 0);
    return MMSYSERR_NOERROR;
}

// Calls the port's callback with one short message; how long the call took, or -1 when the
// port is not started and the message is dropped.
double deliver(UINT port, DWORD message)
{
    std::lock_guard<std::mutex> calling(g_calling);
    Target target;
    {
        Hold hold(g_lock);
        if (port >= ports.size() || !ports[port].started)
            return -1.0;
        target = ports[port].target;
    }
    const double begin = nowMs();
    target.notify(MIM_DATA, message);
    return nowMs() - begin;
}

void report(const char* pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    if (FILE* f = g_report.empty() ? nullptr : _wfopen(g_report.c_str(), L"ab"))
        std::vfprintf(f, pattern, args), std::fputc('\n', f), std::fclose(f);
    va_end(args);
}

DWORD noteOf(int note, bool on) { return (on ? 0x640090u : 0x80u) | static_cast<DWORD>(note & 0x7F) << 8; }

// Message i is due i / rate seconds after the first; a port behind its schedule
// catches up at once, as a driver's buffered input would.
void flood(UINT port, int note, int count, double rate)
{
    const double begin = nowMs();
    double longest = 0.0, took = 0.0;
    int sent = 0, slow = 0; // slow: callbacks of 5 ms or more
    while (sent < count && took >= 0.0) {
        if (nowMs() < begin + sent * 1000.0 / rate)
            Sleep(1);
        else if ((took = deliver(port, noteOf(note, sent % 2 == 0))) >= 0.0)
            ++sent, slow += took >= 5.0, longest = std::max(longest, took);
    }
    report("flood sent=%d paced_ms=%.1f took_ms=%.1f longest_callback_ms=%.3f slow_callbacks=%d", sent,
           count * 1000.0 / rate, nowMs() - begin, longest, slow);
}

// Plays a note and times how long the pixel at (x, y) of a window takes to change.
void light(UINT port, int note, const std::string& topClass, const std::string& childClass, int x, int y)
{
    HWND top = FindWindowW(widen(topClass).c_str(), nullptr);
    HWND window = top ? FindWindowExW(top, nullptr, widen(childClass).c_str(), nullptr) : nullptr;
    HDC dc = window ? GetDC(window) : nullptr;
    if (!dc)
        return report("light found=0");
    const COLORREF before = GetPixel(dc, x, y);
    const double begin = nowMs();
    const bool delivered = deliver(port, noteOf(note, true)) >= 0.0;
    bool changed = false;
    while (delivered && !(changed = GetPixel(dc, x, y) != before) && nowMs() - begin < 30000.0)
        Sleep(1);
    report("light found=1 delivered=%d changed=%d ms=%.1f", delivered, changed, nowMs() - begin);
    ReleaseDC(window, dc);
    deliver(port, noteOf(note, false));
}

void run(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, a, b;
    UINT port = 0;
    int note = 0, count = 0, x = 0, y = 0;
    unsigned long message = 0;
    double rate = 0.0;
    in >> verb >> port;
    if (verb == "send" && in >> std::hex >> message)
        report("send message=%06lx delivered=%d", message, deliver(port, DWORD(message)) >= 0.0);
    else if (verb == "flood" && in >> note >> count >> rate && rate > 0.0)
        flood(port, note, count, rate);
    else if (verb == "light" && in >> note >> a >> b >> x >> y)
        light(port, note, a, b, x, y);
    else if (!verb.empty())
        report("error text=cannot_run_%s", verb.c_str());
}

// The test writes the commands file whole (by a rename); taking it by a rename too
// means a file is never read half or twice.
DWORD WINAPI senderMain(void*)
{
    const std::wstring taken = g_commands + L".taken";
    for (std::string text, line;; Sleep(10))
        if (MoveFileExW(g_commands.c_str(), taken.c_str(), MOVEFILE_REPLACE_EXISTING) &&
            readTextFile(taken, text))
            for (std::istringstream lines(text); std::getline(lines, line);)
                run(line);
}

// Reads the configuration and starts the sender thread, at the priority of real MIDI drivers' input threads.
bool start()
{
    std::string text;
    const std::wstring path =
        configPath(nullptr, HKEY_CURRENT_USER, L"Software\\PomaroTest\\Midi", L"Config");
    if (!path.empty() && !readTextFile(path, text))
        std::fprintf(stderr, "PomaroTestMidi: cannot read the configuration file\n");
    std::istringstream lines(text);
    Hold hold(g_lock);
    for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        const size_t eq = line.find('=');
        const std::string key = trim(line.substr(0, eq));
        const std::wstring value = eq == std::string::npos ? L"" : widen(trim(line.substr(eq + 1)));
        if (line == "[port]")
            ports.emplace_back();
        else if (key == "name" && !ports.empty())
            ports.back().name = value;
        else if (key == "commands" || key == "report")
            (key == "commands" ? g_commands : g_report) = value;
    }
    HANDLE thread =
        g_commands.empty() ? nullptr : CreateThread(nullptr, 0, &senderMain, nullptr, 0, &g_senderThread);
    if (thread)
        SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL), CloseHandle(thread);
    return true;
}

} // namespace

// Wine's mmdevapi needs these four of an audio driver module; it lists no endpoint.
extern "C" {

__declspec(dllexport) int WINAPI GetPriority() { return 2; } // neutral: the highest priority wins

__declspec(dllexport) HRESULT WINAPI
    GetEndpointIDs(int, WCHAR*** ids, GUID** guids, UINT* count, UINT* defaultIndex)
{
    *ids = nullptr, *guids = nullptr, *count = *defaultIndex = 0;
    return S_OK;
}

// Never asked for, as no endpoint is listed.
__declspec(dllexport) HRESULT WINAPI GetAudioEndpoint(void*, void*, void**) { return E_NOTIMPL; }
__declspec(dllexport) HRESULT WINAPI GetAudioSessionManager(void*, void**) { return E_NOTIMPL; }

// The installable driver's entry; winmm keeps what DRV_OPEN answers as the instance id,
// which must not be 0 (the default answers 1 to load, free, enable and disable).
__declspec(dllexport) LRESULT WINAPI
    DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2)
{
    return message == DRV_OPEN || message == DRV_CLOSE ? 1 : DefDriverProc(id, driver, message, p1, p2);
}

// winmm's door to the MIDI input ports.
__declspec(dllexport) DWORD WINAPI
    midMessage(UINT device, UINT message, DWORD_PTR, DWORD_PTR p1, DWORD_PTR p2)
{
    switch (message) {
    case MIDM_GETNUMDEVS: { // winmm's first question
        static const bool started = start();
        Hold hold(g_lock);
        return started ? DWORD(ports.size()) : 0;
    }
    case MIDM_GETDEVCAPS: {
        // A name of 32 characters or more fills the field without a terminator, as some drivers leave it.
        MIDIINCAPSW caps{};
        Hold hold(g_lock);
        if (device >= ports.size())
            return MMSYSERR_BADDEVICEID;
        ports[device].name.copy(caps.szPname, MAXPNAMELEN);
        memcpy(reinterpret_cast<void*>(p1), &caps, std::min<size_t>(p2, sizeof caps));
        return MMSYSERR_NOERROR;
    }
    case MIDM_OPEN: {
        const Target target{*reinterpret_cast<const MIDIOPENDESC*>(p1), HIWORD(p2)};
        return change(device, message, &target);
    }
    case MIDM_START:
    case MIDM_STOP:
    case MIDM_CLOSE:
        return change(device, message);
    default: // winmm only traces what DRVM_INIT answers; the program gives no buffers and never resets
        return MMSYSERR_NOTSUPPORTED;
    }
}

} // extern "C"
