#include "plugins/recorder/RecorderComponent.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "plugins/recorder/HostCalls.h"
#include "plugins/recorder/RecorderLog.h"
#include "plugins/recorder/StateIo.h"
#include "plugins/recorder/Variant.h"

#include <windows.h>

#include <cmath>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

namespace {

const char* mediaName(MediaType t) { return t == kAudio ? "audio" : t == kEvent ? "event" : "other"; }
const char* dirName(BusDirection d) { return d == kInput ? "input" : "output"; }

void copyName(String128 dst, const char* src)
{
    int i = 0;
    for (; src[i] && i < 127; ++i)
        dst[i] = char16(src[i]);
    dst[i] = 0;
}

// Upper bounds for what one process record spells out; the counts are always exact.
constexpr int kMaxListedEvents = 16;
constexpr int kMaxListedPoints = 16;

} // namespace

RecorderComponent::RecorderComponent()
{
    for (int i = 0; i < kNumParams; ++i)
        params[i].store(kDefaults[i], std::memory_order_relaxed);
    liveObjects().fetch_add(1);
}

RecorderComponent::~RecorderComponent()
{
    releaseHostObjects();
    liveObjects().fetch_sub(1);
    Call("component", "destroy").doneText("void");
}

uint32 PLUGIN_API RecorderComponent::release()
{
    const uint32 left = refs.drop();
    if (left == 0)
        delete this;
    return left;
}

tresult RecorderComponent::castTo(const TUID iid, void** obj)
{
    *obj = nullptr;
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, IPluginBase::iid) ||
        FUnknownPrivate::iidEqual(iid, IComponent::iid))
        *obj = static_cast<IComponent*>(this);
    else if (FUnknownPrivate::iidEqual(iid, IAudioProcessor::iid) && !faultIs(Fault::NoAudioProcessor))
        *obj = static_cast<IAudioProcessor*>(this);
    else if (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid) && !faultIs(Fault::NoConnection) &&
             !faultIs(Fault::ComponentNoConnection))
        *obj = static_cast<IConnectionPoint*>(this);
    if (!*obj)
        return kNoInterface;
    addRef();
    return kResultOk;
}

tresult PLUGIN_API RecorderComponent::queryInterface(const TUID iid, void** obj)
{
    return logQuery("component", iid, castTo(iid, obj));
}

void RecorderComponent::releaseHostObjects()
{
    releaseHeld(peer);
    releaseHeld(hostContext);
}

//------------------------------------------------------------------------------ IPluginBase

