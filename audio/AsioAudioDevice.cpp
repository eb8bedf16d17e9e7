#include "audio/AsioAudioDevice.h"

#include "audio/AsioDriverRegistry.h"
#include "audio/AsioRules.h"
#include "audio/CallInside.h"
#include "audio/DeviceChoice.h"
#include "diag/DebugLog.h"

#include <cstring>
#include <new>
#include <thread>

namespace Kelvane {

namespace {

// The callbacks carry no context, so they reach the prepared device through this
// pointer. A callback announces itself in callbacksInside before it reads the
// pointer; the main thread clears the pointer and then waits until no callback is
// inside, so none can still hold a device that is being unprepared or deleted. Both
// sides use sequentially consistent operations: each sees the other's write first.
std::atomic<CAsioAudioDevice*> currentAsioDevice{nullptr};
std::atomic<int32_t> callbacksInside{0};

CAsioAudioDevice* deviceOfCallback() { return currentAsioDevice.load(std::memory_order_seq_cst); }

SampleFormat formatOfType(ASIOSampleType type)
{
    switch (type) {
    case ASIOSTInt16LSB:
        return SampleFormatInt16;
    case ASIOSTInt32LSB:
        return SampleFormatInt32;
    case ASIOSTFloat32LSB:
        return SampleFormatFloat32;
    default:
        return SampleFormatUnknown;
    }
}

// The driver's own text for a failed init, from the ANSI code page.
void logInitError(IAsioDriver* driver)
{
    char text[256] = {};
    driver->getErrorMessage(text);
    text[255] = 0; // a driver that fills the whole buffer gets no say beyond it
    wchar_t wide[256];
    wchar_t* message = wide;
    wchar_t* allocated = nullptr;
    int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide, 256);
    if (n == 0) {
        const int needed = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
        if (needed > 0 && (allocated = new (std::nothrow) wchar_t[needed]) != nullptr) {
            n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, allocated, needed);
            message = allocated;
        }
    }
    if (n == 0) {
        wide[0] = 0;
        message = wide;
    }
    PomaroApp::DebugLog::Write(L"ASIO Error", message, false);
    delete[] allocated;
}

} // namespace

CAsioAudioDevice::CAsioAudioDevice(AsioDriverRegistry* registry, int32_t driverNumber)
    : pRegistry(registry), number(driverNumber)
{
    const AsioDriverEntry* entry = registry ? registry->find(driverNumber) : nullptr;
    if (entry && entry->name[0]) {
        const int length = lstrlenW(entry->name);
        pName = new (std::nothrow) wchar_t[length + 1];
        if (pName)
            lstrcpynW(pName, entry->name, length + 1);
    }
}

CAsioAudioDevice::~CAsioAudioDevice()
{
    close();
    delete[] pName;
}

CAsioAudioDevice* CAsioAudioDevice::current() { return currentAsioDevice.load(std::memory_order_acquire); }

DeviceState CAsioAudioDevice::deviceState() const
{
    if (state == DeviceRunning && renderRefused.load(std::memory_order_acquire))
        return DeviceRenderRefused;
    return state;
}

bool CAsioAudioDevice::getBufferSizeRange(SampleRate, int32_t* minFrames, int32_t* maxFrames,
                                          int32_t* preferredFrames, int32_t* granularity)
{
    if (!pDriver || (!minFrames && !maxFrames && !preferredFrames && !granularity))
        return false;
    long minSize = 0, maxSize = 0, preferred = 0, step = 0;
    if (pDriver->getBufferSize(&minSize, &maxSize, &preferred, &step) != ASE_OK)
        return false;
    // A granularity of -1 (powers of two only) is passed on as it is.
    const BufferSizeRange range{static_cast<int32_t>(minSize), static_cast<int32_t>(maxSize),
                                static_cast<int32_t>(preferred), static_cast<int32_t>(step)};
    range.copyTo(minFrames, maxFrames, preferredFrames, granularity);
    return true;
}

