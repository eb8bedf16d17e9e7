// The recorder's audio module: component, audio processor and connection point in one object,
// with one stereo output bus and one event input bus. Each note-on starts a sine at its pitch
// (69 = 440 Hz) with peak velocity x Level on both channels, until its note-off or 2 s.
#include "plugins/recorder/Recorder.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <windows.h>

#include <cmath>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

namespace {

// At most this many events are spelled out in a process record; numEvents counts them all.
constexpr int kMaxListedEvents = 16;

class Component final : public IComponent, public IAudioProcessor, public Half
{
public:
    Component() : Half("component")
    {
        for (int i = 0; i < kNumParams; ++i)
            params[i].store(kDefaults[i], std::memory_order_relaxed);
        liveObjects().fetch_add(1);
    }

    tresult castTo(const TUID iid, void** obj)
    {
        *obj = nullptr;
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginBase::iid) ||
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
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        return Call("component", "queryInterface").done(castTo(iid, obj));
    }
    RECORDER_REFCOUNT

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        return initializeHalf(context, faultIs(Fault::ComponentInitFails));
    }
    tresult PLUGIN_API terminate() override
    {
        Call call("component", "terminate");
        if (active)
            stopFlusher();
        active = false;
        return call.done(releaseHost());
    }

    tresult PLUGIN_API getControllerClassId(TUID classId) override
    {
        Call call("component", "getControllerClassId");
        if (faultIs(Fault::NoController))
            return call.done(kResultFalse);
        kControllerUid.toTUID(classId);
        return call.done(kResultOk);
    }
    tresult PLUGIN_API setIoMode(IoMode) override { return kNotImplemented; }
    int32 outputBusCount() const { return faultIs(Fault::TwoOutputs) ? 2 : 1; }
    int32 PLUGIN_API getBusCount(MediaType type, BusDirection dir) override
    {
        Call call("component", "getBusCount");
        int32 count = 0;
        if (type == kAudio && dir == kOutput)
            count = outputBusCount();
        else if (type == kEvent && dir == kInput)
            count = faultIs(Fault::NoEventInput) ? 0 : 1;
        call.doneInt(count);
        return count;
    }
    tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) override
    {
        std::memset(&bus, 0, sizeof(bus));
        bus.mediaType = type;
        bus.direction = dir;
        bus.flags = BusInfo::kDefaultActive;
        bus.busType = index == 0 ? kMain : kAux;
        if (type == kAudio && dir == kOutput && index >= 0 && index < outputBusCount())
            bus.channelCount = faultIs(Fault::MonoOutput) ? 1 : 2;
        else if (type == kEvent && dir == kInput && index == 0 && !faultIs(Fault::NoEventInput))
            bus.channelCount = 16;
        else
            return kInvalidArgument;
        return kResultOk;
    }
    tresult PLUGIN_API getRoutingInfo(RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
    tresult PLUGIN_API activateBus(MediaType, BusDirection, int32, TBool) override { return kResultOk; }
    tresult PLUGIN_API setActive(TBool state) override
    {
        Call call("component", "setActive");
        call.w().kvInt("state", state);
        if (state && faultIs(Fault::SetActiveRefused))
            return call.done(kResultFalse);
        if (state && !active) {
            left = 0; // a new stream starts silent
            pitch = -1;
            startFlusher();
        } else if (!state && active)
            stopFlusher();
        active = state != 0;
        return call.done(kResultOk);
    }
    // The host never restores a state into the component: no preset, no project.
    tresult PLUGIN_API setState(IBStream*) override { return kNotImplemented; }
    tresult PLUGIN_API getState(IBStream* state) override
    {
        Call call("component", "getState");
        double values[kNumParams];
        for (int i = 0; i < kNumParams; ++i)
            values[i] = params[i].load(std::memory_order_relaxed);
        int32 written = 0;
        if (faultIs(Fault::GetStateRefused) || !state ||
            state->write(values, kStateBytes, &written) != kResultOk)
            return call.done(kResultFalse);
        return call.done(kResultOk);
    }

    // The host takes the buses as getBusInfo describes them and negotiates no arrangement.
    tresult PLUGIN_API setBusArrangements(SpeakerArrangement*, int32, SpeakerArrangement*, int32) override
    {
        return kNotImplemented;
    }
    tresult PLUGIN_API getBusArrangement(BusDirection, int32, SpeakerArrangement&) override
    {
        return kNotImplemented;
    }
    tresult PLUGIN_API canProcessSampleSize(int32 size) override
    {
        return size == kSample32 ? kResultTrue : kResultFalse;
    }
    uint32 PLUGIN_API getLatencySamples() override { return 0; }
    uint32 PLUGIN_API getTailSamples() override { return 0; }
    tresult PLUGIN_API setupProcessing(ProcessSetup& setup) override
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
        sampleRate = setup.sampleRate;
        return call.done(kResultOk);
    }
    tresult PLUGIN_API setProcessing(TBool state) override
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
    tresult PLUGIN_API process(ProcessData& data) override;

