#include "DiagTestSupport.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "diag/DebugLog.h"

using namespace PomaroApp;

namespace {
void (*g_whileShown)() = nullptr;
DebugLog::MessageBoxFunction g_previous = nullptr;

int RecordBox(void* owner, const wchar_t* text, const wchar_t* caption, unsigned style)
{
    BoxRecorder::Boxes().push_back({owner == nullptr, text ? text : L"", caption ? caption : L"", style});
    if (g_whileShown)
        g_whileShown();
    return IDOK;
}
} // namespace

TempFolder::TempFolder()
{
    static int counter = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    // A test that died keeps its folder, which a later run of the same process id must not reuse.
    do
        path_ = std::wstring(base) + L"pomaro-diag-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter) + L"\\";
    while (!CreateDirectoryW(path_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::wstring BesideExe(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    std::wstring dir(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> LogBodies(const std::wstring& path)
{
    static const std::regex stamp(R"(^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\.[0-9]{3} )");
    const std::string bytes = ReadBytes(path);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        const std::string line = bytes.substr(start, end - start);
        lines.push_back(std::regex_search(line, stamp) ? line.substr(13) : "<no stamp>" + line);
    }
    return lines;
}

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

BoxRecorder::BoxRecorder(void (*whileShown)())
{
    Boxes().clear();
    g_whileShown = whileShown;
    g_previous = DebugLog::SetMessageBoxFunctionForTesting(&RecordBox);
}

BoxRecorder::~BoxRecorder()
{
    DebugLog::SetMessageBoxFunctionForTesting(g_previous);
    g_whileShown = nullptr;
}

std::vector<std::wstring> LogCapture::all()
{
    static TempFolder folder;
    if (!DebugLog::IsOpen())
        DebugLog::Open(folder.Path().c_str());
    std::vector<std::wstring> lines;
    for (const std::string& body : LogBodies(folder.File(L"PomaroApp.log"))) {
        std::wstring text(body.size(), L'\0');
        text.resize(size_t(
            MultiByteToWideChar(CP_ACP, 0, body.data(), int(body.size()), text.data(), int(text.size()))));
        lines.push_back(text);
    }
    return lines;
}
