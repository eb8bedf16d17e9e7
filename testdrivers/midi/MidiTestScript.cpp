// The configuration and the sender thread, which runs the test's commands.
#include "testdrivers/midi/MidiTestDriver.h"

#include "testdrivers/common/ConfigFile.h"
#include "testdrivers/common/TextParse.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace PomaroTestMidi {

namespace {

using namespace PomaroTestDrivers;

std::wstring g_commands;
std::wstring g_report;

void loadConfig()
{
    std::vector<std::wstring> names;
    const std::wstring path =
        configPath(nullptr, HKEY_CURRENT_USER, L"Software\\PomaroTest\\Midi", L"Config");
    std::string text;
    if (!path.empty() && !readTextFile(path, text))
        std::fprintf(stderr, "PomaroTestMidi: cannot read the configuration file\n");
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        if (line == "[port]") {
            names.emplace_back();
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = trim(line.substr(0, eq));
        const std::wstring value = widen(trim(line.substr(eq + 1)));
        if (key == "name" && !names.empty())
            names.back() = value;
        else if (key == "commands")
            g_commands = value;
        else if (key == "report")
            g_report = value;
    }
    if (names.empty())
        names.push_back(L"Pomaro Test MIDI");
    ports().configure(names);
}

void report(const std::string& line)
{
    if (g_report.empty())
        return;
    HANDLE f = CreateFileW(g_report.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

std::string format(const char* pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
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
    while (sent < count) {
        if (nowMs() < begin + sent * 1000.0 / rate) {
            Sleep(1);
            continue;
        }
        if (!ports().deliver(port, sent % 2 == 0 ? noteOn(note) : noteOff(note), stats)) {
            stopped = true;
            break;
        }
        ++sent;
    }
    report(format("flood port=%u note=%d count=%d rate=%g sent=%d stopped=%d paced_ms=%.1f took_ms=%.1f "
                  "longest_callback_ms=%.3f slow_callbacks=%d",
                  port, note, count, rate, sent, stopped ? 1 : 0, count * 1000.0 / rate, nowMs() - begin,
                  stats.longestMs, stats.slow));
}

// Plays a note and times how long the pixel at (x, y) of a window takes to change.
void light(UINT port, int note, const std::wstring& topClass, const std::wstring& childClass, int x, int y)
{
    HWND top = FindWindowW(topClass.c_str(), nullptr);
    HWND window = top ? FindWindowExW(top, nullptr, childClass.c_str(), nullptr) : nullptr;
    HDC dc = window ? GetDC(window) : nullptr;
    if (!dc) {
        report(format("light port=%u note=%d found=0", port, note));
        return;
    }
    DeliveryStats stats;
    const COLORREF before = GetPixel(dc, x, y);
    const double begin = nowMs();
    const bool delivered = ports().deliver(port, noteOn(note), stats);
    bool changed = false;
    while (delivered && !(changed = GetPixel(dc, x, y) != before) && nowMs() - begin < 30000.0)
        Sleep(1);
    const double took = nowMs() - begin;
    ReleaseDC(window, dc);
    ports().deliver(port, noteOff(note), stats);
    report(format("light port=%u note=%d found=1 delivered=%d changed=%d ms=%.1f", port, note,
                  delivered ? 1 : 0, changed ? 1 : 0, took));
}

void run(const std::string& line)
{
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    UINT port = 0;
    if (verb == "send") {
        std::string hex;
        in >> port >> hex;
        const DWORD message = static_cast<DWORD>(std::strtoul(hex.c_str(), nullptr, 16));
        DeliveryStats stats;
        const bool delivered = ports().deliver(port, message, stats);
        report(format("send port=%u message=%06lx delivered=%d", port, static_cast<unsigned long>(message),
                      delivered ? 1 : 0));
    } else if (verb == "flood") {
        int note = 0, count = 0;
        double rate = 0.0;
        in >> port >> note >> count >> rate;
        if (rate > 0.0)
            flood(port, note, count, rate);
        else
            report("error text=flood_needs_a_rate");
    } else if (verb == "light") {
        int note = 0, x = 0, y = 0;
        std::string topClass, childClass;
        in >> port >> note >> topClass >> childClass >> x >> y;
        light(port, note, widen(topClass), widen(childClass), x, y);
    } else if (!verb.empty()) {
        report("error text=unknown_command_" + verb);
    }
}

// The test writes the commands file whole (by a rename); taking it by a rename too
// means a file is never read half or twice.
DWORD WINAPI senderMain(void*)
{
    const std::wstring taken = g_commands + L".taken";
    for (;;) {
        std::string text;
        if (MoveFileExW(g_commands.c_str(), taken.c_str(), MOVEFILE_REPLACE_EXISTING) &&
            readTextFile(taken, text)) {
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);)
                run(trim(line));
        }
        Sleep(10);
    }
}

BOOL CALLBACK startOnce(INIT_ONCE*, void*, void**)
{
    loadConfig();
    if (!g_commands.empty()) {
        HANDLE thread = CreateThread(nullptr, 0, &senderMain, nullptr, 0, &ports().senderThread);
        if (thread) {
            // As the input threads of real MIDI drivers run.
            SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
            CloseHandle(thread);
        }
    }
    return TRUE;
}

} // namespace

void startSender()
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, &startOnce, nullptr, nullptr);
}

} // namespace PomaroTestMidi
