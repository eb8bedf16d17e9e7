// The recorder's audio module: component, audio processor and connection point in one object, with
// one stereo output bus and one event input bus. A note-on plays a sine at its pitch (69 = 440 Hz),
// peak velocity x Level, on both channels from the start of its block until its note-off.
#include "plugins/recorder/Recorder.h"
#include "public.sdk/source/vst/vstaudioeffect.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivsthostapplication.h"

#include <windows.h>

#include <cmath>
#include <string>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

namespace {

// At most this many events are spelled out in a process record; numEvents counts them all.
constexpr int kMaxListedEvents = 16;

// "hostapp.getName name=<name>", the name's characters outside printable ASCII as '?'.
void logHostName(FUnknown* context)
{
    Call call("hostapp", "getName");
    FUnknownPtr<IHostApplication> app(context);
    if (!app)
        return call.doneText("noIHostApplication");
    String128 name{};
    const tresult r = app->getName(name);
    call.add(" name=");
    for (int i = 0; i < 128 && name[i]; ++i)
        call.add("%c", name[i] > 0x20 && name[i] < 0x7F ? char(name[i]) : '?');
    call.done(r);
}

class Component final : public AudioEffect
{
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        Call call("component", "queryInterface");
        *obj = nullptr;
        if ((FUnknownPrivate::iidEqual(iid, IAudioProcessor::iid) && faultIs("no_audio_processor")) ||
            (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid) &&
             (faultIs("no_connection") || faultIs("component_no_connection"))))
            return call.done(kNoInterface);
        return call.done(AudioEffect::queryInterface(iid, obj));
    }

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        Call call("component", "initialize");
        if (!context || faultIs("component_init_fails") || AudioEffect::initialize(context) != kResultOk)
            return call.done(kResultFalse);
        if (!faultIs("no_controller"))
            setControllerClass(kControllerUid);
        addAudioOutput(STR16("Out"), faultIs("mono_output") ? SpeakerArr::kMono : SpeakerArr::kStereo);
        if (faultIs("two_outputs"))
            addAudioOutput(STR16("Out 2"), SpeakerArr::kStereo, kAux);
        if (!faultIs("no_event_input"))
            addEventInput(STR16("Events"), 16);
        logHostName(context);
        return call.done(kResultOk);
    }
    tresult PLUGIN_API terminate() override
    {
        return Call("component", "terminate").done(AudioEffect::terminate());
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
        call.doneText(std::to_string(count).c_str());
        return count;
    }
    tresult PLUGIN_API setActive(TBool state) override
    {
        Call call = Call("component", "setActive").add(" state=%d", state);
        if (state && faultIs("setactive_refused"))
            return call.done(kResultFalse);
        if (state && !active)
            pitch = -1; // a new stream starts silent
        active = state != 0;
        return call.done(kResultOk);
    }
    tresult PLUGIN_API getState(IBStream* state) override
    {
        Call call("component", "getState");
        int32 written = 0; // the parameters never change here
        if (faultIs("getstate_refused") || !state ||
            state->write(const_cast<double*>(kDefaults), int32(sizeof(kDefaults)), &written) != kResultOk)
            return call.done(kResultFalse);
        return call.done(kResultOk);
    }
    tresult PLUGIN_API setupProcessing(ProcessSetup& setup) override
    {
        Call call =
            Call("component", "setupProcessing")
                .add(" sampleRate=%g maxSamplesPerBlock=%d symbolicSampleSize=%d processMode=%d",
                     setup.sampleRate, setup.maxSamplesPerBlock, setup.symbolicSampleSize, setup.processMode);
        // Only 32-bit float processing is implemented; a real instrument refuses the rest too.
        if (faultIs("setup_refused") || (faultIs("setup_refused_second") && ++setupCount > 1) ||
            setup.symbolicSampleSize != kSample32 || setup.sampleRate <= 0 || setup.maxSamplesPerBlock <= 0 ||
            active)
            return call.done(kResultFalse);
        return call.done(AudioEffect::setupProcessing(setup));
    }
    tresult PLUGIN_API setProcessing(TBool state) override
    {
        Call call = Call("component", "setProcessing").add(" state=%d", state);
        if (faultIs("setprocessing_notimpl"))
            return call.done(kNotImplemented);
        processing.store(state != 0, std::memory_order_release);
        return call.done(kResultOk);
    }
    tresult PLUGIN_API process(ProcessData& data) override;

