#pragma once
// Shared pieces of the ASIO tests under Wine: registry keys of their own, the test
// driver's hooks, and a provider that records what the device asks of it.

#include "audio/AsioDriverRegistry.h"
#include "audio/AudioDevice.h"
#include "testdrivers/asio/TestAsioApi.h"

#include <windows.h>

#include <atomic>
#include <string>

std::wstring testDriverPath();

// A registry tree under HKEY_CURRENT_USER with "asio" and "clsid" keys that play the
// parts of the machine's driver list and class keys; removed at the end.
class ScratchRegistry
{
public:
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    // A driver key; a null clsid or description leaves that value out.
    HKEY addDriver(const wchar_t* keyName, const wchar_t* clsid, const wchar_t* description);
    // A class key whose InprocServer32 default value is serverPath (null: no such key).
    void addClass(const wchar_t* classKeyName, const wchar_t* serverPath);
    // Any value as raw bytes, of any type.
    static void setRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes);

    void load(Kelvane::AsioDriverRegistry& registry);
    HKEY clsidKey() const { return clsid_; }

private:
    std::wstring root_;
    HKEY asio_ = nullptr;
    HKEY clsid_ = nullptr;
};

// Makes the test driver's class known to COM (the machine's class key).
void registerTestDriverClass();

struct TestDriverHooks
{
    TestDriverHooks();
    void configure(const char* text) const { configureFn(text); }
    PomaroTestAsioStats stats() const
    {
        PomaroTestAsioStats s{};
        statsFn(&s);
        return s;
    }
    void reset() const { resetFn(); }
    std::string calls() const;

    HMODULE module = nullptr;
    PomaroTestAsioConfigureFn configureFn = nullptr;
    PomaroTestAsioStatsFn statsFn = nullptr;
    PomaroTestAsioResetFn resetFn = nullptr;
    PomaroTestAsioCallLogFn callLogFn = nullptr;
};

class RecordingProvider : public Kelvane::CAudioDevice::IDataProvider
{
public:
    bool onPrepare(Kelvane::SampleFormat f, Kelvane::SampleRate r, int32_t frames, bool interleaved) override
    {
        ++prepares;
        format = f;
        rate = r;
        bufferFrames = frames;
        wasInterleaved = interleaved;
        return acceptPrepare;
    }
    bool onRender(void* left, void* right) override
    {
        const DWORD thread = GetCurrentThreadId();
        DWORD none = 0;
        if (!firstThread.compare_exchange_strong(none, thread) && none != thread)
            otherThreads.fetch_add(1);
        if (thread == mainThread)
            onMainThread.store(true);
        if (inside.exchange(true))
            overlapped.store(true);
        renders.fetch_add(1);
        lastLeft.store(left);
        lastRight.store(right);
        if (left && right && bufferFrames > 0 && format == Kelvane::SampleFormatInt16) {
            auto* l = static_cast<int16_t*>(left);
            auto* r = static_cast<int16_t*>(right);
            for (int32_t i = 0; i < bufferFrames; ++i) {
                l[i] = 1000;
                r[i] = -1000;
            }
        }
        if (renderDelayMs)
            Sleep(renderDelayMs);
        if (ended.load())
            renderAfterEnd.store(true);
        inside.store(false);
        return acceptRender.load();
    }
    void onResetRequest() override { resets.fetch_add(1); }

    bool acceptPrepare = true;
    std::atomic<bool> acceptRender{true};
    DWORD renderDelayMs = 0;
    int prepares = 0;
    Kelvane::SampleFormat format = Kelvane::SampleFormatUnknown;
    Kelvane::SampleRate rate = Kelvane::RateNone;
    int32_t bufferFrames = 0;
    bool wasInterleaved = true;
    std::atomic<int> renders{0};
    std::atomic<int> resets{0};
    std::atomic<void*> lastLeft{nullptr};
    std::atomic<void*> lastRight{nullptr};
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> ended{false}; // set by the test once the device is stopped or gone
    std::atomic<bool> renderAfterEnd{false};
    const DWORD mainThread = GetCurrentThreadId();
    std::atomic<bool> onMainThread{false};
    std::atomic<DWORD> firstThread{0};
    std::atomic<int> otherThreads{0}; // renders on another thread than the first one
};

// Waits up to timeoutMs for predicate; true when it held.
template <typename F> bool waitFor(F predicate, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!predicate()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(2);
    }
    return true;
}
