// Conversion routines against three yardsticks, at three block sizes, with the
// device buffer hot (the same buffer every call) or cold (a fresh, uncached one):
//   routine   the shipped routine (aligned buffers: streaming stores)
//   plain     the same conversion as a plain per-sample loop
//   cached    the same routine with ordinary stores in place of streaming ones
//   stream    only streaming the same number of bytes (memory-bandwidth floor)
// Names are <routine>/<frames>/<hot|cold>/<variant>; bench/conversion-report.py
// turns one run into a table of ratios.

#include "bench/OutputBuffers.h"
#include "bench/PlainConversion.h"
#include "host/SampleConversion.h"
#include "host/SampleConversionKernels.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace PomaroBench {
namespace {

using Fn = void (*)(const float*, const float*, void*, void*, std::int32_t, float);
namespace K = PomaroApp::SampleKernels;

struct Routine
{
    const char* name;
    bool interleaved;
    std::size_t sampleBytes;
    Fn shipped, plain, cached;
};

#define POMARO_INTERLEAVED(f)                                                                                \
    [](const float* l, const float* r, void* a, void*, std::int32_t n, float g) { f(l, r, a, n, g); }
#define POMARO_PER_CHANNEL(f)                                                                                \
    [](const float* l, const float* r, void* a, void* b, std::int32_t n, float g) { f(l, r, a, b, n, g); }

const Routine kRoutines[] = {
    {"Int16Interleaved", true, 2, POMARO_INTERLEAVED(PomaroApp::storeInt16Interleaved),
     POMARO_INTERLEAVED(plainInt16Interleaved),
     POMARO_INTERLEAVED((K::convertInterleaved<K::Int16Format, K::CachedAccess>))},
    {"Int32Interleaved", true, 4, POMARO_INTERLEAVED(PomaroApp::storeInt32Interleaved),
     POMARO_INTERLEAVED(plainInt32Interleaved),
     POMARO_INTERLEAVED((K::convertInterleaved<K::Int32Format, K::CachedAccess>))},
    {"Float32Interleaved", true, 4, POMARO_INTERLEAVED(PomaroApp::storeFloat32Interleaved),
     POMARO_INTERLEAVED(plainFloat32Interleaved),
     POMARO_INTERLEAVED((K::convertInterleaved<K::Float32Format, K::CachedAccess>))},
    {"Int16PerChannel", false, 2, POMARO_PER_CHANNEL(PomaroApp::storeInt16PerChannel),
     POMARO_PER_CHANNEL(plainInt16PerChannel),
     POMARO_PER_CHANNEL((K::convertPerChannel<K::Int16Format, K::CachedAccess>))},
    {"Int32PerChannel", false, 4, POMARO_PER_CHANNEL(PomaroApp::storeInt32PerChannel),
     POMARO_PER_CHANNEL(plainInt32PerChannel),
     POMARO_PER_CHANNEL((K::convertPerChannel<K::Int32Format, K::CachedAccess>))},
    {"Float32PerChannel", false, 4, POMARO_PER_CHANNEL(PomaroApp::storeFloat32PerChannel),
     POMARO_PER_CHANNEL(plainFloat32PerChannel),
     POMARO_PER_CHANNEL((K::convertPerChannel<K::Float32Format, K::CachedAccess>))},
};

#undef POMARO_INTERLEAVED
#undef POMARO_PER_CHANNEL

enum class Variant
{
    Shipped,
    Plain,
    Cached,
    Stream
};
const char* variantName(Variant v)
{
    switch (v) {
    case Variant::Shipped:
        return "routine";
    case Variant::Plain:
        return "plain";
    case Variant::Cached:
        return "cached";
    case Variant::Stream:
        return "stream";
    }
    return "";
}

constexpr int kMaxFrames = 4096;
constexpr std::size_t kPoolBytes = 64u << 20;

// The plug-in's output channels: aligned, hot, noise at musical levels (no overs,
// so the plain loop's clamp branches are predicted as they would be on real audio).
struct Inputs
{
    PageMemory left{kMaxFrames * sizeof(float), false};
    PageMemory right{kMaxFrames * sizeof(float), false};
    Inputs()
    {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> level(-0.9f, 0.9f);
        for (int i = 0; i < kMaxFrames; ++i) {
            reinterpret_cast<float*>(left.data())[i] = level(rng);
            reinterpret_cast<float*>(right.data())[i] = level(rng);
        }
    }
    const float* l() const { return reinterpret_cast<const float*>(left.data()); }
    const float* r() const { return reinterpret_cast<const float*>(right.data()); }
};

const Inputs& inputs()
{
    static const Inputs in;
    return in;
}

// Bytes each output buffer receives.
std::size_t bufferBytes(const Routine& r, int frames)
{
    return static_cast<std::size_t>(frames) * r.sampleBytes * (r.interleaved ? 2 : 1);
}

void call(const Routine& r, Variant v, void* a, void* b, int frames)
{
    const Inputs& in = inputs();
    switch (v) {
    case Variant::Shipped:
        r.shipped(in.l(), in.r(), a, b, frames, 1.0f);
        break;
    case Variant::Plain:
        r.plain(in.l(), in.r(), a, b, frames, 1.0f);
        break;
    case Variant::Cached:
        r.cached(in.l(), in.r(), a, b, frames, 1.0f);
        break;
    case Variant::Stream:
        streamOnly(a, r.interleaved ? nullptr : b, bufferBytes(r, frames));
        break;
    }
}

void runHot(benchmark::State& state, const Routine& r, Variant v, int frames)
{
    const std::size_t bytes = bufferBytes(r, frames);
    PageMemory a(bytes, false), b(bytes, false);
    for (auto _ : state) {
        call(r, v, a.data(), b.data(), frames);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes * (r.interleaved ? 1 : 2)));
}