private:
    ~Component()
    {
        releaseHost();
        liveObjects().fetch_sub(1);
    }
    void faultAtFirstNoteOn(uint32_t processSeq);
    void render(float* l, float* r, int32 from, int32 to, float level);

    bool active{false};
    int setupCount{0};
    double sampleRate{44100.0};

    // Read by process on the audio thread, written by the user-interface thread.
    std::atomic<bool> processing{false};
    std::atomic<double> params[kNumParams];

    // Audio thread only: the sounding note (reset by setActive(true)) and the one fault.
    int pitch{-1};
    double phase{0}, phaseStep{0};
    float amplitude{0};
    int64_t left{0}; // frames the note still sounds
    bool noteOnFaultDone{false};
};

void Component::render(float* l, float* r, int32 from, int32 to, float level)
{
    for (int32 i = from; i < to; ++i) {
        float s = 0.f;
        if (left > 0) {
            s = amplitude * level * float(std::sin(phase));
            phase = std::fmod(phase + phaseStep, 6.283185307179586);
            if (--left == 0)
                pitch = -1;
        }
        l[i] = s;
        if (r)
            r[i] = s;
    }
}

void Component::faultAtFirstNoteOn(uint32_t processSeq)
{
    if (noteOnFaultDone)
        return;
    noteOnFaultDone = true;
    if (faultIs(Fault::CrashInProcess))
        amplitude += float(readAddress0x10());
    if (faultIs(Fault::StallInProcess)) {
        // Written before the wait, so a call that never returns is seen to have begun.
        struct Stall
        {
            uint32_t seq, tid, process;
        } stall{nextSeq(), currentThreadId(), processSeq};
        pushProcessRecord(
            [](char* text, size_t capacity, const void* context) {
                const Stall& s = *static_cast<const Stall*>(context);
                LineWriter w(text, capacity);
                w.integer(s.seq).ch(' ').integer(s.tid).text(" component.stall").kvInt("process", s.process);
                return w.kvInt("ms", 5000).text(" -> void").size();
            },
            &stall);
        Sleep(5000);
    }
}

