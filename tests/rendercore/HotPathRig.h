#pragma once
// The audio thread's path with everything prepared as the host prepares it, and a
// feed of notes and parameter changes as the MIDI and user-interface threads send
// them. Shared by the render core's tests, the allocation test and the system-call probe.

#include "audio/AudioTypes.h"
#include "host/RenderCore.h"
#include "tests/rendercore/FakeProcessor.h"

#include <cstdint>
#include <vector>

namespace RenderCoreTest {

class HotPathRig
{
public:
    explicit HotPathRig(int32_t blockFrames = 480)
        : frames(blockFrames), format{Kelvane::SampleFormatInt16, true, blockFrames},
          device(static_cast<size_t>(blockFrames) * 2 * 4 + 64, 0xEE)
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
        PomaroApp::renderBlock(pd, PomaroApp::RenderQueues{ring, toProcessor, fromProcessor}, p, format, b0,
                               b1);
    }
    void render() { render(&processor, aligned(0)); }

    // 16 note messages (8 on, 8 off, on every channel), a controller, and 16 parameter
    // changes to 16 parameters; the parameter ids move so the lists see new ids.
    void feed(int32_t block)
    {
        const uint32_t b = static_cast<uint32_t>(block);
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
    void drainReports() { fromProcessor.clearFromReader(); }

    int32_t frames;
    PomaroApp::DeviceFormat format;
    std::vector<unsigned char> device;
    PomaroApp::CProcessData pd;
    PomaroApp::MidiMessageRing ring;
    PomaroApp::ParameterChangeTransfer2 toProcessor;
    PomaroApp::ParameterChangeTransfer2 fromProcessor;
    FakeProcessor processor;
};

} // namespace RenderCoreTest
