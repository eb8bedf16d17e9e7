// The render loop against a scripted endpoint: pre-roll, a provider that is not ready
// yet, refusal, stop, buffer failures; and the shared block's lifetime when the thread
// outlives its device.
#include "audio/RenderLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace Kelvane;

namespace {

constexpr size_t kFrames = 8;

// Records every call as one letter (G get, R release, S silent release, T start, P stop,
// W wait) and fails the calls it is told to.
struct ScriptedEndpoint
{
    std::string calls;
    std::vector<int16_t> buffer = std::vector<int16_t>(kFrames * 2, 0x5555);
    std::vector<std::vector<int16_t>> released;
    int periods = 10;   // waits that report the event
    int failGetAt = -1; // n-th getBuffer (0-based) that fails
    bool failStart = false;
    int gets = 0;

    uint8_t* getBuffer()
    {
        calls += 'G';
        return gets++ == failGetAt ? nullptr : reinterpret_cast<uint8_t*>(buffer.data());
    }
    bool releaseBuffer(bool silent)
    {
        calls += silent ? 'S' : 'R';
        released.push_back(silent ? std::vector<int16_t>(kFrames * 2, 0) : buffer);
        std::fill(buffer.begin(), buffer.end(), int16_t(0x5555)); // what the next GetBuffer hands out
        return true;
    }
    bool startClient()
    {
        calls += 'T';
        return !failStart;
    }
    void stopClient() { calls += 'P'; }
    bool waitPeriod()
    {
        calls += 'W';
        return periods-- > 0;
    }
    size_t bufferBytes() const { return kFrames * 4; }
};

struct ScriptedProvider
{
    std::function<bool(int call)> answer;
    int calls = 0;
    bool render(void* buffer)
    {
        const bool ok = answer(calls++);
        if (ok)
            std::fill_n(static_cast<int16_t*>(buffer), kFrames * 2, int16_t(1000 + calls));
        return ok;
    }
};

} // namespace

