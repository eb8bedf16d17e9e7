#pragma once
// An audio processor that records what each process call received, fills its
// output channels with a known ramp and reports one change back per input change.
// It allocates nothing in process, so it can stand in on the allocation-free path.

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <array>
#include <cstdint>

namespace RenderCoreTest {

using namespace Steinberg;
using namespace Steinberg::Vst;

// Output sample i of the left channel; the right one is its negation. Spans beyond
// full scale so the conversion's clamp is exercised.
inline float rampSample(int32_t i) { return static_cast<float>(i % 97) / 32.f - 1.5f; }

// Reported back for each input change: a distinct id so the two directions cannot mix.
constexpr ParamID kEchoOffset = 1000;

// A processor whose process does nothing; the rest answers as a plug-in that takes
// any setup. The render benchmark measures the host's own cost with it.
class NullProcessor : public IAudioProcessor
{
public:
    tresult PLUGIN_API process(ProcessData&) override { return kResultOk; }
    tresult PLUGIN_API setBusArrangements(SpeakerArrangement*, int32, SpeakerArrangement*, int32) override
    {
        return kResultOk;
    }
    tresult PLUGIN_API getBusArrangement(BusDirection, int32, SpeakerArrangement&) override
    {
        return kResultFalse;
    }
    tresult PLUGIN_API canProcessSampleSize(int32) override { return kResultOk; }
    uint32 PLUGIN_API getLatencySamples() override { return 0; }
    tresult PLUGIN_API setupProcessing(ProcessSetup&) override { return kResultOk; }
    tresult PLUGIN_API setProcessing(TBool) override { return kResultOk; }
    uint32 PLUGIN_API getTailSamples() override { return 0; }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override
    {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
};

class FakeProcessor : public NullProcessor
{
public:
    struct Point
    {
        ParamID id;
        ParamValue value;
        int32 offset;
    };

    int32 calls = 0;
    int32 lastEventCount = 0;
    int32 lastParamCount = 0;
    uint64 lastSilenceFlags = 0; // as the call found them
    std::array<Event, 256> events{};
    std::array<Point, 64> points{};
    bool writeOutput = true;

    tresult PLUGIN_API process(ProcessData& data) override
    {
        ++calls;
        lastSilenceFlags = data.numOutputs > 0 && data.outputs ? data.outputs[0].silenceFlags : ~uint64(0);
        lastEventCount = data.inputEvents ? data.inputEvents->getEventCount() : 0;
        for (int32 i = 0; i < lastEventCount && i < 256; ++i)
            data.inputEvents->getEvent(i, events[static_cast<size_t>(i)]);
        lastParamCount = 0;
        if (IParameterChanges* in = data.inputParameterChanges) {
            for (int32 q = 0; q < in->getParameterCount() && q < 64; ++q) {
                IParamValueQueue* queue = in->getParameterData(q);
                Point p{queue->getParameterId(), 0.0, 0};
                queue->getPoint(queue->getPointCount() - 1, p.offset, p.value);
                points[static_cast<size_t>(lastParamCount++)] = p;
                if (data.outputParameterChanges) {
                    int32 index = 0;
                    if (IParamValueQueue* out =
                            data.outputParameterChanges->addParameterData(p.id + kEchoOffset, index))
                        out->addPoint(0, p.value, index);
                }
            }
        }
        if (writeOutput && data.numOutputs > 0 && data.outputs) {
            float* l = data.outputs[0].channelBuffers32[0];
            float* r = data.outputs[0].channelBuffers32[1];
            for (int32 i = 0; i < data.numSamples; ++i) {
                l[i] = rampSample(i);
                r[i] = -rampSample(i);
            }
        }
        return kResultOk;
    }
};

// Short MIDI messages as the ring stores them.
constexpr uint32_t midi(uint32_t status, uint32_t data1, uint32_t data2)
{
    return status | data1 << 8 | data2 << 16;
}

} // namespace RenderCoreTest
