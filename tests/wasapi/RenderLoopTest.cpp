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

// Records every call as one letter: G get, R release, S silent release, T start,
// P stop, W wait. Fails the calls it is told to.
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
        if (gets++ == failGetAt)
            return nullptr;
        return reinterpret_cast<uint8_t*>(buffer.data());
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

TEST(RenderLoop, PreRollsSilenceBeforeStartingTheClient)
{
    ScriptedEndpoint endpoint;
    endpoint.periods = 1;
    ScriptedProvider provider{[](int) { return true; }};
    RenderShared shared;
    EXPECT_EQ(runRenderLoop(endpoint, provider, shared), RenderLoopEnd::WaitFailed);
    EXPECT_EQ(endpoint.calls, "GRT"
                              "WGR"
                              "WP");
    ASSERT_EQ(endpoint.released.size(), 2u);
    EXPECT_EQ(endpoint.released[0], std::vector<int16_t>(kFrames * 2, 0));
    EXPECT_EQ(endpoint.released[1], std::vector<int16_t>(kFrames * 2, 1001));
}

TEST(RenderLoop, ProviderNotReadyYetGetsSilenceAndIsAskedAgain)
{
    // The host becomes ready at its fourth request: the first three go out silent and
    // the stream carries on.
    ScriptedEndpoint endpoint;
    endpoint.periods = 6;
    ScriptedProvider provider{[](int call) { return call >= 3; }};
    RenderShared shared;
    EXPECT_EQ(runRenderLoop(endpoint, provider, shared), RenderLoopEnd::WaitFailed);
    EXPECT_EQ(provider.calls, 6);
    EXPECT_FALSE(shared.refused.load());
    EXPECT_EQ(endpoint.calls, "GRT"
                              "WGS"
                              "WGS"
                              "WGS"
                              "WGR"
                              "WGR"
                              "WGR"
                              "WP");
    EXPECT_EQ(endpoint.released[3], std::vector<int16_t>(kFrames * 2, 0));
    EXPECT_EQ(endpoint.released[4], std::vector<int16_t>(kFrames * 2, 1004));
}

TEST(RenderLoop, RefusalAfterRenderingHandsThePeriodOverAndEnds)
{
    ScriptedEndpoint endpoint;
    ScriptedProvider provider{[](int call) { return call < 2; }};
    RenderShared shared;
    EXPECT_EQ(runRenderLoop(endpoint, provider, shared), RenderLoopEnd::Refused);
    EXPECT_TRUE(shared.refused.load());
    EXPECT_EQ(provider.calls, 3);
    // The refused period is released (as silence, the provider wrote nothing), then the
    // client is stopped without another wait.
    EXPECT_EQ(endpoint.calls, "GRT"
                              "WGR"
                              "WGR"
                              "WGS"
                              "P");
}

TEST(RenderLoop, StopRequestEndsTheLoopAtTheNextWake)
{
    ScriptedEndpoint endpoint;
    RenderShared shared;
    ScriptedProvider provider{[&](int call) {
        if (call == 1)
            shared.stopRequested.store(true);
        return true;
    }};
    EXPECT_EQ(runRenderLoop(endpoint, provider, shared), RenderLoopEnd::StopRequested);
    EXPECT_EQ(provider.calls, 2);
    EXPECT_EQ(endpoint.calls, "GRT"
                              "WGR"
                              "WGR"
                              "WP");
}

TEST(RenderLoop, EndpointFailures)
{
    {
        ScriptedEndpoint endpoint;
        endpoint.failGetAt = 0;
        ScriptedProvider provider{[](int) { return true; }};
        RenderShared shared;
        EXPECT_EQ(runRenderLoop(endpoint, provider, shared), RenderLoopEnd::PreRollFailed);
        EXPECT_EQ(endpoint.calls, "G"); // never started, so never stopped
    }
    {
        ScriptedEndpoint endpoint;
        endpoint.failStart = true;
        ScriptedProvider provider{[](int) { return true; }};
        RenderShared shared;
        EXPECT_EQ(runRenderLoop(endpoint, provider, shared), RenderLoopEnd::StartFailed);
        EXPECT_EQ(provider.calls, 0);
    }
    {
        ScriptedEndpoint endpoint;
        endpoint.failGetAt = 2;
        ScriptedProvider provider{[](int) { return true; }};
        RenderShared shared;
        EXPECT_EQ(runRenderLoop(endpoint, provider, shared), RenderLoopEnd::BufferFailed);
        EXPECT_EQ(provider.calls, 1);
        EXPECT_EQ(endpoint.calls, "GRT"
                                  "WGR"
                                  "WG"
                                  "P");
    }
}

namespace {

// A real thread with a real period, and a provider that can be held inside a call.
struct ClockedEndpoint
{
    RenderShared* shared;
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
    bool inside = false;
    bool letGo = false;
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
        ClockedEndpoint endpoint{&stream->shared};
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
