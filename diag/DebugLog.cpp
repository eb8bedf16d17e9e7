#include "diag/DebugLog.h"

#include <windows.h>
#include <shlwapi.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "diag/DebugLogInternal.h"
#include "diag/DebugLogTesting.h"
#include "diag/LogText.h"
#include "diag/TextBuffer.h"

namespace PomaroApp {

namespace {

int systemMessageBox(void* owner, const wchar_t* text, const wchar_t* caption, unsigned style)
{
    return MessageBoxW(static_cast<HWND>(owner), text, caption, style);
}

constexpr std::uint64_t kBufferStart = 1024;

struct LogState
{
    // Null while closed. It changes only in Open, before other threads run, but the
    // store is still published with release so every writer sees the lock initialised.
    std::atomic<void*> file{nullptr};
    CRITICAL_SECTION lock{};
    TextBuffer line;
    ByteTextBuffer converted;
    TextBuffer caption;
    std::atomic<DebugLog::MessageBoxFunction> messageBox{&systemMessageBox};

    LogState() noexcept
    {
        line.Reserve(kBufferStart);
        converted.Reserve(kBufferStart);
    }
    ~LogState()
    {
        // The handle stays open for the system to close; late writers find the log shut.
        const bool open = file.load(std::memory_order_acquire) != nullptr;
        if (open)
            EnterCriticalSection(&lock);
        file.store(nullptr, std::memory_order_release);
        line.Free();
        converted.Free();
        caption.Free();
        if (open)
            LeaveCriticalSection(&lock);
    }
};

LogState g_log;

HANDLE logFile() { return static_cast<HANDLE>(g_log.file.load(std::memory_order_acquire)); }

int byteRoom(const ByteTextBuffer& buffer)
{
    return buffer.Capacity() > INT_MAX ? INT_MAX : static_cast<int>(buffer.Capacity());
}

// Converts the line into the ANSI code page; false when it cannot be converted.
bool convertLine()
{
    const wchar_t* wide = g_log.line.Text();
    if (!wide)
        return false;
    if (g_log.converted.Capacity() > 0 &&
        WideCharToMultiByte(CP_ACP, 0, wide, -1, g_log.converted.Data(), byteRoom(g_log.converted), nullptr,
                            nullptr) >= 1)
        return true;
    const int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed < 1 || !g_log.converted.Reserve(static_cast<std::uint64_t>(needed)))
        return false;
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, g_log.converted.Data(), byteRoom(g_log.converted),
                               nullptr, nullptr) >= 1;
}

void writeBody(const wchar_t* section, const wchar_t* message)
{
    DebugLogInternal::appendText(section);
    DebugLogInternal::appendText(L" : ");
    DebugLogInternal::appendText(message);
}

void showLineBox() { DebugLog::ShowErrorBox(DebugLogInternal::lineBody()); }

// One whole line under the lock: the stamp, what fill appends, the line end; then the box.
template <typename Fill> void writeWith(bool showBox, Fill fill)
{
    if (!DebugLog::IsOpen())
        return;
    DebugLogInternal::LineLock lock;
    DebugLogInternal::beginLine();
    fill();
    DebugLogInternal::endLine();
    if (showBox)
        showLineBox();
}

} // namespace

