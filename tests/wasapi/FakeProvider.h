#pragma once
// A data provider for device tests: records what it was told, writes a running frame
// counter into the left channel, and can be made to wait, refuse or hold a call.

#include "audio/AudioDevice.h"

#include <atomic>

namespace WasapiTest {

class FakeProvider : public Kelvane::CAudioDevice::IDataProvider
{
public:
    FakeProvider() { held = CreateEventW(nullptr, TRUE, TRUE, nullptr); }
    ~FakeProvider() { CloseHandle(held); }

    bool onPrepare(Kelvane::SampleFormat format, Kelvane::SampleRate rate, int32_t frames,
                   bool isInterleaved) override
    {
        ++prepares;
        preparedFormat = format;
        preparedRate = rate;
        preparedFrames = frames;
        preparedInterleaved = isInterleaved;
        return acceptPrepare;
    }

    bool onRender(void* buffer0, void* buffer1) override
    {
        renderThread.store(GetCurrentThreadId());
        if (buffer1)
            secondBuffer.store(true);
        if (!ready.load(std::memory_order_acquire)) {
            notReadyCalls.fetch_add(1);
            return false;
        }
        entered.fetch_add(1);
        WaitForSingleObject(held, INFINITE);
        const int call = renders.fetch_add(1);
        if (refuseFrom >= 0 && call >= refuseFrom)
            return false;
        auto* out = static_cast<int16_t*>(buffer0);
        for (int32_t i = 0; i < preparedFrames; ++i) {
            out[2 * i] = static_cast<int16_t>((counter + i) % 30000 + 1);
            out[2 * i + 1] = 0;
        }
        counter += preparedFrames;
        return true;
    }

    void onResetRequest() override { ++resets; }

    void hold() { ResetEvent(held); }
    void letGo() { SetEvent(held); }

    bool acceptPrepare = true;
    int prepares = 0;
    Kelvane::SampleFormat preparedFormat = Kelvane::SampleFormatUnknown;
    Kelvane::SampleRate preparedRate = Kelvane::RateNone;
    int32_t preparedFrames = 0;
    bool preparedInterleaved = false;
    int resets = 0;
    int refuseFrom = -1;
    std::atomic<bool> ready{true};
    std::atomic<int> renders{0};
    std::atomic<int> entered{0}; // counted before a held call waits
    std::atomic<int> notReadyCalls{0};
    std::atomic<DWORD> renderThread{0};
    std::atomic<bool> secondBuffer{false};

private:
    HANDLE held;
    int32_t counter = 0;
};

} // namespace WasapiTest
