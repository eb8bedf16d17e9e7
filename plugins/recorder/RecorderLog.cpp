#include "plugins/recorder/Recorder.h"

#include "pluginterfaces/vst/ivsthostapplication.h"

#include <windows.h>

#include <cmath>
#include <cstring>
#include <utility>

using namespace Steinberg;

namespace Recorder {

namespace {

std::atomic<uint32_t> gSeq{0};
std::atomic<int> gLive{0};

// Bounded lock-free queue of fixed-size text records (Vyukov's sequence scheme): the audio
// thread pushes without allocating or locking; the drain runs under the file lock.
constexpr size_t kSlots = 512, kSlotBytes = 1024;
struct Slot
{
    std::atomic<size_t> sequence{0};
    size_t length{0};
    char text[kSlotBytes];
};
struct Ring
{
    Ring()
    {
        for (size_t i = 0; i < kSlots; ++i)
            slots[i].sequence.store(i, std::memory_order_relaxed);
    }
    Slot slots[kSlots];
};
Ring gRing;
alignas(64) std::atomic<size_t> gWritePos{0};
alignas(64) std::atomic<size_t> gReadPos{0};

// Serialises file appends and draining so records leave in order. Never taken on the audio thread.
SRWLOCK gFileLock = SRWLOCK_INIT;
char gBatch[64 * 1024];
size_t gBatchLength = 0;

void flushBatch()
{
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(L"POMARO_RECORDER_LOG", path, MAX_PATH * 2);
    // Opened per batch: each WriteFile reaches the system before the call returns, so a host
    // that crashes afterwards still leaves every finished line in the file.
    HANDLE file =
        n && n < MAX_PATH * 2 && gBatchLength
            ? CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
            : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, gBatch, DWORD(gBatchLength), &written, nullptr);
        CloseHandle(file);
    }
    gBatchLength = 0;
}

void batchLine(const char* text, size_t length)
{
    if (gBatchLength + length + 1 > sizeof(gBatch))
        flushBatch();
    std::memcpy(gBatch + gBatchLength, text, length);
    gBatchLength += length;
    gBatch[gBatchLength++] = '\n';
}

// Under the file lock: every waiting process record, oldest first, then the line.
void writeLocked(const char* text, size_t length)
{
    for (size_t pos = gReadPos.load(std::memory_order_relaxed);; ++pos) {
        Slot& slot = gRing.slots[pos % kSlots];
        if (slot.sequence.load(std::memory_order_acquire) != pos + 1)
            break; // empty, or the next record is still being written
        batchLine(slot.text, slot.length);
        slot.sequence.store(pos + kSlots, std::memory_order_release);
        gReadPos.store(pos + 1, std::memory_order_relaxed);
    }
    if (text)
        batchLine(text, length);
    flushBatch();
}

// One flusher for all active components of the module.
HANDLE gFlusherThread = nullptr, gFlusherStop = nullptr;
int gFlusherUsers = 0;
SRWLOCK gFlusherLock = SRWLOCK_INIT;

DWORD WINAPI flusherMain(void* stopEvent)
{
    while (WaitForSingleObject(static_cast<HANDLE>(stopEvent), 20) == WAIT_TIMEOUT)
        drainProcessRecords();
    return 0;
}

const char* resultName(tresult r)
{
#define RECORDER_RESULT(name) std::pair<tresult, const char*>(name, #name)
    static const std::pair<tresult, const char*> names[] = {
        RECORDER_RESULT(kResultOk),        RECORDER_RESULT(kResultFalse),    RECORDER_RESULT(kNoInterface),
        RECORDER_RESULT(kInvalidArgument), RECORDER_RESULT(kNotImplemented), RECORDER_RESULT(kInternalError)};
#undef RECORDER_RESULT
    for (const auto& n : names)
        if (n.first == r)
            return n.second;
    return "other";
}

} // namespace

uint32_t nextSeq() { return gSeq.fetch_add(1, std::memory_order_relaxed) + 1; }
uint32_t currentThreadId() { return GetCurrentThreadId(); }
std::atomic<int>& liveObjects() { return gLive; }

LineWriter& LineWriter::ch(char c)
{
    if (len + 1 < cap) {
        buf[len++] = c;
        buf[len] = 0;
    }
    return *this;
}

LineWriter& LineWriter::text(const char* s)
{
    for (s = s ? s : "(null)"; *s; ++s)
        ch(*s);
    return *this;
}