private:
    Live live;
    bool active{false};
    int setupCount{0};
    // Read by process on the audio thread, written by the user-interface thread.
    std::atomic<bool> processing{false};

    // Audio thread only: the sounding note (-1: none; reset by setActive(true)) and the one fault.
    int pitch{-1};
    double phase{0}, phaseStep{0};
    float amplitude{0};
    bool faulted{false};
};

// Audio thread: no allocation and no lock but the log's (and for the faults that stall on
// purpose, their stall); the log line is one write of the call's own stack buffer.
tresult PLUGIN_API Component::process(ProcessData& data)
{
    Call call("component", "process");
    const bool wasProcessing = processing.load(std::memory_order_acquire);
    const int32 numEvents = data.inputEvents ? data.inputEvents->getEventCount() : 0;
    call.add(" numSamples=%d numOutputs=%d channels=%d context=%d outEvents=%d numEvents=%d events=[",
             data.numSamples, data.numOutputs,
             data.numOutputs > 0 && data.outputs ? data.outputs[0].numChannels : -1,
             data.processContext != nullptr, data.outputEvents != nullptr, numEvents);
    for (int32 i = 0; i < numEvents; ++i) {
        Event e{};
        const bool got = data.inputEvents->getEvent(i, e) == kResultOk;
        const bool on = got && e.type == Event::kNoteOnEvent, off = got && e.type == Event::kNoteOffEvent;
        if (i < kMaxListedEvents && (on || off))
            call.add("%s%s:%d:%d:%g:%d:%d:%d:%d", i ? "," : "", on ? "on" : "off",
                     on ? e.noteOn.channel : e.noteOff.channel, on ? e.noteOn.pitch : e.noteOff.pitch,
                     on ? e.noteOn.velocity : e.noteOff.velocity, e.sampleOffset,
                     on ? e.noteOn.noteId : e.noteOff.noteId, e.busIndex, e.flags);
        else if (i < kMaxListedEvents)
            call.add("%s%s", i ? "," : "", got ? "other" : "error");
        if (on && e.noteOn.velocity > 0.f) {
            if (!faulted && faultIs("crash_in_process"))
                amplitude += float(readAddress0x10());
            if (!faulted && faultIs("stall_in_process")) {
                // Written before the wait, so a call that never returns is seen to have begun.
                Call("component", "stall").add(" ms=5000").doneText("void");
                Sleep(5000);
            }
            faulted = true;
            pitch = e.noteOn.pitch;
            phaseStep =
                6.283185307179586 * 440.0 * std::pow(2.0, (pitch - 69) / 12.0) / processSetup.sampleRate;
            amplitude = e.noteOn.velocity;
        } else if ((on || off) && (on ? e.noteOn.pitch : e.noteOff.pitch) == pitch)
            pitch = -1;
    }
    if (data.symbolicSampleSize == kSample32 && data.numOutputs > 0 && data.outputs &&
        data.outputs[0].numChannels > 0 && data.outputs[0].channelBuffers32) {
        AudioBusBuffers& out = data.outputs[0];
        for (int32 i = 0; i < data.numSamples; ++i) {
            const float s = pitch < 0 ? 0.f : amplitude * float(kDefaults[0] * std::sin(phase));
            phase = std::fmod(phase + phaseStep, 6.283185307179586);
            for (int32 c = 0; c < out.numChannels; ++c)
                out.channelBuffers32[c][i] = s;
        }
        out.silenceFlags = 0;
    }
    // processing=0: setProcessing(true) was not in force for the whole call.
    call.add("] processing=%d", wasProcessing && processing.load(std::memory_order_acquire));
    return call.done(kResultOk);
}

} // namespace

FUnknown* createComponent(void*) { return static_cast<IAudioProcessor*>(new Component); }

} // namespace Recorder
