// Natively the code under test writes to this recording stand-in for the debug log.

#include "DiagTestSupport.h"

#include "diag/DebugLog.h"

#include <algorithm>
#include <mutex>

using namespace PomaroApp;

namespace {
std::mutex g_mutex;
std::vector<std::wstring> g_lines;
int g_captures = 0;
} // namespace

bool DebugLog::IsOpen()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_captures > 0;
}

void DebugLog::WriteLine(const wchar_t* text, bool)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_captures > 0)
        g_lines.emplace_back(text);
}

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_captures;
    start_ = seen_ = g_lines.size();
}

LogCapture::~LogCapture()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    --g_captures;
}

std::vector<std::wstring> LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::vector<std::wstring>(g_lines.begin() + std::min(start_, g_lines.size()), g_lines.end());
}

std::vector<std::wstring> LogCapture::newLines()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::wstring> fresh(g_lines.begin() + std::min(seen_, g_lines.size()), g_lines.end());
    seen_ = g_lines.size();
    return fresh;
}
