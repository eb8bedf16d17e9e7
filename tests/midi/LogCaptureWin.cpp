// Under Wine the ports write to the program's own log, which is read back from disk.

#include "LogCapture.h"

#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace MidiTest {

namespace {

constexpr size_t kStampLength = 13;

std::wstring logFolder()
{
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        std::abort();
    return std::wstring(temp) + L"pomaro-midi-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
}

std::string readFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

std::wstring fromAnsi(const std::string& bytes)
{
    if (bytes.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

} // namespace

LogCapture::LogCapture()
{
    DebugLogTesting::Reset();
    const std::wstring folder = logFolder();
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW((folder + L"PomaroApp.log").c_str());
    if (!DebugLog::Open(folder.c_str()))
        std::abort();
}

LogCapture::~LogCapture()
{
    DebugLogTesting::Reset();
    const std::wstring folder = logFolder();
    DeleteFileW((folder + L"PomaroApp.log").c_str());
    RemoveDirectoryW(folder.c_str());
}

std::vector<std::wstring> LogCapture::lines() const
{
    const std::wstring text = fromAnsi(readFile(logFolder() + L"PomaroApp.log"));
    std::vector<std::wstring> result;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(L"\r\n", begin);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = text.substr(begin, end - begin);
        result.push_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
        begin = end + 2;
    }
    return result;
}

} // namespace MidiTest
