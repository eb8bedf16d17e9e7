// The bundled instrument's own cost: one 480-frame block at 48 kHz (a 10 ms period)
// rendered by its engine and level meter, as the processor does per block, with 1, 8
// and 16 voices sounding, and 0 (the idle engine). Beside it, in the same iterations,
// the baseline: as many plain sine voices (one std::sin per voice and sample, panned
// to both channels), the simplest voice one can write.
// Counters: demo_share_% and plain_share_% of the period, demo/plain the ratio. The
// times are the benchmark thread's CPU time, which other processes on a shared machine
// disturb far less than the wall clock.

#include "plugins/demo/dsp/EpSynth.h"
#include "plugins/demo/dsp/LevelMeter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <string>

namespace PomaroBench {
namespace {

double threadNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e9 * static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec);
}

constexpr int kFrames = 480;
constexpr double kRate = 48000.0;
constexpr double kPeriodNs = 1e9 * kFrames / kRate;

struct Demo
{
    explicit Demo(int voices) : voices(voices)
    {
        synth.setup(kRate);
        meter.setup(kRate);
        strike();
    }
    // Held keys of a struck instrument still fade out in the end: strike again.
    void strike()
    {
        for (int v = 0; v < voices; ++v)
            synth.noteOn(0, 36 + 3 * v, 0.8f);
    }
    bool sounding() const { return synth.activeVoices() == voices; }
    void render()
    {
        synth.render(left, right, kFrames);
        benchmark::DoNotOptimize(meter.process(left, right, kFrames));
    }
    int voices;
    PomaroDemo::EpSynth synth;
    PomaroDemo::LevelMeter meter;
    float left[kFrames];
    float right[kFrames];
};

struct PlainSines
{
    explicit PlainSines(int voices) : voices(voices) {}
    void render()
    {
        for (int i = 0; i < kFrames; ++i) {
            float l = 0.0f, r = 0.0f;
            for (int v = 0; v < voices; ++v) {
                phase[v] += 2.0 * M_PI * 110.0 * (1.0 + 0.19 * v) / kRate;
                if (phase[v] > 2.0 * M_PI)
                    phase[v] -= 2.0 * M_PI;
                const float s = 0.1f * static_cast<float>(std::sin(phase[v]));
                l += s * 0.7f;
                r += s * 0.5f;
            }
            left[i] = l;
            right[i] = r;
        }
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
    }
    int voices;
    double phase[PomaroDemo::EpSynth::kMaxVoices] = {};
    float left[kFrames];
    float right[kFrames];
};

void run(benchmark::State& state, int voices)
{
    Demo demo(voices);
    PlainSines plain(voices);
    double demoNs = 0, plainNs = 0;
    for (auto _ : state) {
        if (!demo.sounding())
            demo.strike(); // a new strike costs what a note-on costs inside a block
        const double t0 = threadNs();
        demo.render();
        const double t1 = threadNs();
        plain.render();
        const double t2 = threadNs();
        demoNs += t1 - t0;
        plainNs += t2 - t1;
        state.SetIterationTime((t1 - t0) * 1e-9);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["demo_share_%"] = 100.0 * demoNs / n / kPeriodNs;
    if (voices > 0) {
        state.counters["plain_share_%"] = 100.0 * plainNs / n / kPeriodNs;
        state.counters["demo/plain"] = demoNs / plainNs;
    }
}

} // namespace
} // namespace PomaroBench

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    for (int voices : {0, 1, 8, 16}) {
        const std::string name = "DemoInstrument/480/" + std::to_string(voices) + "voices";
        benchmark::RegisterBenchmark(name.c_str(), [voices](benchmark::State& s) {
            PomaroBench::run(s, voices);
        })->UseManualTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
