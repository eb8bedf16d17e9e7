#pragma once
// One device buffer's worth of work on the audio thread: queued notes and parameter
// changes into the process data, one process call, the processor's reports back to
// the user-interface thread, and the conversion into the device's format. Platform-free;
// takes no lock that can wait, allocates nothing and makes no system call (the SDK's
// parameter list allocates only when more than kMaxParameterQueues parameters change in
// one block).

#include "host/MidiMessageRing.h"
#include "host/ParameterChangeTransfer2.h"
#include "host/ProcessData.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstevents.h"

#include <cstdint>

namespace PomaroApp {

// The device's side of a block, as onPrepare recorded it.
struct DeviceFormat
{
    int32_t sampleFormat; // Kelvane::SampleFormat
    bool interleaved;
    int32_t frames;
};

// The three queues between the threads, seen from the audio thread.
struct RenderQueues
{
    MidiMessageRing& midi;                   // read
    ParameterChangeTransfer2& toProcessor;   // read
    ParameterChangeTransfer2& fromProcessor; // written
};

// A note-on or note-off message as a live event at the start of the block; false for
// every other message. A note-on with velocity 0 is a note-off with velocity 0.
bool decodeNoteMessage(uint32_t message, Steinberg::Vst::Event& event) noexcept;

// Takes messages from the ring, oldest first, and adds their note events to events
// until it holds maxEvents; what is left waits for the next block, so no note-off is
// lost to a full list. Returns the number of messages taken.
int32_t collectNoteEvents(MidiMessageRing& ring, Steinberg::Vst::IEventList& events,
                          int32_t maxEvents) noexcept;

// Converts frames of left/right into the device buffers. False, with nothing
// written, for a format without a routine.
bool storeDeviceBuffers(const float* left, const float* right, const DeviceFormat& format, void* buffer0,
                        void* buffer1) noexcept;

// The whole block. The output channels are cleared before the process call. With no
// processor nothing is converted.
void renderBlock(CProcessData& pd, RenderQueues queues, Steinberg::Vst::IAudioProcessor* processor,
                 const DeviceFormat& format, void* buffer0, void* buffer1) noexcept;

// A block without the plug-in: cleared channels into the device buffers. The queues
// are left as they are.
void renderSilence(CProcessData& pd, const DeviceFormat& format, void* buffer0, void* buffer1) noexcept;

} // namespace PomaroApp
