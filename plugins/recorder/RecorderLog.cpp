#include "plugins/recorder/Recorder.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <utility>

using namespace Steinberg;

namespace Recorder {

namespace {

std::atomic<uint32_t> gSeq{0};
// Each line is one unbuffered WriteFile, so a host that crashes afterwards still leaves every
// finished line in the file; the lock keeps lines whole and in the order their calls ended.
HANDLE gLog = INVALID_HANDLE_VALUE;
SRWLOCK gLogLock = SRWLOCK_INIT;

const char* resultName(tresult r)
{
    static const tresult results[] = {kResultOk,        kResultFalse,    kNoInterface,
                                      kInvalidArgument, kNotImplemented, kInternalError};
    static const char* const names[] = {"kResultOk",        "kResultFalse",    "kNoInterface",
                                        "kInvalidArgument", "kNotImplemented", "kInternalError"};
    for (size_t i = 0; i < sizeof(results) / sizeof(results[0]); ++i)
        if (results[i] == r)
            return names[i];
    return "other";
}

} // namespace

void openLog()
{
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(L"POMARO_RECORDER_LOG", path, MAX_PATH * 2);
    if (n && n < MAX_PATH * 2)
        gLog = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void closeLog()
{
    if (gLog != INVALID_HANDLE_VALUE)
        CloseHandle(std::exchange(gLog, INVALID_HANDLE_VALUE));
}

Call::Call(const char* object, const char* method)
{
    add("%u %lu %s.%s", unsigned(gSeq.fetch_add(1, std::memory_order_relaxed) + 1), GetCurrentThreadId(),
        object, method);
}

Call& Call::add(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int room = int(sizeof(line)) - length,
              n = std::vsnprintf(line + length, size_t(room), format, args);
    va_end(args);
    if (n > 0)
        length += n < room ? n : room - 1;
    return *this;
}

tresult Call::done(tresult r)
{
    doneText(resultName(r));
    return r;
}

void Call::doneText(const char* result, bool wait)
{
    add(" -> %s\n", result);
    line[length - 1] = '\n'; // even in a line cut short
    if (wait)
        AcquireSRWLockExclusive(&gLogLock);
    else if (!TryAcquireSRWLockExclusive(&gLogLock))
        return;
    DWORD written = 0;
    if (gLog != INVALID_HANDLE_VALUE)
        WriteFile(gLog, line, DWORD(length), &written, nullptr);
    ReleaseSRWLockExclusive(&gLogLock);
}

} // namespace Recorder
