// Sizing and scoring rules of the device choice, with the worked examples; the render loop
// against a scripted endpoint, and the gate between a device and its thread.
#include "audio/DeviceChoice.h"
#include "audio/RenderLoop.h"
#include "audio/RestartRequests.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <utility>

using namespace Kelvane;

TEST(DeviceChoice, BufferSizes)
{
    // 10 ms at 44.1 kHz is 441: cut to 432, so the largest size is 864.
    EXPECT_EQ(wasapiBufferSizeRange(100000, 30000, 44100).maxFrames, 864);
    const std::tuple<int64_t, int32_t, int32_t> periods[] = {
        {30000, 44100, 128}, // 132.3 frames: rounded to 132, cut to 128
        {3230, 48000, 16},   // rounding happens before the cut: 15.5 frames round up to 16
        {3120, 48000, 0},
    };
    for (const auto& [period, hz, frames] : periods)
        EXPECT_EQ(periodToFrames(period, hz), frames) << period << " at " << hz;
    const std::tuple<int32_t, int32_t, int64_t> durations[] = {
        {48000, 480, 100000}, {48000, 144, 30000}, {44100, 441, 100000}, {44100, 512, 116100}, {0, 512, 0}};
    for (const auto& [hz, frames, duration] : durations)
        EXPECT_EQ(bufferDuration(hz, frames), duration) << frames << " at " << hz;
    // requested, preferred, hz, minimum, maximum, granularity, chosen
    const std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t> cases[] = {
        {0, 144, 48000, 144, 960, 16, 480},    // no dialog choice: the preferred 144 is under 10 ms
        {64, 144, 48000, 144, 960, 16, 480},   // so is the asked 64
        {5000, 144, 48000, 144, 960, 16, 960}, // the maximum caps
        {500, 144, 48000, 144, 960, 16, 496},  // cut to the granularity
        {1, 0, 22050, 0, 100000, 0, 220},      // the 10 ms floor at every rate
        // Granularity -1 takes powers of two only, the next one up within the limits (a
        // 480-frame request refused by createBuffers left such a driver silent).
        {500, 0, 48000, 64, 2048, -1, 512},
        {0, 256, 48000, 64, 2048, -1, 512},
        {256, 0, 22050, 64, 2048, -1, 256}, // a power of two already stays
        {5000, 0, 48000, 64, 2048, -1, 2048},
        {500, 0, 48000, 64, 2048, 0, 500},
        {0, 100, 44100, 448, 960, 16, 448}, // the floor and the cut land under the minimum, which wins
        {0, 720, 48000, 144, 960, 16, 720}, // the preferred size only when none was asked for
        {-5, 720, 48000, 144, 960, 16, 720},
    };
    for (const auto& [requested, preferred, hz, lo, hi, granularity, chosen] : cases)
        EXPECT_EQ(hostBufferSize(requested, preferred, hz, lo, hi, granularity), chosen)
            << requested << "/" << preferred << " at " << hz << ", granularity " << granularity;
}

TEST(DeviceChoice, ScoresAndRates)
{
    const std::tuple<int32_t, int32_t, int32_t, SampleRate> cases[] = {
        {Rate22050 | Rate44100 | Rate48000 | Rate96000, 100, 120, Rate48000},
        {Rate44100 | Rate96000 | Rate22050, 100, 110, Rate44100},
        {Rate96000 | Rate22050, 100, 100, Rate96000},
        {Rate22050, 0, 0, Rate22050}, // not above 0: never chosen
        {0, 100, -10, RateNone},
        {Rate48000, 0, 20, Rate48000},
        {16, 100, 100, RateNone},
    };
    for (const auto& [rates, base, score, preferred] : cases) {
        EXPECT_EQ(deviceScore(rates, base), score) << rates;
        EXPECT_EQ(preferredSampleRate(rates), preferred) << rates;
    }
    for (DriverType requested : {DriverAuto, DriverWasapi, DriverAsio}) {
        EXPECT_EQ(familyBaseScore(requested, DriverWasapi), requested == DriverAsio ? 0 : 100) << requested;
        EXPECT_EQ(familyBaseScore(requested, DriverAsio), requested == DriverAsio ? 100 : 0) << requested;
    }
}