namespace DebugLogInternal {

LineLock::LineLock() { EnterCriticalSection(&g_log.lock); }

LineLock::~LineLock() { LeaveCriticalSection(&g_log.lock); }

void beginLine()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[16];
    LogText::formatStamp(stamp, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    g_log.line.Clear();
    g_log.line.Append(stamp);
}

void appendText(const wchar_t* text) { g_log.line.Append(text); }

void appendErrorText(std::uint32_t errorCode)
{
    wchar_t code[16];
    if (LogText::format(code, 16, L" : 0x%08X", static_cast<unsigned>(errorCode)))
        g_log.line.Append(code);
    wchar_t* message = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_FROM_SYSTEM,
                                   nullptr, errorCode, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    if (n > 0 && message) {
        message[LogText::trimmedMessageLength(message, n)] = L'\0';
        g_log.line.Append(L" : ");
        g_log.line.Append(message);
    }
    if (message)
        LocalFree(message);
}

void endLine()
{
    g_log.line.Append(L"\r\n");
    if (!convertLine())
        return;
    const char* bytes = g_log.converted.Text();
    const std::size_t length = std::strlen(bytes);
    DWORD written = 0;
    WriteFile(logFile(), bytes, static_cast<DWORD>(length), &written, nullptr);
    FlushFileBuffers(logFile());
}

const wchar_t* lineBody()
{
    const wchar_t* line = g_log.line.Text();
    if (!line || g_log.line.Length() < LogText::kStampLength)
        return L"";
    return line + LogText::kStampLength;
}

void setCaption(const wchar_t* caption) { g_log.caption.Assign(caption); }

void writeWholeLine(const wchar_t* body)
{
    writeWith(false, [&] { appendText(body); });
}

} // namespace DebugLogInternal

using namespace DebugLogInternal;

bool DebugLog::Open(const wchar_t* folder)
{
    if (IsOpen()) {
        WriteSeparator();
        Write(L"DebugLog::Open()", L"複数回呼ばれました", false);
        WriteSeparator();
        return true;
    }
    // Without a folder the name would land in whatever the current directory is.
    if (!folder || !folder[0])
        return false;
    InitializeCriticalSection(&g_log.lock);
    wchar_t name[MAX_PATH];
    int counter = 1;
    if (LogText::formatLogFileName(name, MAX_PATH, counter)) {
        for (;;) {
            wchar_t path[MAX_PATH];
            if (!PathCombineW(path, folder, name))
                break;
            const HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                g_log.file.store(file, std::memory_order_release);
                return true;
            }
            ++counter;
            if (counter > LogText::kLastFileCounter || !LogText::formatLogFileName(name, MAX_PATH, counter))
                break;
        }
    }
    DeleteCriticalSection(&g_log.lock);
    return false;
}

bool DebugLog::IsOpen() { return g_log.file.load(std::memory_order_acquire) != nullptr; }

void DebugLog::WriteLine(const wchar_t* text, bool showBox)
{
    writeWith(showBox, [&] { appendText(text); });
}

void DebugLog::WriteSeparator()
{
    writeWith(false, [] { g_log.line.AppendRepeated(L'-', LogText::kSeparatorLength); });
}

void DebugLog::Write(const wchar_t* section, const wchar_t* message, bool showBox)
{
    writeWith(showBox, [&] { writeBody(section, message); });
}

void DebugLog::WriteError(const wchar_t* section, const wchar_t* message, std::uint32_t errorCode,
                          bool showBox)
{
    writeWith(showBox, [&] {
        writeBody(section, message);
        appendErrorText(errorCode);
    });
}

void DebugLog::WriteErrorDetail(const wchar_t* section, const wchar_t* message, const wchar_t* detail,
                                std::uint32_t errorCode)
{
    writeWith(false, [&] {
        writeBody(section, message);
        appendText(L" : ");
        appendText(detail);
        appendErrorText(errorCode);
    });
}

const wchar_t* DebugLog::Caption() { return g_log.caption.Text(); }

void DebugLog::ShowErrorBox(const wchar_t* text)
{
    g_log.messageBox.load(std::memory_order_acquire)(nullptr, text, Caption(), MB_OK | MB_ICONERROR);
}

DebugLog::MessageBoxFunction DebugLog::SetMessageBoxFunctionForTesting(MessageBoxFunction function)
{
    return g_log.messageBox.exchange(function ? function : &systemMessageBox, std::memory_order_acq_rel);
}

void DebugLogTesting::Reset()
{
    g_log.caption.Free();
    const HANDLE file = logFile();
    if (!file)
        return;
    g_log.file.store(nullptr, std::memory_order_release);
    CloseHandle(file);
    DeleteCriticalSection(&g_log.lock);
}

} // namespace PomaroApp
