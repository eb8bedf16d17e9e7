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
    memory.reset(new (std::nothrow) unsigned char[channels * stride + 16u]);
    buses.reset(new (std::nothrow) AudioBusBuffers[busCount]());
    channelPointers.reset(new (std::nothrow) float*[channels]);
    if (!memory || !buses || !channelPointers) {
        release();
        return false;
    }
    sampleSize = kSample32;
    numBuses = busCount;
    numChannels = 2;
    numSamples = frames;
    for (int32_t b = 0; b < busCount; ++b) {
        float** pair = &channelPointers[2u * static_cast<std::size_t>(b)];
        pair[0] = channel(b, 0);
        pair[1] = channel(b, 1);
        buses[b].numChannels = 2;
        buses[b].channelBuffers32 = pair;
    }
    return true;
}

void CProcessBuffers::release()
{
    buses.reset();
    channelPointers.reset();
    memory.reset();
    numBuses = 0;
    numChannels = 0;
    numSamples = 0;
}

float* CProcessBuffers::channel(int32_t bus, int32_t c) const noexcept
{
    if (!memory || bus < 0 || bus >= numBuses || c < 0 || c >= numChannels)
        return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(memory.get());
    unsigned char* base = memory.get() + ((16u - (start & 15u)) & 15u);
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
