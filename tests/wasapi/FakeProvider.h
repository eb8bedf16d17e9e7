#pragma once
// A data provider for the device tests: records what it was told and from which thread,
// writes a running frame counter into the left channel, and can be made to wait
// or refuse.

#include "audio/AudioDevice.h"

#include <windows.h>

#include <atomic>
#include <tuple>

class FakeProvider : public Kelvane::CAudioDevice::IDataProvider
{
public:
    bool onPrepare(Kelvane::SampleFormat format, Kelvane::SampleRate rate, int32_t frames,
                   bool isInterleaved) override
    {
        last = {++prepares, format, rate, frames, isInterleaved};
        return acceptPrepare;
    }

    bool onRender(void* left, void* right) override
    {
        onMainThread.store(onMainThread.load() || GetCurrentThreadId() == mainThread);
        inside.store(true);
        lastLeft.store(left);
        lastRight.store(right);
        const int call = renders.fetch_add(1);
        // 16-bit samples: interleaved when there is no right channel, which stays silent.
        if (auto* l = static_cast<int16_t*>(left); l && std::get<1>(last) == Kelvane::SampleFormatInt16) {
            int16_t* r = right ? static_cast<int16_t*>(right) : l + 1;
            for (int32_t i = 0, step = right ? 1 : 2; i < std::get<3>(last); ++i, ++counter) {
                l[step * i] = static_cast<int16_t>(counter % 30000 + 1);
                r[step * i] = 0;
            }
        }
        if (renderDelayMs)
            Sleep(renderDelayMs);
        renderAfterEnd.store(renderAfterEnd.load() || ended.load());
        inside.store(false);
        return refuseFrom < 0 || call < refuseFrom;
    }

    void onResetRequest() override { resets.fetch_add(1); }

    // How often onPrepare was called, and what the last call said.
    using Prepared = std::tuple<int, Kelvane::SampleFormat, Kelvane::SampleRate, int32_t, bool>;
    const Prepared& prepared() const { return last; }

    bool acceptPrepare = true;
    int prepares = 0;
    int refuseFrom = -1; // renders from this call on answer false
    DWORD renderDelayMs = 0;
    std::atomic<int> renders{0}, resets{0};
    std::atomic<void*> lastLeft{nullptr}, lastRight{nullptr};
    // ended: set by the test once the device is stopped or gone
    std::atomic<bool> inside{false}, ended{false}, renderAfterEnd{false}, onMainThread{false};
    const DWORD mainThread = GetCurrentThreadId();

private:
    Prepared last{0, Kelvane::SampleFormatUnknown, Kelvane::RateNone, 0, false};
    int32_t counter = 0;
};
