// Natively the code under test writes to this recording stand-in for the debug log.
#include "DiagTestSupport.h"

#include "diag/DebugLog.h"

#include <mutex>

using namespace PomaroApp;

namespace {
std::mutex g_mutex;
std::vector<std::wstring> g_lines;
} // namespace

void DebugLog::WriteLine(const wchar_t* text, bool)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.emplace_back(text);
}

std::vector<std::wstring> LogCapture::all()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}