void runCold(benchmark::State& state, const Routine& r, Variant v, int frames)
{
    const std::size_t bytes = bufferBytes(r, frames);
    const std::size_t take = r.interleaved ? 1 : 2;
    ColdPool pool(bytes, kPoolBytes);
    for (auto _ : state) {
        if (pool.needsFlush(take)) {
            state.PauseTiming();
            pool.flush();
            state.ResumeTiming();
        }
        unsigned char* a = pool.next();
        unsigned char* b = take == 2 ? pool.next() : a;
        call(r, v, a, b, frames);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes * take));
}

// The yardsticks are only fair if they produce the shipped routine's bytes.
bool yardsticksAgree()
{
    bool ok = true;
    for (const Routine& r : kRoutines) {
        const std::size_t bytes = bufferBytes(r, 4095);
        PageMemory a0(bytes, false), b0(bytes, false), a1(bytes, false), b1(bytes, false);
        call(r, Variant::Shipped, a0.data(), b0.data(), 4095);
        for (Variant v : {Variant::Plain, Variant::Cached}) {
            std::memset(a1.data(), 0x5A, a1.size());
            std::memset(b1.data(), 0x5A, b1.size());
            call(r, v, a1.data(), b1.data(), 4095);
            if (std::memcmp(a0.data(), a1.data(), bytes) != 0 ||
                (!r.interleaved && std::memcmp(b0.data(), b1.data(), bytes) != 0)) {
                std::fprintf(stderr, "%s: %s output differs from the routine's\n", r.name, variantName(v));
                ok = false;
            }
        }
    }
    return ok;
}

void registerAll()
{
    for (const Routine& r : kRoutines) {
        for (int frames : {64, 480, 4096}) {
            for (bool cold : {false, true}) {
                for (Variant v : {Variant::Shipped, Variant::Plain, Variant::Cached, Variant::Stream}) {
                    const std::string name = std::string(r.name) + "/" + std::to_string(frames) + "/" +
                                             (cold ? "cold" : "hot") + "/" + variantName(v);
                    const Routine* rp = &r;
                    if (cold)
                        benchmark::RegisterBenchmark(name.c_str(), [rp, v, frames](benchmark::State& s) {
                            runCold(s, *rp, v, frames);
                        });
                    else
                        benchmark::RegisterBenchmark(name.c_str(), [rp, v, frames](benchmark::State& s) {
                            runHot(s, *rp, v, frames);
                        });
                }
            }
        }
    }
}

} // namespace
} // namespace PomaroBench

int main(int argc, char** argv)
{
    if (!PomaroBench::yardsticksAgree())
        return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    PomaroBench::registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
