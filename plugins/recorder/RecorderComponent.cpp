// The recorder's audio module: component, audio processor and connection point in one object,
// with one stereo output bus and one event input bus. Each note-on starts a sine at its pitch
// (69 = 440 Hz) with peak velocity x Level on both channels, until its note-off or 2 s.
#include "plugins/recorder/Recorder.h"
#include "public.sdk/source/vst/vstaudioeffect.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <windows.h>

#include <cmath>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

namespace {

// At most this many events are spelled out in a process record; numEvents counts them all.
constexpr int kMaxListedEvents = 16;

class Component final : public AudioEffect
{
public:
    Component()
    {
        for (int i = 0; i < kNumParams; ++i)
            params[i].store(kDefaults[i], std::memory_order_relaxed);
        if (!faultIs(Fault::NoController))
            setControllerClass(kControllerUid);
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        Call call("component", "queryInterface");
        *obj = nullptr;
        if ((FUnknownPrivate::iidEqual(iid, IAudioProcessor::iid) && faultIs(Fault::NoAudioProcessor)) ||
            (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid) &&
             (faultIs(Fault::NoConnection) || faultIs(Fault::ComponentNoConnection))))
            return call.done(kNoInterface);
        return call.done(AudioEffect::queryInterface(iid, obj));
    }

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        Call call("component", "initialize");
        if (!context || faultIs(Fault::ComponentInitFails) || AudioEffect::initialize(context) != kResultOk)
            return call.done(kResultFalse);
        addAudioOutput(STR16("Out"), faultIs(Fault::MonoOutput) ? SpeakerArr::kMono : SpeakerArr::kStereo);
        if (faultIs(Fault::TwoOutputs))
            addAudioOutput(STR16("Out 2"), SpeakerArr::kStereo, kAux);
        if (!faultIs(Fault::NoEventInput))
            addEventInput(STR16("Events"), 16);
        logHostName(context);
        return call.done(kResultOk);
    }
    tresult PLUGIN_API terminate() override
    {
        Call call("component", "terminate");
        if (active)
            stopFlusher();
        active = false;
        return call.done(AudioEffect::terminate());
    }
    tresult PLUGIN_API connect(IConnectionPoint* other) override
    {
        return Call("component", "connect").done(AudioEffect::connect(other));
    }
    tresult PLUGIN_API getControllerClassId(TUID classId) override
    {
        return Call("component", "getControllerClassId").done(AudioEffect::getControllerClassId(classId));
    }
    int32 PLUGIN_API getBusCount(MediaType type, BusDirection dir) override
    {
        Call call("component", "getBusCount");
        const int32 count = AudioEffect::getBusCount(type, dir);
        char digits[24];
        call.doneText(LineWriter(digits, sizeof(digits)).integer(count).data());
        return count;
    }
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
        return call.done(AudioEffect::setupProcessing(setup));
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
    void faultAtFirstNoteOn(uint32_t processSeq);
    void render(float* l, float* r, int32 from, int32 to, float level);

    Live live;
    bool active{false};
    int setupCount{0};

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
            phaseStep =
                6.283185307179586 * 440.0 * std::pow(2.0, (pitch - 69) / 12.0) / processSetup.sampleRate;
            amplitude = e.noteOn.velocity;
            left = int64_t(2.0 * processSetup.sampleRate);
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
                const bool got = d.inputEvents->getEvent(i, e) == kResultOk,
                           on = e.type == Event::kNoteOnEvent;
                if (!got)
                    w.text("error");
                else if (on || e.type == Event::kNoteOffEvent)
                    w.text(on ? "on:" : "off:")
                        .integer(on ? e.noteOn.channel : e.noteOff.channel)
                        .ch(':')
                        .integer(on ? e.noteOn.pitch : e.noteOff.pitch)
                        .ch(':')
                        .number(on ? e.noteOn.velocity : e.noteOff.velocity)
                        .ch(':')
                        .integer(e.sampleOffset)
                        .ch(':')
                        .integer(on ? e.noteOn.noteId : e.noteOff.noteId);
                else
                    w.text("type").integer(e.type).ch(':');
                w.ch(':').integer(e.busIndex).ch(':').integer(e.flags);
            }
            return w.ch(']').kvInt("numParams", rec.numParams).text(" -> kResultOk").size();
        },
        &record);
    return kResultOk;
}

} // namespace

FUnknown* createComponent(void*) { return static_cast<IAudioProcessor*>(new Component); }

} // namespace Recorder
