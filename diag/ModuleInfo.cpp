#include "diag/DebugLog.h"

#include <windows.h>
#include <shlwapi.h>

#include <memory>
#include <new>

#include "diag/DebugLogInternal.h"
#include "diag/LogText.h"
#include "diag/TextBuffer.h"

namespace PomaroApp {

namespace {

using DebugLogInternal::writeWholeLine;
using LogText::kInfoLineSize;

// The module holding this code: the exe, or a DLL when the log is linked into one.
bool thisModulePath(wchar_t (&path)[MAX_PATH])
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&thisModulePath), &module))
        return false;
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    return n > 0 && n < MAX_PATH;
}

void writeFileName(const wchar_t* path)
{
    const wchar_t* name = PathFindFileNameW(path);
    if (!name || !name[0])
        name = path;
    wchar_t line[kInfoLineSize];
    if (LogText::format(line, kInfoLineSize, LogText::kModuleFileNameFormat, name))
        writeWholeLine(line);
}

void writeFileTime(const wchar_t* path)
{
    const HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FILETIME written, local;
    SYSTEMTIME t;
    const bool ok = GetFileTime(file, nullptr, nullptr, &written) &&
                    FileTimeToLocalFileTime(&written, &local) && FileTimeToSystemTime(&local, &t);
    CloseHandle(file);
    wchar_t line[kInfoLineSize];
    if (ok && LogText::format(line, kInfoLineSize, LogText::kModuleFileTimeFormat, unsigned(t.wYear),
                              unsigned(t.wMonth), unsigned(t.wDay), unsigned(t.wHour), unsigned(t.wMinute),
                              unsigned(t.wSecond)))
        writeWholeLine(line);
}

void readProductName(const void* block)
{
    struct Translation
    {
        WORD language;
        WORD codePage;
    };
    void* value = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block, L"\\VarFileInfo\\Translation", &value, &size) || size < sizeof(Translation))
        return;
    const auto* first = static_cast<const Translation*>(value);
    wchar_t query[50];
    if (!LogText::format(query, 50, LogText::kProductNameQueryFormat, unsigned(first->language),
                         unsigned(first->codePage)))
        return;
    if (!VerQueryValueW(block, query, &value, &size) || !value)
        return;
    const auto* name = static_cast<const wchar_t*>(value);
    if (DebugLog::IsOpen()) {
        DebugLogInternal::LineLock lock;
        DebugLogInternal::setCaption(name);
    } else {
        DebugLogInternal::setCaption(name);
    }
    wchar_t line[kInfoLineSize];
    if (LogText::format(line, kInfoLineSize, LogText::kModuleNameFormat, name))
        writeWholeLine(line);
}

void writeFileVersion(const void* block)
{
    void* value = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block, L"\\", &value, &size) || size < sizeof(VS_FIXEDFILEINFO))
        return;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    wchar_t line[kInfoLineSize];
    if (LogText::format(line, kInfoLineSize, LogText::kModuleVersionFormat,
                        unsigned(HIWORD(info->dwFileVersionMS)), unsigned(LOWORD(info->dwFileVersionMS)),
                        unsigned(HIWORD(info->dwFileVersionLS)), unsigned(LOWORD(info->dwFileVersionLS))))
        writeWholeLine(line);
}

void writeVersionResource(const wchar_t* path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[size]);
    if (!block || !GetFileVersionInfoW(path, 0, size, block.get()))
        return;
    readProductName(block.get());
    writeFileVersion(block.get());
}

void writeOsVersion()
{
    OSVERSIONINFOW os{};
    os.dwOSVersionInfoSize = sizeof(os);
    wchar_t line[kInfoLineSize];
    if (GetVersionExW(&os) &&
        LogText::format(line, kInfoLineSize, LogText::kOsVersionFormat, int(os.dwMajorVersion),
                        int(os.dwMinorVersion), int(os.dwBuildNumber), os.szCSDVersion))
        writeWholeLine(line);
}

void writeProcessor()
{
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    wchar_t line[kInfoLineSize];
    if (LogText::format(line, kInfoLineSize, LogText::kArchitectureFormat,
                        LogText::architectureName(info.wProcessorArchitecture)))
        writeWholeLine(line);
    if (LogText::format(line, kInfoLineSize, LogText::kProcessorInfoFormat, int(info.dwNumberOfProcessors),
                        int(info.wProcessorLevel), int(info.wProcessorRevision >> 8),
                        int(info.wProcessorRevision & 0xFF)))
        writeWholeLine(line);

    TextBuffer features;
    features.Assign(LogText::kFeaturesLead);
    for (const LogText::ProcessorFeature& feature : LogText::kProcessorFeatures)
        if (IsProcessorFeaturePresent(feature.id))
            features.Append(feature.text);
    if (features.Text())
        writeWholeLine(features.Text());
}

} // namespace

void DebugLog::WriteModuleInfo()
{
    wchar_t path[MAX_PATH];
    const bool havePath = thisModulePath(path);
    if (havePath)
        writeFileName(path);

    wchar_t line[kInfoLineSize];
    if (LogText::format(line, kInfoLineSize, LogText::kModuleTypeFormat, int(sizeof(void*) * 8)))
        writeWholeLine(line);

    if (havePath) {
        writeFileTime(path);
        writeVersionResource(path);
    }
    writeWholeLine(LogText::kBuildTypeLine);
    writeOsVersion();
    writeProcessor();
}

} // namespace PomaroApp
