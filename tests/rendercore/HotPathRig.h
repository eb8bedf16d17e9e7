#pragma once
// The audio thread's path with everything prepared as the host prepares it, and a
// feed of notes and parameter changes as the MIDI and user-interface threads send
// them. Shared by the allocation test and the system-call probe.

#include "audio/AudioTypes.h"
#include "host/RenderCore.h"
#include "tests/rendercore/FakeProcessor.h"

#include <cstdint>
#include <cstdlib>

namespace RenderCoreTest {

class HotPathRig
{
public:
    static constexpr int32_t kFrames = 480;

    HotPathRig()
    {
        PomaroApp::initMidiRing(ring);
        pd.buffers.allocate(1, kFrames);
        pd.data.outputs = pd.buffers.buses.get();
        pd.data.numSamples = kFrames;
        device = static_cast<unsigned char*>(std::calloc(kFrames * 2 * 4 + 16, 1));
    }
    ~HotPathRig() { std::free(device); }
    HotPathRig(const HotPathRig&) = delete;
    HotPathRig& operator=(const HotPathRig&) = delete;

    // 16 note messages (8 on, 8 off, on every channel), a controller, and 16 parameter
    // changes to 16 parameters; the parameter ids move so the lists see new ids.
    void feed(int32_t block)
    {
        for (uint32_t i = 0; i < 8; ++i) {
            const uint32_t pitch = (static_cast<uint32_t>(block) * 8 + i) % 128;
            ring.push(midi(0x90 | (i + static_cast<uint32_t>(block)) % 16, pitch, 1 + pitch % 127));
            ring.push(midi(0x80 | (i + static_cast<uint32_t>(block)) % 16, pitch, 0));
        }
        ring.push(midi(0xB0, 7, static_cast<uint32_t>(block) & 0x7F));
        for (uint32_t i = 0; i < 16; ++i)
            toProcessor.addChange((static_cast<uint32_t>(block) + i) % 48, (i + 1) / 17.0, 0);
    }

    // One block in one of the six device layouts (the block number picks it), with
    // an aligned or a 4-byte-misaligned device buffer.
    void render(int32_t block)
    {
        static const int32_t formats[] = {Kelvane::SampleFormatInt16, Kelvane::SampleFormatInt32,
                                          Kelvane::SampleFormatFloat32};
        const PomaroApp::DeviceFormat format{formats[block % 3], (block / 3) % 2 == 0, kFrames};
        unsigned char* base = device + ((16 - reinterpret_cast<std::uintptr_t>(device) % 16) % 16);
        unsigned char* b0 = (block / 6) % 2 ? base : base + 4;
        unsigned char* b1 = b0 + kFrames * 4;
        PomaroApp::renderBlock(pd, PomaroApp::RenderQueues{ring, toProcessor, fromProcessor}, &processor,
                               format, b0, format.interleaved ? nullptr : b1);
        // Every fourth block also the silence that a faulted plug-in's blocks get.
        if (block % 4 == 3)
            PomaroApp::renderSilence(pd, format, b0, format.interleaved ? nullptr : b1);
    }

    // The user-interface thread's side of the reports, so the queue never fills.
    void drainReports() { fromProcessor.clearFromReader(); }

    PomaroApp::CProcessData pd;
    PomaroApp::MidiMessageRing ring;
    PomaroApp::ParameterChangeTransfer2 toProcessor;
    PomaroApp::ParameterChangeTransfer2 fromProcessor;
    FakeProcessor processor;
    unsigned char* device = nullptr;
};

} // namespace RenderCoreTest