bool CAsioAudioDevice::open(HWND window)
{
    if (state != DeviceClosed)
        close();
    sampleFormat = SampleFormatUnknown;
    supportedRates = 0;
    hWindow = window;
    if (!pRegistry)
        return false;
    IAsioDriver* driver = nullptr;
    if (pRegistry->openDriver(number, &driver) != 0)
        return false;
    pDriver = driver;
    pDriver->AddRef(); // one reference for the device, one kept by the registry entry

    if (!pDriver->init(window)) {
        logInitError(pDriver);
        close();
        return false;
    }
    long inputs = 0, outputs = 0;
    pDriver->getChannels(&inputs, &outputs);
    if (outputs < 2) {
        close();
        return false;
    }
    for (SampleRate rate : kSampleRates)
        if (pDriver->canSampleRate(sampleRateToHz(rate)) == ASE_OK)
            supportedRates |= rate;

    ASIOChannelInfo info{};
    info.channel = 0;
    info.isInput = 0;
    if (pDriver->getChannelInfo(&info) == ASE_OK)
        sampleFormat = formatOfType(info.type);
    state = DeviceOpen;
    return true;
}

bool CAsioAudioDevice::close()
{
    unprepare();
    sampleFormat = SampleFormatUnknown;
    supportedRates = 0;
    if (pDriver) {
        pDriver->Release();
        pDriver = nullptr;
        if (pRegistry)
            pRegistry->releaseDriver(number);
    }
    state = DeviceClosed;
    return true;
}

bool CAsioAudioDevice::prepare(SampleRate rate, int32_t frames, IDataProvider* provider)
{
    if (!pDriver || rate == RateNone || frames < 1 || !provider)
        return false;
    if (state != DeviceOpen || currentAsioDevice.load(std::memory_order_acquire))
        return false;
    if (pDriver->setSampleRate(static_cast<double>(sampleRateToHz(rate))) != ASE_OK)
        return false;

    ASIOBufferInfo infos[2] = {};
    infos[0].isInput = 0;
    infos[0].channelNum = 0;
    infos[1].isInput = 0;
    infos[1].channelNum = 1;
    callbacks = ASIOCallbacks{};
    callbacks.bufferSwitch = &CAsioAudioDevice::bufferSwitch;
    callbacks.sampleRateDidChange = &CAsioAudioDevice::sampleRateDidChange;
    callbacks.asioMessage = &CAsioAudioDevice::asioMessage;
    callbacks.bufferSwitchTimeInfo = &CAsioAudioDevice::bufferSwitchTimeInfo;
    if (pDriver->createBuffers(infos, 2, frames, &callbacks) != ASE_OK)
        return false;
    for (int channel = 0; channel < 2; ++channel)
        for (int half = 0; half < 2; ++half)
            buffers[channel][half] = infos[channel].buffers[half];

    if (!provider->onPrepare(sampleFormat, rate, frames, false)) {
        pDriver->disposeBuffers();
        for (auto& channel : buffers)
            channel[0] = channel[1] = nullptr;
        return false;
    }
    sampleRate = rate;
    bufferFrames = frames;
    pProvider = provider;
    renderRefused.store(false, std::memory_order_relaxed);
    // Everything above is published to the driver's threads with the pointer.
    CAsioAudioDevice* none = nullptr;
    if (!currentAsioDevice.compare_exchange_strong(none, this, std::memory_order_seq_cst)) {
        pDriver->disposeBuffers();
        pProvider = nullptr;
        sampleRate = RateNone;
        bufferFrames = 0;
        return false;
    }
    state = DevicePrepared;
    return true;
}

