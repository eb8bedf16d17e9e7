#include "DiagTestSupport.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <regex>

#include "diag/DebugLog.h"

using namespace PomaroApp;

namespace {
std::atomic<int> g_folderCounter{0};
std::vector<RecordedBox> g_boxes;
BoxRecorder::Hook g_hook = nullptr;
DebugLog::MessageBoxFunction g_previous = nullptr;

int RecordBox(void* owner, const wchar_t* text, const wchar_t* caption, unsigned style)
{
    g_boxes.push_back(
        {owner == nullptr, text ? text : L"", caption == nullptr, caption ? caption : L"", style});
    if (g_hook)
        g_hook();
    return IDOK;
}
} // namespace

TempFolder::TempFolder()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    // A folder of an earlier run with the same process id may still be there (a test that
    // died keeps its files): take the next name, never a folder that is already in use.
    for (;;) {
        path_ = std::wstring(base) + L"pomaro-diag-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++g_folderCounter) + L"\\";
        if (CreateDirectoryW(path_.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
}

TempFolder::~TempFolder()
{
    for (const std::wstring& name : FileNames())
        DeleteFileW(File(name).c_str());
    RemoveDirectoryW(path_.c_str());
}

std::vector<std::wstring> TempFolder::FileNames() const
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path_ + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::wstring BesideExe(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    std::wstring dir(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

std::string ReadBytes(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string bytes;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

std::vector<std::string> LogBodies(const std::wstring& path)
{
    static const std::regex stamp(R"(^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\.[0-9]{3} )");
    const std::string bytes = ReadBytes(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = bytes.substr(start, end - start);
        lines.push_back(std::regex_search(line, stamp) ? line.substr(13) : "<no stamp>" + line);
    }
    if (start < bytes.size())
        lines.push_back("<unterminated>" + bytes.substr(start));
    return lines;
}

std::string Narrow(const std::wstring& ascii)
{
    std::string out;
    for (wchar_t c : ascii)
        out.push_back(static_cast<char>(c));
    return out;
}

BoxRecorder::BoxRecorder(Hook whileShown)
{
    g_boxes.clear();
    g_hook = whileShown;
    g_previous = DebugLog::SetMessageBoxFunctionForTesting(&RecordBox);
}

BoxRecorder::~BoxRecorder()
{
    DebugLog::SetMessageBoxFunctionForTesting(g_previous);
    g_hook = nullptr;
}

std::vector<RecordedBox>& BoxRecorder::Boxes() { return g_boxes; }

namespace {
std::vector<std::wstring> AllLogLines()
{
    static TempFolder folder;
    if (!DebugLog::IsOpen())
        DebugLog::Open(folder.Path().c_str());
    std::vector<std::wstring> bodies;
    for (const std::string& body : LogBodies(folder.File(L"PomaroApp.log"))) {
        std::wstring text(body.size(), L'\0');
        text.resize(size_t(
            MultiByteToWideChar(CP_ACP, 0, body.data(), int(body.size()), &text[0], int(text.size()))));
        bodies.push_back(text);
    }
    return bodies;
}
} // namespace

LogCapture::LogCapture() : start_(AllLogLines().size()), seen_(start_) {}

LogCapture::~LogCapture() = default;

std::vector<std::wstring> LogCapture::lines() const
{
    const std::vector<std::wstring> all = AllLogLines();
    return std::vector<std::wstring>(all.begin() + std::min(start_, all.size()), all.end());
}

std::vector<std::wstring> LogCapture::newLines()
{
    const std::vector<std::wstring> all = AllLogLines();
    std::vector<std::wstring> fresh(all.begin() + std::min(seen_, all.size()), all.end());
    seen_ = all.size();
    return fresh;
}
