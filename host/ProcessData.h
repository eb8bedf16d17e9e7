#pragma once
// What the host hands to IAudioProcessor::process for every block: the SDK's
// ProcessData, the parameter change lists and event list it points at, and the
// plug-in's output channels. Platform-free. Built and changed on the user-interface
// thread while the device is stopped; used by the audio thread only while processing.

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "public.sdk/source/vst/hosting/eventlist.h"
#include "public.sdk/source/vst/hosting/parameterchanges.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace PomaroApp {

// Room in each parameter change list: more distinct parameters in one block make
// the SDK list allocate on the audio thread.
constexpr int32_t kMaxParameterQueues = 64;
// Note events per block; messages beyond this wait in the ring for the next block.
constexpr int32_t kMaxEventsPerBlock = 256;

// The byte distance between two channels: frames * 4 rounded up to 16, so that
// every channel starts on a 16-byte boundary for the aligned vector loads.
constexpr std::size_t channelStride(int32_t frames)
{
    return (static_cast<std::size_t>(frames) * sizeof(float) + 15u) & ~static_cast<std::size_t>(15u);
}

// The plug-in's output channels: one block of memory holding every channel of every
// bus, each bus with two channels, each channel 16-byte aligned.
struct CProcessBuffers
{
    CProcessBuffers() = default;
    ~CProcessBuffers() { release(); }
    CProcessBuffers(const CProcessBuffers&) = delete;
    CProcessBuffers& operator=(const CProcessBuffers&) = delete;

    // Replaces the present set. False (and an empty set) when numBuses or numSamples
    // is below 1 or memory runs out.
    bool allocate(int32_t numBuses, int32_t numSamples);
    void release();

    // Channel c (0 left, 1 right) of bus b where allocate put it; null outside the set.
    float* channel(int32_t bus, int32_t c) const noexcept;
    // Zeroes every channel and sets every bus's silence flags to 0: what a plug-in
    // leaves unwritten in a block is then silence, never the last block or stale heap.
    void clear() noexcept;

    int32_t sampleSize = Steinberg::Vst::kSample32;
    int32_t numBuses = 0;
    int32_t numChannels = 0;
    int32_t numSamples = 0;
    std::unique_ptr<Steinberg::Vst::AudioBusBuffers[]> buses;
    std::unique_ptr<float*[]> channelPointers; // two for each bus, left and right
    std::unique_ptr<unsigned char[]> memory;
};

struct CProcessData
{
    CProcessData();
    ~CProcessData();
    CProcessData(const CProcessData&) = delete;
    CProcessData& operator=(const CProcessData&) = delete;

    Steinberg::Vst::ProcessData data{};
    Steinberg::Vst::ParameterChanges* inputParameterChanges = nullptr;
    Steinberg::Vst::ParameterChanges* outputParameterChanges = nullptr;
    Steinberg::Vst::EventList* inputEvents = nullptr;
    Steinberg::Vst::IEventList* outputEvents = nullptr; // the plug-in gets no output event list
    CProcessBuffers buffers;
    // The last setup the processor accepted (maxSamplesPerBlock 0: none yet). A block
    // longer than this is never handed to the plug-in.
    Steinberg::Vst::ProcessSetup acceptedSetup{};
};

} // namespace PomaroApp
