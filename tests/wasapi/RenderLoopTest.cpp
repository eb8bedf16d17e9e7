// The render loop against a scripted endpoint: pre-roll, a provider that is not ready
// yet, refusal, stop, buffer failures; the gate and the shared block between a device
// and its thread under real threads.
#include "audio/RenderLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace Kelvane;

namespace {

// Records every call as one letter (G get, R release, S silent release, T start, P stop,
// W wait) and fails the calls it is told to.
struct ScriptedEndpoint
{
    std::string calls;
    int periods, failGetAt; // waits that report the event; the n-th getBuffer (0-based) that fails
    bool failStart;
    int16_t buffer[16] = {};
    int gets = 0;
    uint8_t* getBuffer()
    {
        calls += 'G';
        return gets++ == failGetAt ? nullptr : reinterpret_cast<uint8_t*>(buffer);
    }
    bool releaseBuffer(bool silent) { return calls += silent ? 'S' : 'R', true; }
    bool startClient() { return calls += 'T', !failStart; }
    void stopClient() { calls += 'P'; }
    bool waitPeriod() { return calls += 'W', periods-- > 0; }
    size_t bufferBytes() const { return sizeof buffer; }
};

// Answers true from call readyFrom on, false again from call refuseFrom on; asks for a
// stop during call stopAt.
struct ScriptedProvider
{
    int readyFrom, refuseFrom, stopAt;
    RenderShared& shared;
    int calls = 0;
    bool render(void*)
    {
        if (calls == stopAt)
            shared.stopRequested.store(true);
        const int call = calls++;
        return call >= readyFrom && call < refuseFrom;
    }
};

} // namespace

TEST(RenderLoop, CallsInOrderForEveryWayItEnds)
{
    const struct
    {
        const char* name;
        int periods, failGetAt, readyFrom, refuseFrom, stopAt;
        bool failStart;
        RenderLoopEnd end;
        const char* calls;
        int providerCalls;
    } cases[] = {
        {"pre-roll, then the client starts", 1, -1, 0, 99, -1, false, RenderLoopEnd::WaitFailed, "GRTWGRWP",
         1},
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
        ScriptedEndpoint endpoint{"", c.periods, c.failGetAt, c.failStart};
        RenderShared shared;
        ScriptedProvider provider{c.readyFrom, c.refuseFrom, c.stopAt, shared};
        EXPECT_EQ(runRenderLoop(endpoint, provider, shared), c.end) << c.name;
        EXPECT_EQ(endpoint.calls, c.calls) << c.name;
        EXPECT_EQ(provider.calls, c.providerCalls) << c.name;
        EXPECT_EQ(shared.refused.load(), c.end == RenderLoopEnd::Refused) << c.name;
    }
}

TEST(RenderShared, EitherSideMayLetGoLast)
{
    for (int round = 0; round < 200; ++round) {
        auto* shared = new RenderShared;
        std::atomic<int> freed{0};
        auto release = [&] {
            if (shared->release()) {
                delete shared;
                freed.fetch_add(1);
            }
        };
        std::thread other(release);
        release();
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
                    late = late || idle.load();
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
    gate.leave();
    EXPECT_FALSE(gate.busy());
    EXPECT_TRUE(gate.enter());
}
