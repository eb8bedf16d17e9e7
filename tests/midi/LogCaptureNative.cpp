// Natively the ports write to this recording stand-in for the debug log.

#include "LogCapture.h"

#include "diag/DebugLog.h"

#include <mutex>

using namespace PomaroApp;

namespace {
std::mutex g_mutex;
std::vector<std::wstring> g_lines;
bool g_open = false;
} // namespace

bool DebugLog::IsOpen()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_open;
}

void DebugLog::WriteLine(const wchar_t* text, bool)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_open)
        g_lines.emplace_back(text);
}

namespace MidiTest {

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
    g_open = true;
}

LogCapture::~LogCapture()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
    g_open = false;
}

std::vector<std::wstring> LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

} // namespace MidiTest
