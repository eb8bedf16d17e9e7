#include "host/ProcessData.h"

#include <cstring>
#include <new>

namespace PomaroApp {

using namespace Steinberg::Vst;

bool CProcessBuffers::allocate(int32_t busCount, int32_t frames)
{
    release();
    if (busCount < 1 || frames < 1)
        return false;
    const std::size_t stride = channelStride(frames);
    const std::size_t channels = 2u * static_cast<std::size_t>(busCount);
    memory = new (std::nothrow) unsigned char[channels * stride + 16u];
    buses = new (std::nothrow) AudioBusBuffers[busCount];
    if (!memory || !buses) {
        delete[] memory;
        memory = nullptr;
        delete[] buses;
        buses = nullptr;
        return false;
    }
    std::memset(static_cast<void*>(buses), 0, sizeof(AudioBusBuffers) * static_cast<std::size_t>(busCount));
    sampleSize = kSample32;
    numBuses = busCount;
    numChannels = 2;
    numSamples = frames;

    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(memory);
    unsigned char* base = memory + ((16u - (start & 15u)) & 15u);
    for (int32_t b = 0; b < busCount; ++b) {
        float** pair = new (std::nothrow) float*[2];
        if (!pair) {
            release();
            return false;
        }
        pair[0] = reinterpret_cast<float*>(base);
        pair[1] = reinterpret_cast<float*>(base + stride);
        buses[b].numChannels = 2;
        buses[b].channelBuffers32 = pair;
        base += 2u * stride;
    }
    return true;
}

void CProcessBuffers::release()
{
    if (buses) {
        for (int32_t b = 0; b < numBuses; ++b)
            delete[] buses[b].channelBuffers32; // the same pointer as channelBuffers64
        delete[] buses;
        buses = nullptr;
        numBuses = 0;
        numChannels = 0;
        numSamples = 0;
    }
    delete[] memory;
    memory = nullptr;
}

float* CProcessBuffers::channel(int32_t bus, int32_t c) const noexcept
{
    if (!memory || bus < 0 || bus >= numBuses || c < 0 || c >= numChannels)
        return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(memory);
    unsigned char* base = memory + ((16u - (start & 15u)) & 15u);
    const std::size_t index = 2u * static_cast<std::size_t>(bus) + static_cast<std::size_t>(c);
    return reinterpret_cast<float*>(base + index * channelStride(numSamples));
}

void CProcessBuffers::clear() noexcept
{
    if (!memory || !buses)
        return;
    // One store over the channels of every bus, which lie back to back.
    std::memset(channel(0, 0), 0, 2u * static_cast<std::size_t>(numBuses) * channelStride(numSamples));
    for (int32_t b = 0; b < numBuses; ++b)
        buses[b].silenceFlags = 0;
}

CProcessData::CProcessData()
{
    data.processMode = kRealtime;
    data.symbolicSampleSize = kSample32;
    data.numOutputs = 1;
    inputParameterChanges = new ParameterChanges(kMaxParameterQueues);
    outputParameterChanges = new ParameterChanges(kMaxParameterQueues);
    inputEvents = new EventList(kMaxEventsPerBlock);
    data.inputParameterChanges = inputParameterChanges;
    data.outputParameterChanges = outputParameterChanges;
    data.inputEvents = inputEvents;
    data.outputEvents = outputEvents;
}

CProcessData::~CProcessData()
{
    data.outputs = nullptr;
    buffers.release();
    if (outputEvents)
        outputEvents->release();
    inputEvents->release();
    outputParameterChanges->release();
    inputParameterChanges->release();
}

} // namespace PomaroApp
