#pragma once
// The audio thread's path with everything prepared as the host prepares it, a processor
// that records what it was given, and a feed of notes and parameter changes as the MIDI
// and user-interface threads send them. Shared by the render core's tests, the allocation
// test, the system-call probe and the render benchmark.

#include "audio/AudioTypes.h"
#include "host/RenderCore.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <array>
#include <cstdint>
#include <vector>

namespace RenderCoreTest {

using namespace Steinberg;
using namespace Steinberg::Vst;

// Reported back for each input change: a distinct id so the two directions cannot mix.
constexpr ParamID kEchoOffset = 1000;

// Short MIDI messages as the ring stores them.
constexpr uint32_t midi(uint32_t status, uint32_t data1, uint32_t data2)
{
    return status | data1 << 8 | data2 << 16;
}

// A processor whose process does nothing; the rest answers as a plug-in that takes any setup.
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

// Records each call's events and last parameter values, reports one change back per input
// change, and fills its outputs with a ramp beyond full scale (so the conversion clamps).
// It allocates nothing, so it can stand in on the allocation-free path.
class FakeProcessor : public NullProcessor
{
public:
    int32 calls = 0, lastEventCount = 0, lastParamCount = 0;
    uint64 lastSilenceFlags = 0; // as the call found them
    std::array<Event, 256> events{};
    std::array<std::pair<ParamID, ParamValue>, 64> points{};
    bool writeOutput = true;

    tresult PLUGIN_API process(ProcessData& data) override
    {
        ++calls;
        lastSilenceFlags = data.outputs[0].silenceFlags;
        lastEventCount = data.inputEvents->getEventCount();
        for (int32 i = 0; i < lastEventCount && i < 256; ++i)
            data.inputEvents->getEvent(i, events[size_t(i)]);
        IParameterChanges& in = *data.inputParameterChanges;
        for (lastParamCount = 0; lastParamCount < in.getParameterCount() && lastParamCount < 64;
             ++lastParamCount) {
            IParamValueQueue* queue = in.getParameterData(lastParamCount);
            auto& [id, value] = points[size_t(lastParamCount)];
            int32 offset = 0, index = 0;
            id = queue->getParameterId();
            queue->getPoint(queue->getPointCount() - 1, offset, value);
            if (IParamValueQueue* out =
                    data.outputParameterChanges->addParameterData(id + kEchoOffset, index))
                out->addPoint(0, value, index);
        }
        for (int32 i = 0; writeOutput && i < data.numSamples; ++i) {
            data.outputs[0].channelBuffers32[0][i] = float(i % 97) / 32.f - 1.5f;
            data.outputs[0].channelBuffers32[1][i] = 1.5f - float(i % 97) / 32.f;
        }
        return kResultOk;
    }
};

class HotPathRig
{
public:
    explicit HotPathRig(int32_t blockFrames = 480)
        : frames(blockFrames), format{Kelvane::SampleFormatInt16, true, blockFrames},
          device(size_t(blockFrames) * 2 * 4 + 64, 0xEE)
    {
        PomaroApp::initMidiRing(ring);
        pd.buffers.allocate(1, frames);
        pd.data.outputs = pd.buffers.buses.get();
        pd.data.numSamples = frames;
    }

    // A 16-byte aligned spot in the device buffer, moved by offset bytes.
    unsigned char* aligned(size_t offset)
    {
        return device.data() + (16 - reinterpret_cast<std::uintptr_t>(device.data()) % 16) % 16 + offset;
    }
    void render(IAudioProcessor* p, void* b0, void* b1 = nullptr)
    {
        PomaroApp::renderBlock(pd, {ring, toProcessor, fromProcessor}, p, format, b0, b1);
    }
    void render() { render(&processor, aligned(0)); }

    // 16 note messages (8 on, 8 off, on every channel), a controller, and 16 parameter
    // changes to 16 parameters; the parameter ids move so the lists see new ids.
    void feed(int32_t block)
    {
        const uint32_t b = uint32_t(block);
        for (uint32_t i = 0; i < 8; ++i) {
            const uint32_t pitch = (b * 8 + i) % 128;
            ring.push(midi(0x90 | (i + b) % 16, pitch, 1 + pitch % 127));
            ring.push(midi(0x80 | (i + b) % 16, pitch, 0));
        }
        ring.push(midi(0xB0, 7, b & 0x7F));
        for (uint32_t i = 0; i < 16; ++i)
            toProcessor.addChange((b + i) % 48, (i + 1) / 17.0, 0);
    }

    // One block in one of the six device layouts (the block number picks it), with an
    // aligned or a 4-byte-misaligned device buffer; every fourth block also the silence
    // that a faulted plug-in's blocks get.
    void renderLayout(int32_t block)
    {
        static const int32_t formats[] = {Kelvane::SampleFormatInt16, Kelvane::SampleFormatInt32,
                                          Kelvane::SampleFormatFloat32};
        format = PomaroApp::DeviceFormat{formats[block % 3], (block / 3) % 2 == 0, frames};
        unsigned char* b0 = aligned((block / 6) % 2 ? 0 : 4);
        unsigned char* b1 = format.interleaved ? nullptr : b0 + frames * 4;
        render(&processor, b0, b1);
        if (block % 4 == 3)
            PomaroApp::renderSilence(pd, format, b0, b1);
    }
    // The user-interface thread's side of the reports, so the queue never fills.
    void drainReports()
    {
        reports += fromProcessor.count();
        fromProcessor.clearFromReader();
    }

    int32_t frames;
    PomaroApp::DeviceFormat format;
    std::vector<unsigned char> device;
    PomaroApp::CProcessData pd;
    PomaroApp::MidiMessageRing ring;
    PomaroApp::ParameterChangeTransfer2 toProcessor, fromProcessor;
    FakeProcessor processor;
    int64_t reports = 0;
};

} // namespace RenderCoreTest
