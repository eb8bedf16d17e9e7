// The render loop against a scripted endpoint, and the gate between a device and its thread.
#include "audio/RenderLoop.h"

#include <gtest/gtest.h>

#include <string>

using namespace Kelvane;

namespace {

// Endpoint and provider at once. Records every endpoint call as one letter (G get, R release,
// S silent release, T start, P stop, W wait) and fails the calls it is told to; renders true
// from call readyFrom on, false again from call refuseFrom on, and asks for a stop during call stopAt.
struct Script
{
    int periods, failGetAt; // waits that report the event; the n-th getBuffer (0-based) that fails
    bool failStart;
    int readyFrom, refuseFrom, stopAt;
    RenderShared& shared;
    std::string calls{};
    int16_t buffer[16] = {};
    int gets = 0, renders = 0;
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
    bool render(void*)
    {
        if (renders == stopAt)
            shared.stopRequested.store(true);
        const int call = renders++;
        return call >= readyFrom && call < refuseFrom;
    }
};

} // namespace

TEST(RenderLoop, CallsInOrderForEveryWayItEnds)
{
    using E = RenderLoopEnd;
    const struct
    {
        const char* name;
        int periods, failGetAt, readyFrom, refuseFrom, stopAt;
        bool failStart;
        RenderLoopEnd end;
        const char* calls;
        int providerCalls;
    } cases[] = {
        {"pre-roll, then start", 1, -1, 0, 99, -1, false, E::WaitFailed, "GRTWGRWP", 1},
        {"not ready: silence", 6, -1, 3, 99, -1, false, E::WaitFailed, "GRTWGSWGSWGSWGRWGRWGRWP", 6},
        {"a refusal hands its period over silent", 10, -1, 0, 2, -1, false, E::Refused, "GRTWGRWGRWGSP", 3},
        {"a stop ends at the next wake", 10, -1, 0, 99, 1, false, E::StopRequested, "GRTWGRWGRWP", 2},
        {"pre-roll fails: never started or stopped", 10, 0, 0, 99, -1, false, E::PreRollFailed, "G", 0},
        {"start fails", 10, -1, 0, 99, -1, true, E::StartFailed, "GRT", 0},
        {"a later buffer fails", 10, 2, 0, 99, -1, false, E::BufferFailed, "GRTWGRWGP", 1},
    };
    for (const auto& c : cases) {
        RenderShared shared;
        Script script{c.periods, c.failGetAt, c.failStart, c.readyFrom, c.refuseFrom, c.stopAt, shared};
        EXPECT_EQ(runRenderLoop(script, script, shared), c.end) << c.name;
        EXPECT_EQ(script.calls, c.calls) << c.name;
        EXPECT_EQ(script.renders, c.providerCalls) << c.name;
        EXPECT_EQ(shared.refused.load(), c.end == RenderLoopEnd::Refused) << c.name;
    }
}

TEST(RenderGate, ShutsOutEveryCallOnceClosedAndASecondOneWhileOpen)
{
    RenderGate gate;
    EXPECT_FALSE(gate.enter()); // closed until the stream opens it
    gate.open();
    EXPECT_TRUE(gate.enter() && !gate.enter()); // calls into the provider never overlap
    gate.close();
    EXPECT_TRUE(gate.busy()); // the stop waits for the call inside
    gate.leave();
    EXPECT_FALSE(gate.busy() || gate.enter() || gate.busy()); // a call turned away leaves nothing inside
    gate.open();
    EXPECT_TRUE(gate.enter());
}