LineWriter& LineWriter::kv(const char* key, const char* value)
{
    ch(' ').text(key).ch('=');
    for (const char* s = value ? value : "(null)"; *s; ++s) {
        const unsigned char c = static_cast<unsigned char>(*s);
        if (c <= 0x20 || c == '%' || c == 0x7F)
            ch('%').ch("0123456789ABCDEF"[c >> 4]).ch("0123456789ABCDEF"[c & 15]);
        else
            ch(*s);
    }
    return *this;
}

LineWriter& LineWriter::integer(int64_t v)
{
    char digits[24];
    int n = 0;
    // The magnitude as unsigned, so INT64_MIN does not overflow.
    uint64_t m = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
    do {
        digits[n++] = char('0' + m % 10);
        m /= 10;
    } while (m);
    if (v < 0)
        ch('-');
    while (n)
        ch(digits[--n]);
    return *this;
}

LineWriter& LineWriter::number(double v)
{
    // Beyond 9e12 the scaled value no longer fits an int64; the recorder logs no such values.
    if (!std::isfinite(v) || std::fabs(v) >= 9e12)
        return text("nan");
    const int64_t scaled = std::llround(std::fabs(v) * 1e6);
    if (v < 0 && scaled != 0)
        ch('-');
    integer(scaled / 1000000);
    int64_t frac = scaled % 1000000;
    if (frac) {
        ch('.');
        for (int64_t digit = 100000; frac; digit /= 10) {
            ch(char('0' + frac / digit));
            frac %= digit;
        }
    }
    return *this;
}

Call::Call(const char* object, const char* method) : line(buffer, sizeof(buffer))
{
    line.integer(nextSeq()).ch(' ').integer(currentThreadId()).ch(' ').text(object).ch('.').text(method);
}

tresult Call::done(tresult r)
{
    doneText(resultName(r));
    return r;
}

void Call::doneText(const char* result, bool wait)
{
    line.text(" -> ").text(result);
    if (wait)
        AcquireSRWLockExclusive(&gFileLock);
    else if (!TryAcquireSRWLockExclusive(&gFileLock))
        return;
    writeLocked(line.data(), line.size());
    ReleaseSRWLockExclusive(&gFileLock);
}

bool pushProcessRecord(size_t (*fill)(char*, size_t, const void*), const void* context)
{
    size_t pos = gWritePos.load(std::memory_order_relaxed);
    for (;;) {
        Slot& slot = gRing.slots[pos % kSlots];
        const intptr_t diff = intptr_t(slot.sequence.load(std::memory_order_acquire)) - intptr_t(pos);
        if (diff < 0)
            return false; // the slot still holds an unread record: full
        if (diff > 0)
            pos = gWritePos.load(std::memory_order_relaxed);
        else if (gWritePos.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
            slot.length = fill(slot.text, kSlotBytes, context);
            slot.sequence.store(pos + 1, std::memory_order_release);
            return true;
        }
    }
}

void drainProcessRecords()
{
    AcquireSRWLockExclusive(&gFileLock);
    writeLocked(nullptr, 0);
    ReleaseSRWLockExclusive(&gFileLock);
}

void startFlusher()
{
    AcquireSRWLockExclusive(&gFlusherLock);
    if (gFlusherUsers++ == 0 && (gFlusherStop = CreateEventW(nullptr, TRUE, FALSE, nullptr)))
        gFlusherThread = CreateThread(nullptr, 0, flusherMain, gFlusherStop, 0, nullptr);
    ReleaseSRWLockExclusive(&gFlusherLock);
}

void stopFlusher()
{
    AcquireSRWLockExclusive(&gFlusherLock);
    if (gFlusherUsers > 0 && --gFlusherUsers == 0 && gFlusherStop) {
        SetEvent(gFlusherStop);
        if (gFlusherThread) {
            WaitForSingleObject(gFlusherThread, INFINITE);
            CloseHandle(gFlusherThread);
        }
        CloseHandle(gFlusherStop);
        gFlusherThread = gFlusherStop = nullptr;
    }
    ReleaseSRWLockExclusive(&gFlusherLock);
    drainProcessRecords();
}

void logHostName(FUnknown* context)
{
    Call call("hostapp", "getName");
    Vst::IHostApplication* app = nullptr;
    if (!context ||
        context->queryInterface(Vst::IHostApplication::iid, reinterpret_cast<void**>(&app)) != kResultOk ||
        !app)
        return call.doneText("noIHostApplication");
    Vst::String128 name{};
    const tresult r = app->getName(name);
    app->release();
    name[127] = 0;
    char utf8[512];
    const int n = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(name), -1, utf8,
                                      int(sizeof(utf8)), nullptr, nullptr);
    call.w().kv("name", n > 0 ? utf8 : "");
    call.done(r);
}

} // namespace Recorder