tresult PLUGIN_API RecorderComponent::initialize(FUnknown* context)
{
    Call call("component", "initialize");
    call.w().kv("context", context ? "ptr" : "null");
    if (initialized || !context)
        return call.done(kResultFalse);
    if (faultIs(Fault::ComponentInitFails))
        return call.done(kResultFalse);
    hostContext = context;
    hostContext->addRef();
    initialized = true;
    logHostName(context);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::terminate()
{
    Call call("component", "terminate");
    if (holdsFlusher) {
        stopFlusher();
        holdsFlusher = false;
    }
    writeProcessSummary();
    releaseHostObjects();
    const bool was = initialized;
    initialized = false;
    return call.done(was ? kResultOk : kResultFalse);
}

//------------------------------------------------------------------------------ IComponent

tresult PLUGIN_API RecorderComponent::getControllerClassId(TUID classId)
{
    Call call("component", "getControllerClassId");
    if (faultIs(Fault::NoController))
        return call.done(kResultFalse);
    kControllerUid.toTUID(classId);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::setIoMode(IoMode mode)
{
    Call call("component", "setIoMode");
    call.w().kvInt("mode", mode);
    return call.done(kNotImplemented);
}

int32 RecorderComponent::outputBusCount() const { return faultIs(Fault::TwoOutputs) ? 2 : 1; }

int32 PLUGIN_API RecorderComponent::getBusCount(MediaType type, BusDirection dir)
{
    Call call("component", "getBusCount");
    call.w().kv("type", mediaName(type)).kv("dir", dirName(dir));
    int32 count = 0;
    if (type == kAudio && dir == kOutput)
        count = outputBusCount();
    else if (type == kEvent && dir == kInput)
        count = faultIs(Fault::NoEventInput) ? 0 : 1;
    call.doneInt(count);
    return count;
}

tresult PLUGIN_API RecorderComponent::getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus)
{
    Call call("component", "getBusInfo");
    call.w().kv("type", mediaName(type)).kv("dir", dirName(dir)).kvInt("index", index);
    std::memset(&bus, 0, sizeof(bus));
    if (type == kAudio && dir == kOutput && index >= 0 && index < outputBusCount()) {
        bus.mediaType = kAudio;
        bus.direction = kOutput;
        bus.channelCount = faultIs(Fault::MonoOutput) ? 1 : 2;
        copyName(bus.name, index == 0 ? "Output" : "Aux Output");
        bus.busType = index == 0 ? kMain : kAux;
        bus.flags = BusInfo::kDefaultActive;
    } else if (type == kEvent && dir == kInput && index == 0 && !faultIs(Fault::NoEventInput)) {
        bus.mediaType = kEvent;
        bus.direction = kInput;
        bus.channelCount = 16;
        copyName(bus.name, "Notes");
        bus.busType = kMain;
        bus.flags = BusInfo::kDefaultActive;
    } else
        return call.done(kInvalidArgument);
    call.w().kvInt("channelCount", bus.channelCount);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::getRoutingInfo(RoutingInfo&, RoutingInfo&)
{
    return Call("component", "getRoutingInfo").done(kNotImplemented);
}

tresult PLUGIN_API RecorderComponent::activateBus(MediaType type, BusDirection dir, int32 index, TBool state)
{
    Call call("component", "activateBus");
    call.w().kv("type", mediaName(type)).kv("dir", dirName(dir)).kvInt("index", index).kvInt("state", state);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::setActive(TBool state)
{
    Call call("component", "setActive");
    call.w().kvInt("state", state);
    if (state && faultIs(Fault::SetActiveRefused))
        return call.done(kResultFalse);
    if (state) {
        if (!holdsFlusher) {
            startFlusher();
            holdsFlusher = true;
        }
        voice.reset();
    } else {
        if (holdsFlusher) {
            stopFlusher();
            holdsFlusher = false;
        }
        writeProcessSummary();
    }
    active = state != 0;
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::setState(IBStream* state)
{
    Call call("component", "setState");
    double values[kStateParams];
    if (!readState(state, values))
        return call.done(kResultFalse);
    for (int i = 0; i < kStateParams; ++i)
        params[i].store(values[i], std::memory_order_relaxed);
    call.w().kvInt("bytes", kStateBytes);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::getState(IBStream* state)
{
    Call call("component", "getState");
    if (faultIs(Fault::GetStateRefused))
        return call.done(kResultFalse);
    double values[kStateParams];
    for (int i = 0; i < kStateParams; ++i)
        values[i] = params[i].load(std::memory_order_relaxed);
    if (!writeState(state, values))
        return call.done(kResultFalse);
    call.w().kvInt("bytes", kStateBytes);
    return call.done(kResultOk);
}

//------------------------------------------------------------------------------ IAudioProcessor

tresult PLUGIN_API RecorderComponent::setBusArrangements(SpeakerArrangement*, int32 numIns,
                                                         SpeakerArrangement* outputs, int32 numOuts)
{
    Call call("component", "setBusArrangements");
    call.w().kvInt("numIns", numIns).kvInt("numOuts", numOuts);
    const SpeakerArrangement own = faultIs(Fault::MonoOutput) ? SpeakerArr::kMono : SpeakerArr::kStereo;
    bool ok = numIns == 0 && numOuts == outputBusCount() && outputs;
    for (int32 i = 0; ok && i < numOuts; ++i)
        ok = outputs[i] == own;
    return call.done(ok ? kResultOk : kResultFalse);
}

tresult PLUGIN_API RecorderComponent::getBusArrangement(BusDirection dir, int32 index,
                                                        SpeakerArrangement& arr)
{
    Call call("component", "getBusArrangement");
    call.w().kv("dir", dirName(dir)).kvInt("index", index);
    if (dir != kOutput || index < 0 || index >= outputBusCount())
        return call.done(kInvalidArgument);
    arr = faultIs(Fault::MonoOutput) ? SpeakerArr::kMono : SpeakerArr::kStereo;
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::canProcessSampleSize(int32 symbolicSampleSize)
{
    Call call("component", "canProcessSampleSize");
    call.w().kvInt("size", symbolicSampleSize);
    return call.done(symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse);
}

uint32 PLUGIN_API RecorderComponent::getLatencySamples()
{
    Call("component", "getLatencySamples").doneInt(0);
    return 0;
}

uint32 PLUGIN_API RecorderComponent::getTailSamples()
{
    Call("component", "getTailSamples").doneInt(0);
    return 0;
}

tresult PLUGIN_API RecorderComponent::setupProcessing(ProcessSetup& setup)
{
    Call call("component", "setupProcessing");
    call.w()
        .kvNum("sampleRate", setup.sampleRate)
        .kvInt("maxSamplesPerBlock", setup.maxSamplesPerBlock)
        .kvInt("symbolicSampleSize", setup.symbolicSampleSize)
        .kvInt("processMode", setup.processMode);
    ++setupCount;
    if (faultIs(Fault::SetupRefused) || (faultIs(Fault::SetupRefusedSecond) && setupCount > 1))
        return call.done(kResultFalse);
    // Only 32-bit float processing is implemented; a real instrument refuses the rest too.
    if (setup.symbolicSampleSize != kSample32 || setup.sampleRate <= 0 || setup.maxSamplesPerBlock <= 0 ||
        active)
        return call.done(kResultFalse);
    maxSamplesPerBlock = setup.maxSamplesPerBlock;
    sampleSize = setup.symbolicSampleSize;
    voice.setSampleRate(setup.sampleRate);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::setProcessing(TBool state)
{
    Call call("component", "setProcessing");
    call.w().kvInt("state", state);
    if (faultIs(Fault::SetProcessingNotImpl))
        return call.done(kNotImplemented);
    processing.store(state != 0, std::memory_order_release);
    if (!state)
        drainProcessRecords();
    return call.done(kResultOk);
}

void RecorderComponent::writeProcessSummary()
{
    drainProcessRecords();
    Call call("component", "processSummary");
    call.w()
        .kvInt("calls", processCalls.load(std::memory_order_acquire))
        .kvInt("dropped", droppedRecords.load(std::memory_order_acquire))
        .kvInt("noteOns", noteOns.load(std::memory_order_acquire))
        .kvInt("soundingBlocks", soundingBlocks.load(std::memory_order_acquire));
    call.doneText("void");
}

void RecorderComponent::faultAtFirstNoteOn(uint32_t processSeq)
{
    if (noteOnFaultDone)
        return;
    noteOnFaultDone = true;
    if (faultIs(Fault::CrashInProcess)) {
        volatile uintptr_t address = 0x10; // opaque to the compiler: a real read at run time
        noteOns.fetch_add(*reinterpret_cast<volatile int*>(address), std::memory_order_relaxed);
    }
    if (faultIs(Fault::StallInProcess)) {
        // Written before the wait, so a call that never returns is seen to have begun.
        const uint32_t seq = nextSeq();
        const uint32_t tid = currentThreadId();
        processRing().push([&](char* text, size_t capacity) {
            LineWriter w(text, capacity);
            w.integer(seq).ch(' ').integer(tid).text(" component.stall").kvInt("process", processSeq);
            w.kvInt("ms", 5000).text(" -> void");
            return w.size();
        });
        Sleep(5000);
    }
}

// Audio thread: no allocation, no lock, no system call (but for the faults that stall
// on purpose). The record is formatted straight into a slot of the preallocated ring.
tresult PLUGIN_API RecorderComponent::process(ProcessData& data)
{
    const uint32_t seq = nextSeq();
    const uint32_t tid = currentThreadId();
    // Processing in force for the whole call, not just at its end: a call that
    // overlaps setProcessing(false) is recorded as processing=0 too.
    const bool processingAtStart = processing.load(std::memory_order_acquire);
    processCalls.fetch_add(1, std::memory_order_relaxed);

    // Parameter changes: the last point of each queue applies to the whole block.
    if (IParameterChanges* changes = data.inputParameterChanges) {
        const int32 n = changes->getParameterCount();
        for (int32 i = 0; i < n; ++i) {
            IParamValueQueue* queue = changes->getParameterData(i);
            if (!queue || queue->getPointCount() <= 0)
                continue;
            int32 offset = 0;
            ParamValue value = 0;
            const ParamID id = queue->getParameterId();
            if (id < kLastNote && queue->getPoint(queue->getPointCount() - 1, offset, value) == kResultTrue)
                params[id].store(value, std::memory_order_relaxed);
        }
    }

    // Render up to each event's offset, then apply it.
    const int32 frames = data.numSamples > 0 ? data.numSamples : 0;
    const bool canRender = data.symbolicSampleSize == kSample32 && data.numOutputs > 0 && data.outputs &&
                           data.outputs[0].numChannels > 0 && data.outputs[0].channelBuffers32;
    // The silent variant still reads its outputs for the record: what the host handed over.
    const bool writes = canRender && !faultIs(Fault::SilentOutput);
    float* left = canRender ? data.outputs[0].channelBuffers32[0] : nullptr;
    float* right =
        canRender && data.outputs[0].numChannels > 1 ? data.outputs[0].channelBuffers32[1] : nullptr;
    const float level = float(params[kLevel].load(std::memory_order_relaxed));
    int32 done = 0;
    int32 lastNoteOffset = -1;
    int lastNotePitch = 0;
    IEventList* events = data.inputEvents;
    const int32 numEvents = events ? events->getEventCount() : 0;
    for (int32 i = 0; i < numEvents; ++i) {
        Event e{};
        if (events->getEvent(i, e) != kResultOk)
            continue;
        int32 at = e.sampleOffset < done ? done : e.sampleOffset > frames ? frames : e.sampleOffset;
        if (writes && at > done)
            voice.render(left + done, right ? right + done : nullptr, at - done, level);
        done = at;
        if (e.type == Event::kNoteOnEvent && e.noteOn.velocity > 0.f) {
            faultAtFirstNoteOn(seq);
            voice.noteOn(e.noteOn.pitch, e.noteOn.velocity);
            noteOns.fetch_add(1, std::memory_order_relaxed);
            lastNoteOffset = at;
            lastNotePitch = e.noteOn.pitch;
        } else if (e.type == Event::kNoteOnEvent)
            voice.noteOff(e.noteOn.pitch);
        else if (e.type == Event::kNoteOffEvent)
            voice.noteOff(e.noteOff.pitch);
    }
    if (writes && frames > done)
        voice.render(left + done, right ? right + done : nullptr, frames - done, level);

    float peak = 0.f;
    if (canRender) {
        for (int32 c = 0; c < data.outputs[0].numChannels; ++c)
            for (int32 i = 0; i < frames; ++i)
                peak = std::fmax(peak, std::fabs(data.outputs[0].channelBuffers32[c][i]));
        if (peak > 0.f)
            soundingBlocks.fetch_add(1, std::memory_order_relaxed);
    }
    if (writes) {
        data.outputs[0].silenceFlags = peak == 0.f ? (uint64(1) << data.outputs[0].numChannels) - 1 : 0;
        for (int32 b = 1; b < data.numOutputs; ++b) {
            for (int32 c = 0; c < data.outputs[b].numChannels; ++c)
                if (data.outputs[b].channelBuffers32 && data.outputs[b].channelBuffers32[c])
                    std::memset(data.outputs[b].channelBuffers32[c], 0, sizeof(float) * size_t(frames));
            data.outputs[b].silenceFlags = (uint64(1) << data.outputs[b].numChannels) - 1;
        }
    }

    // The processor reports each note-on as the read-only "last note" parameter.
    double reported = -1;
    if (lastNoteOffset >= 0 && data.outputParameterChanges) {
        int32 queueIndex = 0, pointIndex = 0;
        reported = lastNotePitch / 127.0;
        params[kLastNote].store(reported, std::memory_order_relaxed);
        if (IParamValueQueue* q = data.outputParameterChanges->addParameterData(kLastNote, queueIndex))
            q->addPoint(lastNoteOffset, reported, pointIndex);
    }

    const bool pushed = processRing().push([&](char* text, size_t capacity) {
        LineWriter w(text, capacity);
        w.integer(seq).ch(' ').integer(tid).text(" component.process");
        w.kvInt("numSamples", data.numSamples)
            .kvInt("mode", data.processMode)
            .kvInt("size", data.symbolicSampleSize)
            .kvInt("numInputs", data.numInputs)
            .kvInt("numOutputs", data.numOutputs);
        w.kvInt("channels", data.numOutputs > 0 && data.outputs ? data.outputs[0].numChannels : -1);
        bool aligned = canRender;
        for (int32 c = 0; canRender && c < data.outputs[0].numChannels; ++c)
            aligned = aligned && (reinterpret_cast<uintptr_t>(data.outputs[0].channelBuffers32[c]) & 15) == 0;
        w.kvInt("align16", aligned ? 1 : 0)
            .kvInt("context", data.processContext ? 1 : 0)
            .kvInt("outEvents", data.outputEvents ? 1 : 0)
            .kvInt("processing", processingAtStart && processing.load(std::memory_order_acquire) ? 1 : 0);
        w.kvInt("numEvents", numEvents).text(" events=[");
        for (int32 i = 0; i < numEvents && i < kMaxListedEvents; ++i) {
            Event e{};
            if (i)
                w.ch(',');
            if (events->getEvent(i, e) != kResultOk)
                w.text("error");
            else if (e.type == Event::kNoteOnEvent)
                w.text("on:")
                    .integer(e.noteOn.channel)
                    .ch(':')
                    .integer(e.noteOn.pitch)
                    .ch(':')
                    .number(e.noteOn.velocity)
                    .ch(':')
                    .integer(e.sampleOffset)
                    .ch(':')
                    .integer(e.noteOn.noteId);
            else if (e.type == Event::kNoteOffEvent)
                w.text("off:")
                    .integer(e.noteOff.channel)
                    .ch(':')
                    .integer(e.noteOff.pitch)
                    .ch(':')
                    .number(e.noteOff.velocity)
                    .ch(':')
                    .integer(e.sampleOffset)
                    .ch(':')
                    .integer(e.noteOff.noteId);
            else
                w.text("type").integer(e.type).ch(':').integer(e.sampleOffset);
            w.ch(':').integer(e.busIndex).ch(':').integer(e.flags);
        }
        w.ch(']');
        int32 numPoints = 0;
        w.text(" params=[");
        if (IParameterChanges* changes = data.inputParameterChanges) {
            for (int32 i = 0; i < changes->getParameterCount(); ++i) {
                IParamValueQueue* queue = changes->getParameterData(i);
                for (int32 j = 0; queue && j < queue->getPointCount(); ++j, ++numPoints) {
                    int32 offset = 0;
                    ParamValue value = 0;
                    if (numPoints >= kMaxListedPoints || queue->getPoint(j, offset, value) != kResultTrue)
                        continue;
                    if (numPoints)
                        w.ch(',');
                    w.integer(queue->getParameterId()).ch('@').integer(offset).ch('=').number(value);
                }
            }
        }
        w.ch(']').kvInt("numParams", numPoints);
        w.kvNum("outPeak", peak);
        if (reported >= 0)
            w.text(" outParams=[")
                .integer(kLastNote)
                .ch('@')
                .integer(lastNoteOffset)
                .ch('=')
                .number(reported)
                .ch(']');
        else
            w.text(" outParams=[]");
        w.text(" -> kResultOk");
        return w.size();
    });
    if (!pushed)
        droppedRecords.fetch_add(1, std::memory_order_relaxed);
    return kResultOk;
}

//------------------------------------------------------------------------------ IConnectionPoint

tresult PLUGIN_API RecorderComponent::connect(IConnectionPoint* other)
{
    Call call("component", "connect");
    call.w().kv("other", other ? "ptr" : "null");
    if (!other || peer)
        return call.done(other ? kResultFalse : kInvalidArgument);
    peer = other;
    peer->addRef();
    // Greets the controller through a message made by the host, the way real plug-ins
    // talk to their other half.
    sendHello(hostContext, peer, "component");
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::disconnect(IConnectionPoint* other)
{
    Call call("component", "disconnect");
    if (!other || other != peer)
        return call.done(kResultFalse);
    peer->release();
    peer = nullptr;
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderComponent::notify(IMessage* message)
{
    Call call("component", "notify");
    call.w().kv("id", message && message->getMessageID() ? message->getMessageID() : "null");
    return call.done(message ? kResultOk : kInvalidArgument);
}

} // namespace Recorder