TEST(RestartRequests, CoalescedDeferredAndBounded)
{
    // a1/a0: a driver asks (1: the message is to be posted); mT.X: the message arrives at
    // T ms and is answered X (R restart, W wait, I ignore, F first refusal); b / e1 / e0: a
    // busy stretch begins / ends (1: post again); x: the device was replaced; u: the user
    // chose a device.
    const std::pair<const char*, const char*> cases[] = {
        {"burst, more during the restart", "a1 a0 a0 m0.R b a1 a0 x e0 m9.I"},
        {"inside the control panel", "b a1 m0.W a1 m0.W e1 m5.R"},
        {"nested busy stretches", "b b a1 m0.W e0 e1 m5.R"},
        {"a message nobody asked for", "m0.R"},
        {"the new device asks while the old one's message waits", "a1 m0.R b a1 x a0 e0 m9.R"},
        {"asks after every restart",
         "a1 m0.R x a1 m900.R x a1 m1800.R x a1 m2700.F a1 m30000.I u a1 m30001.R"},
        {"three in the window, the fourth after it", "m0.R m4000.R m8000.R m10001.R m11000.F"},
    };
    for (const auto& [name, script] : cases) {
        RestartRequests r;
        std::istringstream steps(script);
        for (std::string s; steps >> s;) {
            std::string got = s;
            if (s[0] == 'a')
                got = "a" + std::to_string(r.ask());
            else if (s[0] == 'e')
                got = "e" + std::to_string(r.endBusy());
            else if (s[0] == 'b')
                r.beginBusy();
            else if (s[0] == 'x')
                r.answered();
            else if (s[0] == 'u')
                r.userChoseDevice();
            else if (s[0] == 'm')
                got = s.substr(0, s.find('.') + 1) + "RWIF"[int(r.onMessage(std::stoull(s.substr(1))))];
            EXPECT_EQ(got, s) << name;
        }
    }
}

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
    // waits that report the event, the getBuffer call that fails (0-based), renders ready from and refused
    // from, the render that asks for a stop, start fails; how the loop ends, the endpoint's calls, renders
    const std::tuple<const char*, int, int, int, int, int, bool, E, const char*, int> cases[] = {
        {"not ready: silence", 6, -1, 3, 99, -1, false, E::WaitFailed, "GRTWGSWGSWGSWGRWGRWGRWP", 6},
        {"a refusal hands its period over silent", 10, -1, 0, 2, -1, false, E::Refused, "GRTWGRWGRWGSP", 3},
        {"a stop ends at the next wake", 10, -1, 0, 99, 1, false, E::StopRequested, "GRTWGRWGRWP", 2},
        {"pre-roll fails: never started or stopped", 10, 0, 0, 99, -1, false, E::PreRollFailed, "G", 0},
        {"start fails", 10, -1, 0, 99, -1, true, E::StartFailed, "GRT", 0},
        {"a later buffer fails", 10, 2, 0, 99, -1, false, E::BufferFailed, "GRTWGRWGP", 1},
    };
    for (const auto& [name, periods, failGetAt, readyFrom, refuseFrom, stopAt, failStart, end, calls,
                      renders] : cases) {
        RenderShared shared;
        Script script{periods, failGetAt, failStart, readyFrom, refuseFrom, stopAt, shared};
        EXPECT_EQ(runRenderLoop(script, script, shared), end) << name;
        EXPECT_EQ(script.calls, calls) << name;
        EXPECT_EQ(script.renders, renders) << name;
        EXPECT_EQ(shared.refused.load(), end == E::Refused) << name;
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
