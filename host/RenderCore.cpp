#include "host/RenderCore.h"

#include "audio/AudioTypes.h"
#include "host/SampleConversion.h"

namespace PomaroApp {

using namespace Steinberg;
using namespace Steinberg::Vst;

bool decodeNoteMessage(uint32_t message, Event& event) noexcept
{
    const uint32_t status = message & 0xFFu;
    const uint32_t kind = status & 0xF0u;
    if (kind != 0x80u && kind != 0x90u)
        return false;
    const auto channel = static_cast<int16>(status & 0x0Fu);
    const auto pitch = static_cast<int16>((message >> 8) & 0x7Fu);
    const uint32_t velocity = (message >> 16) & 0x7Fu;

    event = Event{};
    event.busIndex = 0;
    event.sampleOffset = 0;
    event.ppqPosition = 0.0;
    event.flags = Event::kIsLive;
    if (kind == 0x90u && velocity != 0) {
        event.type = Event::kNoteOnEvent;
        event.noteOn.channel = channel;
        event.noteOn.pitch = pitch;
        event.noteOn.tuning = 0.f;
        event.noteOn.velocity = static_cast<float>(velocity) / 127.f;
        event.noteOn.length = 0;
        event.noteOn.noteId = -1;
    } else {
        event.type = Event::kNoteOffEvent;
        event.noteOff.channel = channel;
        event.noteOff.pitch = pitch;
        event.noteOff.velocity = kind == 0x80u ? static_cast<float>(velocity) / 127.f : 0.f;
        event.noteOff.noteId = -1;
        event.noteOff.tuning = 0.f;
    }
    return true;
}

int32_t collectNoteEvents(MidiMessageRing& ring, IEventList& events, int32_t maxEvents) noexcept
{
    // Bounded by the ring's size, so producers writing meanwhile cannot keep the
    // audio thread here.
    int32_t taken = 0;
    uint32_t message = 0;
    while (taken < MidiMessageRing::kCapacity && events.getEventCount() < maxEvents && ring.pop(message)) {
        ++taken;
        Event event;
        if (decodeNoteMessage(message, event))
            events.addEvent(event);
    }
    return taken;
}

bool storeDeviceBuffers(const float* left, const float* right, const DeviceFormat& format, void* buffer0,
                        void* buffer1) noexcept
{
    const int32_t n = format.frames;
    if (format.interleaved) {
        switch (format.sampleFormat) {
        case Kelvane::SampleFormatInt16:
            storeInt16Interleaved(left, right, buffer0, n, 1.f);
            return true;
        case Kelvane::SampleFormatInt32:
            storeInt32Interleaved(left, right, buffer0, n, 1.f);
            return true;
        case Kelvane::SampleFormatFloat32:
            storeFloat32Interleaved(left, right, buffer0, n, 1.f);
            return true;
        default:
            return false;
        }
    }
    switch (format.sampleFormat) {
    case Kelvane::SampleFormatInt16:
        storeInt16PerChannel(left, right, buffer0, buffer1, n, 1.f);
        return true;
    case Kelvane::SampleFormatInt32:
        storeInt32PerChannel(left, right, buffer0, buffer1, n, 1.f);
        return true;
    case Kelvane::SampleFormatFloat32:
        storeFloat32PerChannel(left, right, buffer0, buffer1, n, 1.f);
        return true;
    default:
        return false;
    }
}

void renderBlock(CProcessData& pd, RenderQueues queues, IAudioProcessor* processor,
                 const DeviceFormat& format, void* buffer0, void* buffer1) noexcept
{
    if (pd.inputParameterChanges)
        pd.inputParameterChanges->clearQueue();
    if (pd.outputParameterChanges)
        pd.outputParameterChanges->clearQueue();
    if (pd.inputEvents)
        pd.inputEvents->clear();

    queues.toProcessor.transferChangesTo(pd.inputParameterChanges);
    if (pd.inputEvents)
        collectNoteEvents(queues.midi, *pd.inputEvents, kMaxEventsPerBlock);

    if (!processor)
        return;
    // Many instruments write nothing while no voice sounds.
    pd.buffers.clear();
    processor->process(pd.data);
    queues.fromProcessor.transferChangesFrom(pd.outputParameterChanges);

    const AudioBusBuffers* bus = pd.data.outputs;
    if (!bus || pd.data.numOutputs < 1 || bus->numChannels < 2 || !bus->channelBuffers32)
        return;
    storeDeviceBuffers(bus->channelBuffers32[0], bus->channelBuffers32[1], format, buffer0, buffer1);
}

void renderSilence(CProcessData& pd, const DeviceFormat& format, void* buffer0, void* buffer1) noexcept
{
    pd.buffers.clear();
    if (pd.buffers.numBuses < 1 || format.frames > pd.buffers.numSamples)
        return;
    storeDeviceBuffers(pd.buffers.channel(0, 0), pd.buffers.channel(0, 1), format, buffer0, buffer1);
}

} // namespace PomaroApp
