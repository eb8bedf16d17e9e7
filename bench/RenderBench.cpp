// The host's own cost of one render call, as a share of a 480-frame period at 48 kHz
// (10 ms): 16 notes and 16 parameter changes taken from the queues into the process
// data, the output channels cleared, one process call to a plug-in whose process does
// nothing, and the conversion into a cold device buffer (a fresh, uncached one every
// call, as a device hands out).
// Variants of <layout>/480/cold/<variant>:
//   render       the whole per-block path
//   queues       the same without the conversion (a device format without a routine)
//   conversion   the conversion alone into the same kind of buffer
//   clear        the clearing of the output channels alone (part of render and queues)
//   clock        the timer pair around an empty region (included in every figure)
// Only the render call is timed; the producers' pushes before it are not.

#include "audio/AudioTypes.h"
#include "bench/OutputBuffers.h"
#include "host/RenderCore.h"
#include "host/SampleConversion.h"
#include "tests/rendercore/HotPathRig.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

namespace PomaroBench {
namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 480;
constexpr double kPeriodNs = 1e9 * kFrames / 48000.0;

enum class Variant
{
    Render,
    Queues,
    Conversion,
    Clear,
    Clock
};

struct Layout
{
    const char* name;
    int32_t format;
    bool interleaved;
    std::size_t sampleBytes;
};
const Layout kLayouts[] = {{"Int16Interleaved", Kelvane::SampleFormatInt16, true, 2},
                           {"Int32PerChannel", Kelvane::SampleFormatInt32, false, 4},
                           {"Float32Interleaved", Kelvane::SampleFormatFloat32, true, 4}};

struct Host
{
    Host()
    {
        PomaroApp::initMidiRing(ring);
        pd.buffers.allocate(1, kFrames);
        pd.data.outputs = pd.buffers.buses.get();
        pd.data.numSamples = kFrames;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < kFrames; ++i)
                pd.buffers.buses[0].channelBuffers32[c][i] =
                    static_cast<float>((i * 7 + c * 3) % 200 - 100) / 128.f;
    }
    void feed(uint32_t block)
    {
        for (uint32_t i = 0; i < 8; ++i) {
            const uint32_t pitch = (block * 8 + i) % 128;
            ring.push((0x90 | i) | pitch << 8 | 100u << 16);
            ring.push((0x80 | i) | pitch << 8);
        }
        for (uint32_t i = 0; i < 16; ++i)
            toProcessor.addChange(i, (block % 128) / 127.0, 0);
    }
    PomaroApp::CProcessData pd;
    PomaroApp::MidiMessageRing ring;
    PomaroApp::ParameterChangeTransfer2 toProcessor;
    PomaroApp::ParameterChangeTransfer2 fromProcessor;
    RenderCoreTest::NullProcessor processor;
};

void run(benchmark::State& state, const Layout& layout, Variant v)
{
    Host host;
    const std::size_t bytes =
        static_cast<std::size_t>(kFrames) * layout.sampleBytes * (layout.interleaved ? 2 : 1);
    const std::size_t take = layout.interleaved ? 1 : 2;
    ColdPool pool(bytes, 64u << 20);
    const PomaroApp::DeviceFormat format{v == Variant::Queues ? int32_t{Kelvane::SampleFormatUnknown}
                                                              : layout.format,
                                         layout.interleaved, kFrames};
    float* const* ch = host.pd.buffers.buses[0].channelBuffers32;
    uint32_t block = 0;
    double totalNs = 0;
    for (auto _ : state) {
        if (pool.needsFlush(take))
            pool.flush(); // untimed: only the render call is inside the clock pair
        unsigned char* a = pool.next();
        unsigned char* b = take == 2 ? pool.next() : nullptr;
        host.feed(block++);
        const auto t0 = Clock::now();
        switch (v) {
        case Variant::Render:
        case Variant::Queues:
            PomaroApp::renderBlock(host.pd,
                                   PomaroApp::RenderQueues{host.ring, host.toProcessor, host.fromProcessor},
                                   &host.processor, format, a, b);
            break;
        case Variant::Conversion:
            PomaroApp::storeDeviceBuffers(ch[0], ch[1], format, a, b);
            break;
        case Variant::Clear:
            host.pd.buffers.clear();
            break;
        case Variant::Clock:
            break;
        }
        benchmark::ClobberMemory();
        const auto t1 = Clock::now();
        if (v == Variant::Conversion || v == Variant::Clear || v == Variant::Clock) {
            // Keep the queues from filling when nothing takes from them.
            host.ring.clearFromReader();
            host.toProcessor.clearFromReader();
        }
        const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
        totalNs += ns;
        state.SetIterationTime(ns * 1e-9);
    }
    state.counters["period_share_%"] = 100.0 * totalNs / static_cast<double>(state.iterations()) / kPeriodNs;
}

void registerAll()
{
    const struct
    {
        Variant v;
        const char* name;
    } variants[] = {{Variant::Render, "render"},
                    {Variant::Queues, "queues"},
                    {Variant::Conversion, "conversion"},
                    {Variant::Clear, "clear"},
                    {Variant::Clock, "clock"}};
    for (const Layout& layout : kLayouts)
        for (const auto& v : variants) {
            const std::string name = std::string("HostRender/") + layout.name + "/480/cold/" + v.name;
            const Layout* lp = &layout;
            const Variant variant = v.v;
            benchmark::RegisterBenchmark(name.c_str(), [lp, variant](benchmark::State& s) {
                run(s, *lp, variant);
            })->UseManualTime();
        }
}

} // namespace
} // namespace PomaroBench

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    PomaroBench::registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
