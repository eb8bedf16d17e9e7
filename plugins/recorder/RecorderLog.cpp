#include "plugins/recorder/RecorderLog.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include <windows.h>

#include <cstring>

using namespace Steinberg;

namespace Recorder {

namespace {

std::atomic<uint32_t> gSeq{0};
std::atomic<int> gLive{0};
ProcessRing gRing;

// Serialises file appends and draining so records leave in order. Never taken on the
// audio thread.
SRWLOCK gFileLock = SRWLOCK_INIT;
char gBatch[64 * 1024];
size_t gBatchLength = 0;

void appendToFile(const char* data, size_t length)
{
    if (length == 0)
        return;
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"POMARO_RECORDER_LOG", path, DWORD(sizeof(path) / sizeof(path[0])));
    if (n == 0 || n >= sizeof(path) / sizeof(path[0]))
        return;
    // Opened per batch: each WriteFile reaches the system before the call returns, so a
    // host that crashes afterwards still leaves every finished line in the file.
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, data, DWORD(length), &written, nullptr);
    CloseHandle(file);
}

void flushBatch()
{
    appendToFile(gBatch, gBatchLength);
    gBatchLength = 0;
}

void batchLine(const char* text, size_t length)
{
    if (gBatchLength + length + 1 > sizeof(gBatch))
        flushBatch();
    if (length + 1 > sizeof(gBatch))
        length = sizeof(gBatch) - 1;
    std::memcpy(gBatch + gBatchLength, text, length);
    gBatchLength += length;
    gBatch[gBatchLength++] = '\n';
}

void drainLocked()
{
    gRing.drain([](const char* text, size_t length) { batchLine(text, length); });
}

struct Flusher
{
    HANDLE thread{nullptr};
    HANDLE stop{nullptr};
    int users{0};
};
Flusher gFlusher;
SRWLOCK gFlusherLock = SRWLOCK_INIT;

DWORD WINAPI flusherMain(void* stopEvent)
{
    while (WaitForSingleObject(static_cast<HANDLE>(stopEvent), 20) == WAIT_TIMEOUT)
        drainProcessRecords();
    return 0;
}

} // namespace

uint32_t nextSeq() { return gSeq.fetch_add(1, std::memory_order_relaxed) + 1; }
uint32_t currentThreadId() { return GetCurrentThreadId(); }
std::atomic<int>& liveObjects() { return gLive; }
ProcessRing& processRing() { return gRing; }

const char* resultName(tresult r)
{
    switch (r) {
    case kResultOk:
        return "kResultOk";
    case kResultFalse:
        return "kResultFalse";
    case kNoInterface:
        return "kNoInterface";
    case kInvalidArgument:
        return "kInvalidArgument";
    case kNotImplemented:
        return "kNotImplemented";
    case kInternalError:
        return "kInternalError";
    case kNotInitialized:
        return "kNotInitialized";
    case kOutOfMemory:
        return "kOutOfMemory";
    default:
        return "other";
    }
}

const char* iidName(const TUID iid, char (&hexBuffer)[40])
{
    struct Known
    {
        const TUID& id;
        const char* name;
    };
    static const Known known[] = {
        {FUnknown::iid, "FUnknown"},
        {IPluginBase::iid, "IPluginBase"},
        {Vst::IComponent::iid, "IComponent"},
        {Vst::IAudioProcessor::iid, "IAudioProcessor"},
        {Vst::IConnectionPoint::iid, "IConnectionPoint"},
        {Vst::IEditController::iid, "IEditController"},
        {Vst::IEditController2::iid, "IEditController2"},
        {Vst::IMidiMapping::iid, "IMidiMapping"},
        {Vst::IMessage::iid, "IMessage"},
        {Vst::IProcessContextRequirements::iid, "IProcessContextRequirements"},
        {Vst::IAudioPresentationLatency::iid, "IAudioPresentationLatency"},
        {IPlugView::iid, "IPlugView"},
    };
    for (const Known& k : known)
        if (FUnknownPrivate::iidEqual(iid, k.id))
            return k.name;
    LineWriter w(hexBuffer, sizeof(hexBuffer));
    w.text("iid:");
    for (int i = 0; i < 16; ++i) {
        const unsigned char b = static_cast<unsigned char>(iid[i]);
        w.ch("0123456789ABCDEF"[b >> 4]).ch("0123456789ABCDEF"[b & 15]);
    }
    return hexBuffer;
}

Call::Call(const char* object, const char* method) : line(buffer, sizeof(buffer))
{
    line.integer(nextSeq()).ch(' ').integer(currentThreadId()).ch(' ').text(object).ch('.').text(method);
}

void Call::finish() { writeLine(line.data(), line.size()); }

tresult Call::done(tresult r)
{
    line.text(" -> ").text(resultName(r));
    finish();
    return r;
}

void Call::doneText(const char* result)
{
    line.text(" -> ").text(result);
    finish();
}

void Call::doneTextIfFree(const char* result)
{
    line.text(" -> ").text(result);
    writeLineIfFree(line.data(), line.size());
}

void Call::doneInt(int64_t result)
{
    line.text(" -> ").integer(result);
    finish();
}

void Call::doneNum(double result)
{
    line.text(" -> ").number(result);
    finish();
}

void writeLine(const char* text, size_t length)
{
    AcquireSRWLockExclusive(&gFileLock);
    drainLocked();
    batchLine(text, length);
    flushBatch();
    ReleaseSRWLockExclusive(&gFileLock);
}

bool writeLineIfFree(const char* text, size_t length)
{
    if (!TryAcquireSRWLockExclusive(&gFileLock))
        return false;
    drainLocked();
    batchLine(text, length);
    flushBatch();
    ReleaseSRWLockExclusive(&gFileLock);
    return true;
}

void drainProcessRecords()
{
    AcquireSRWLockExclusive(&gFileLock);
    drainLocked();
    flushBatch();
    ReleaseSRWLockExclusive(&gFileLock);
}

void startFlusher()
{
    AcquireSRWLockExclusive(&gFlusherLock);
    if (gFlusher.users++ == 0) {
        gFlusher.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (gFlusher.stop)
            gFlusher.thread = CreateThread(nullptr, 0, flusherMain, gFlusher.stop, 0, nullptr);
        if (gFlusher.stop && !gFlusher.thread) {
            CloseHandle(gFlusher.stop);
            gFlusher.stop = nullptr;
        }
    }
    ReleaseSRWLockExclusive(&gFlusherLock);
}

void stopFlusher()
{
    AcquireSRWLockExclusive(&gFlusherLock);
    if (gFlusher.users > 0 && --gFlusher.users == 0 && gFlusher.thread) {
        SetEvent(gFlusher.stop);
        WaitForSingleObject(gFlusher.thread, INFINITE);
        CloseHandle(gFlusher.thread);
        CloseHandle(gFlusher.stop);
        gFlusher.thread = nullptr;
        gFlusher.stop = nullptr;
    }
    ReleaseSRWLockExclusive(&gFlusherLock);
    drainProcessRecords();
}

} // namespace Recorder