TEST(RenderLoop, CallsInOrderForEveryWayItEnds)
{
    // The provider answers true from call readyFrom on, false again from call refuseFrom on.
    const struct
    {
        const char* name;
        int periods, failGetAt, readyFrom, refuseFrom, stopAt;
        bool failStart;
        RenderLoopEnd end;
        const char* calls;
        int providerCalls;
    } cases[] = {
        {"pre-roll of silence, then the client starts", 1, -1, 0, 99, -1, false, RenderLoopEnd::WaitFailed,
         "GRTWGRWP", 1},
        {"a provider not ready yet gets silence and is asked again", 6, -1, 3, 99, -1, false,
         RenderLoopEnd::WaitFailed, "GRTWGSWGSWGSWGRWGRWGRWP", 6},
        {"a refusal hands its period over, silent, and ends", 10, -1, 0, 2, -1, false, RenderLoopEnd::Refused,
         "GRTWGRWGRWGSP", 3},
        {"a stop request ends the loop at the next wake", 10, -1, 0, 99, 1, false,
         RenderLoopEnd::StopRequested, "GRTWGRWGRWP", 2},
        {"pre-roll buffer fails: never started, so never stopped", 10, 0, 0, 99, -1, false,
         RenderLoopEnd::PreRollFailed, "G", 0},
        {"start fails", 10, -1, 0, 99, -1, true, RenderLoopEnd::StartFailed, "GRT", 0},
        {"a later buffer fails", 10, 2, 0, 99, -1, false, RenderLoopEnd::BufferFailed, "GRTWGRWGP", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedEndpoint endpoint;
        endpoint.periods = c.periods;
        endpoint.failGetAt = c.failGetAt;
        endpoint.failStart = c.failStart;
        RenderShared shared;
        ScriptedProvider provider{[&](int call) {
            if (call == c.stopAt)
                shared.stopRequested.store(true);
            return call >= c.readyFrom && call < c.refuseFrom;
        }};
        EXPECT_EQ(runRenderLoop(endpoint, provider, shared), c.end);
        EXPECT_EQ(endpoint.calls, c.calls);
        EXPECT_EQ(provider.calls, c.providerCalls);
        EXPECT_EQ(shared.refused.load(), c.end == RenderLoopEnd::Refused);
        // What went out: silence where the provider wrote nothing, its own samples otherwise.
        for (size_t i = 0, call = 0; i < endpoint.released.size(); ++i) {
            const bool rendered = i > 0 && int(call) >= c.readyFrom && int(call) < c.refuseFrom;
            EXPECT_EQ(endpoint.released[i],
                      std::vector<int16_t>(kFrames * 2, rendered ? int16_t(1001 + call) : int16_t(0)))
                << "buffer " << i;
            call += i > 0;
        }
    }
}

namespace {

// A real thread with a real period, and a provider that can be held inside a call.
struct ClockedEndpoint
{
    std::vector<int16_t> buffer = std::vector<int16_t>(kFrames * 2);
    uint8_t* getBuffer() { return reinterpret_cast<uint8_t*>(buffer.data()); }
    bool releaseBuffer(bool) { return true; }
    bool startClient() { return true; }
    void stopClient() {}
    bool waitPeriod()
    {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        return true;
    }
    size_t bufferBytes() const { return kFrames * 4; }
};

struct HeldProvider
{
    std::mutex lock;
    std::condition_variable changed;
    bool inside = false, letGo = false;
    int calls = 0;
    bool render(void*)
    {
        std::unique_lock<std::mutex> hold(lock);
        ++calls;
        inside = true;
        changed.notify_all();
        changed.wait(hold, [&] { return letGo; });
        return true;
    }
};

// The block a device and its thread share, with a record of its end.
struct Stream
{
    RenderShared shared;
    std::atomic<int>* freed;
    ~Stream() { freed->fetch_add(1); }
    void release()
    {
        if (shared.release())
            delete this;
    }
};

} // namespace

TEST(RenderShared, ThreadThatOutlivesItsDeviceFreesTheBlockAlone)
{
    std::atomic<int> freed{0};
    HeldProvider provider;
    auto* stream = new Stream{RenderShared{}, &freed};
    std::thread render([stream, &provider] {
        ClockedEndpoint endpoint;
        runRenderLoop(endpoint, provider, stream->shared);
        stream->release();
    });
    {
        std::unique_lock<std::mutex> hold(provider.lock);
        provider.changed.wait(hold, [&] { return provider.inside; });
    }
    // The device gives up waiting while the provider is still inside its call.
    stream->shared.stopRequested.store(true, std::memory_order_release);
    stream->release();
    EXPECT_EQ(freed.load(), 0);
    {
        std::lock_guard<std::mutex> hold(provider.lock);
        provider.letGo = true;
    }
    provider.changed.notify_all();
    render.join();
    EXPECT_EQ(freed.load(), 1);
    EXPECT_EQ(provider.calls, 1); // nothing more was asked after the stop request
}

TEST(RenderShared, EitherSideMayLetGoLast)
{
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> freed{0};
        auto* stream = new Stream{RenderShared{}, &freed};
        std::thread other([stream] { stream->release(); });
        stream->release();
        other.join();
        ASSERT_EQ(freed.load(), 1);
    }
}

TEST(RenderGate, OnceClosedAndIdleNoCallRunsOrBegins)
{
    for (int round = 0; round < 200; ++round) {
        RenderGate gate;
        gate.open();
        std::atomic<bool> idle{false}, quit{false}, late{false};
        std::atomic<int> calls{0};
        std::thread audio([&] {
            while (!quit.load()) {
                if (gate.enter()) {
                    if (idle.load())
                        late = true;
                    calls.fetch_add(1);
                    gate.leave();
                }
            }
        });
        while (calls.load() < 3)
            std::this_thread::yield();
        gate.close();
        while (gate.busy())
            std::this_thread::yield();
        idle = true;
        const int seen = calls.load();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        quit = true;
        audio.join();
        ASSERT_FALSE(late.load()) << "round " << round;
        ASSERT_EQ(calls.load(), seen);
    }
    // A second call while one is inside is turned away.
    RenderGate gate;
    gate.open();
    ASSERT_TRUE(gate.enter());
    EXPECT_FALSE(gate.enter());
    EXPECT_TRUE(gate.busy());
    gate.leave();
    EXPECT_FALSE(gate.busy());
    EXPECT_TRUE(gate.enter());
    gate.leave();
}