// Audio thread: no allocation, no lock, no system call (but for the faults that stall on
// purpose). The record is formatted straight into a slot of the preallocated ring.
tresult PLUGIN_API Component::process(ProcessData& data)
{
    struct Record
    {
        uint32_t seq, tid;
        ProcessData* data;
        bool processing, aligned;
        int32 numParams;
    } record{nextSeq(), currentThreadId(), &data, processing.load(std::memory_order_acquire), false, 0};

    // Parameter changes: the last point of each queue applies to the whole block.
    if (IParameterChanges* changes = data.inputParameterChanges) {
        for (int32 i = 0; i < changes->getParameterCount(); ++i) {
            IParamValueQueue* queue = changes->getParameterData(i);
            int32 offset = 0;
            ParamValue value = 0;
            if (!queue || queue->getPointCount() <= 0)
                continue;
            record.numParams += queue->getPointCount();
            if (queue->getParameterId() < ParamID(kNumParams) &&
                queue->getPoint(queue->getPointCount() - 1, offset, value) == kResultTrue)
                params[queue->getParameterId()].store(value, std::memory_order_relaxed);
        }
    }

    // Render up to each event's offset, then apply it. The silent variant writes nothing.
    const int32 frames = data.numSamples > 0 ? data.numSamples : 0;
    const bool canRender = data.symbolicSampleSize == kSample32 && data.numOutputs > 0 && data.outputs &&
                           data.outputs[0].numChannels > 0 && data.outputs[0].channelBuffers32;
    const bool writes = canRender && !faultIs(Fault::SilentOutput);
    float* l = canRender ? data.outputs[0].channelBuffers32[0] : nullptr;
    float* r = canRender && data.outputs[0].numChannels > 1 ? data.outputs[0].channelBuffers32[1] : nullptr;
    const float level = float(params[0].load(std::memory_order_relaxed));
    int32 done = 0;
    IEventList* events = data.inputEvents;
    for (int32 i = 0, n = events ? events->getEventCount() : 0; i < n; ++i) {
        Event e{};
        if (events->getEvent(i, e) != kResultOk)
            continue;
        const int32 at = e.sampleOffset < done ? done : e.sampleOffset > frames ? frames : e.sampleOffset;
        if (writes)
            render(l, r, done, at, level);
        done = at;
        if (e.type == Event::kNoteOnEvent && e.noteOn.velocity > 0.f) {
            faultAtFirstNoteOn(record.seq);
            pitch = e.noteOn.pitch;
            phase = 0;
            phaseStep = 6.283185307179586 * 440.0 * std::pow(2.0, (pitch - 69) / 12.0) / sampleRate;
            amplitude = e.noteOn.velocity;
            left = int64_t(2.0 * sampleRate);
        } else if ((e.type == Event::kNoteOnEvent && e.noteOn.pitch == pitch) ||
                   (e.type == Event::kNoteOffEvent && e.noteOff.pitch == pitch))
            left = 0;
    }
    if (writes) {
        render(l, r, done, frames, level);
        data.outputs[0].silenceFlags = 0;
    }
    record.aligned = canRender;
    for (int32 c = 0; canRender && c < data.outputs[0].numChannels; ++c)
        record.aligned = record.aligned && (uintptr_t(data.outputs[0].channelBuffers32[c]) & 15) == 0;
    record.processing = record.processing && processing.load(std::memory_order_acquire);

    pushProcessRecord(
        [](char* text, size_t capacity, const void* context) {
            const Record& rec = *static_cast<const Record*>(context);
            const ProcessData& d = *rec.data;
            LineWriter w(text, capacity);
            w.integer(rec.seq).ch(' ').integer(rec.tid).text(" component.process");
            w.kvInt("numSamples", d.numSamples)
                .kvInt("numOutputs", d.numOutputs)
                .kvInt("channels", d.numOutputs > 0 && d.outputs ? d.outputs[0].numChannels : -1)
                .kvInt("align16", rec.aligned)
                .kvInt("context", d.processContext ? 1 : 0)
                .kvInt("outEvents", d.outputEvents ? 1 : 0)
                .kvInt("processing", rec.processing);
            const int32 n = d.inputEvents ? d.inputEvents->getEventCount() : 0;
            w.kvInt("numEvents", n).text(" events=[");
            for (int32 i = 0; i < n && i < kMaxListedEvents; ++i) {
                Event e{};
                w.text(i ? "," : "");
                if (d.inputEvents->getEvent(i, e) != kResultOk)
                    w.text("error");
                else if (e.type == Event::kNoteOnEvent)
                    w.text("on:").integer(e.noteOn.channel).ch(':').integer(e.noteOn.pitch).ch(':');
                else if (e.type == Event::kNoteOffEvent)
                    w.text("off:").integer(e.noteOff.channel).ch(':').integer(e.noteOff.pitch).ch(':');
                else
                    w.text("type").integer(e.type).ch(':');
                if (e.type == Event::kNoteOnEvent)
                    w.number(e.noteOn.velocity)
                        .ch(':')
                        .integer(e.sampleOffset)
                        .ch(':')
                        .integer(e.noteOn.noteId);
                else if (e.type == Event::kNoteOffEvent)
                    w.number(e.noteOff.velocity)
                        .ch(':')
                        .integer(e.sampleOffset)
                        .ch(':')
                        .integer(e.noteOff.noteId);
                w.ch(':').integer(e.busIndex).ch(':').integer(e.flags);
            }
            return w.ch(']').kvInt("numParams", rec.numParams).text(" -> kResultOk").size();
        },
        &record);
    return kResultOk;
}

} // namespace

tresult createComponent(const TUID iid, void** obj)
{
    auto* object = new Component;
    const tresult r = object->castTo(iid, obj);
    object->release();
    return r;
}

} // namespace Recorder
