// The host as the audio device's data provider.

#include "app/Host.h"
#include "audio/CallInside.h"
#include "diag/CrashReport.h"
#include "diag/DebugLog.h"
#include "diag/SehGuard.h"
#include "host/RenderCore.h"

#include <cwchar>

namespace PomaroApp {

bool CHost::onPrepare(Kelvane::SampleFormat format, Kelvane::SampleRate rate, int32_t bufferFrames,
                      bool isInterleaved)
{
    sampleFormat = format;
    const int32_t hz = Kelvane::sampleRateToHz(rate);
    blockSize = bufferFrames;
    interleaved = isInterleaved;
    sampleRate = static_cast<double>(hz);

    wchar_t line[256];
    swprintf_s(line, 256, L"サンプルレート : %1.1fkHz", sampleRate * 0.001);
    DebugLog::WriteLine(line);
    swprintf_s(line, 256, L"バッファ長 : %d (%1.3fmsec)", blockSize, blockSize * 1000.0 / sampleRate);
    DebugLog::WriteLine(line);
    swprintf_s(line, 256, L"フォーマット：%ls", Kelvane::sampleFormatName(sampleFormat));
    DebugLog::WriteLine(line);
    return true;
}

namespace {

struct GuardedBlock
{
    CHost& host;
    DeviceFormat format;
    void* buffer0;
    void* buffer1;
};

void renderGuardedBlock(void* context)
{
    GuardedBlock& b = *static_cast<GuardedBlock*>(context);
    CHost& h = b.host;
    renderBlock(h.processData, RenderQueues{h.midiRing, h.paramsToProcessor, h.paramsFromProcessor},
                h.pProcessor, b.format, b.buffer0, b.buffer1);
}

} // namespace

bool CHost::onRender(void* buffer0, void* buffer1)
{
    // Counted before the state is read: stopProcessing leaves Processing first and looks
    // at the count after, so either it sees this call or this call sees the stop.
    const Kelvane::CallInside counted(renderCalls);
    // The load also pairs with the release that published Processing: the process data,
    // processor and device format written before it are visible here.
    if (processState.load(std::memory_order_seq_cst) != ProcessState::Processing)
        return false;
    const DeviceFormat format{sampleFormat, interleaved, blockSize};
    // Both device families enter here, on a thread of ours or of the driver. A fault
    // inside the plug-in is kept for the report, which the user-interface thread gives;
    // from then on the plug-in is not called and the device plays silence.
    if (!fatalErrorRecorded()) {
        GuardedBlock block{*this, format, buffer0, buffer1};
        if (callGuarded(&renderGuardedBlock, &block))
            return true;
        if (HWND frame = hwndFrame.load(std::memory_order_acquire))
            PostMessageW(frame, WM_HOST_AUDIO_FAULT, 0, 0);
    }
    renderSilence(processData, format, buffer0, buffer1);
    return true;
}

void CHost::onResetRequest()
{
    // Driver thread: only schedule the restart; the frame runs it on the UI thread. One
    // message stands for any number of requests.
    if (restartRequests.ask())
        if (HWND frame = hwndFrame.load(std::memory_order_acquire))
            PostMessageW(frame, WM_HOST_RESTART_AUDIO, 0, 0);
}

} // namespace PomaroApp