void CAsioAudioDevice::releaseCurrent()
{
    CAsioAudioDevice* self = this;
    currentAsioDevice.compare_exchange_strong(self, nullptr, std::memory_order_seq_cst);
    // A callback that read the pointer before it was cleared finishes first.
    while (callbacksInside.load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield();
}

bool CAsioAudioDevice::unprepare()
{
    if (!pDriver)
        return false;
    if (state == DeviceClosed || state == DeviceOpen) {
        // Nothing prepared; still make sure no callback can reach this device.
        if (currentAsioDevice.load(std::memory_order_acquire) == this)
            releaseCurrent();
        return state == DeviceOpen;
    }
    stop();
    releaseCurrent();
    if (pDriver->disposeBuffers() != ASE_OK)
        return false;
    for (auto& channel : buffers)
        channel[0] = channel[1] = nullptr;
    sampleRate = RateNone;
    bufferFrames = 0;
    pProvider = nullptr;
    state = DeviceOpen;
    return true;
}

bool CAsioAudioDevice::start()
{
    if (!pDriver || state != DevicePrepared)
        return false;
    renderRefused.store(false, std::memory_order_relaxed);
    startingThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
    gate.open();
    const ASIOError result = pDriver->start();
    startingThread.store(0, std::memory_order_relaxed);
    if (result != ASE_OK) {
        closeGate();
        return false;
    }
    state = DeviceRunning;
    return true;
}

void CAsioAudioDevice::closeGate()
{
    gate.close();
    const ULONGLONG begin = GetTickCount64();
    bool told = false;
    while (gate.busy()) {
        const ULONGLONG waited = GetTickCount64() - begin;
        if (!told && waited >= kRenderWaitReportMs) {
            PomaroApp::DebugLog::Write(L"CAsioAudioDevice::stop()",
                                       L"the render call has not returned after 3000 ms; waiting for it",
                                       false);
            told = true;
        }
        if (waited < 2)
            std::this_thread::yield();
        else
            Sleep(1);
    }
}

bool CAsioAudioDevice::stop()
{
    if (!pDriver)
        return false;
    closeGate();
    if (pDriver->stop() != ASE_OK)
        return false;
    renderRefused.store(false, std::memory_order_relaxed);
    if (state == DeviceRunning || state == DeviceRenderRefused)
        state = DevicePrepared;
    return true;
}

bool CAsioAudioDevice::showControlPanel()
{
    if (!pDriver)
        return false;
    const ASIOError result = pDriver->controlPanel();
    if (result == ASE_NotPresent)
        MessageBoxW(hWindow, L"このドライバには設定パネルがありません。", L"ASIO設定", MB_OK | MB_ICONHAND);
    return result == ASE_OK;
}

void CAsioAudioDevice::render(long doubleBufferIndex)
{
    const int half = doubleBufferIndex ? 1 : 0;
    if (GetCurrentThreadId() != startingThread.load(std::memory_order_relaxed) && gate.enter()) {
        if (!pProvider->onRender(buffers[0][half], buffers[1][half]))
            renderRefused.store(true, std::memory_order_release);
        gate.leave();
        return;
    }
    // Before start, after stop, inside start() or beside another switch still running:
    // the driver plays silence, never what the half held before.
    writeSilence(half);
}

void CAsioAudioDevice::writeSilence(int half)
{
    const size_t bytes = sampleFormat == SampleFormatInt16 ? 2 : sampleFormat == SampleFormatUnknown ? 0 : 4;
    for (auto& channel : buffers)
        if (channel[half])
            std::memset(channel[half], 0, bytes * static_cast<size_t>(bufferFrames));
}

void CAsioAudioDevice::bufferSwitch(long doubleBufferIndex, ASIOBool)
{
    const CallInside inside(callbacksInside);
    if (CAsioAudioDevice* device = deviceOfCallback())
        device->render(doubleBufferIndex);
}

ASIOTime* CAsioAudioDevice::bufferSwitchTimeInfo(ASIOTime*, long doubleBufferIndex, ASIOBool)
{
    const CallInside inside(callbacksInside);
    if (CAsioAudioDevice* device = deviceOfCallback())
        device->render(doubleBufferIndex);
    return nullptr;
}

void CAsioAudioDevice::sampleRateDidChange(ASIOSampleRate) {}

long CAsioAudioDevice::asioMessage(long selector, long value, void*, double*)
{
    const CallInside inside(callbacksInside);
    CAsioAudioDevice* device = deviceOfCallback();
    const AsioMessageAnswer a =
        asioMessageAnswer(selector, value, device != nullptr, device ? device->bufferFrames : 0);
    if (a.requestReset)
        device->pProvider->onResetRequest();
    return a.answer;
}

} // namespace Kelvane
