#include "plugins/demo/vst/DemoProcessor.h"

#include <algorithm>

#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "plugins/demo/dsp/DenormalGuard.h"
#include "plugins/demo/vst/DemoIds.h"
#include "plugins/demo/vst/DemoStateStream.h"

namespace PomaroDemo {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Order of the four saved values in pendingState_.
constexpr ParamID kStateParams[4] = {kParamVolume, kParamTone, kParamRelease, kParamVibrato};

} // namespace

DemoProcessor::DemoProcessor()
{
    setControllerClass(kControllerUID);
    for (uint32_t id = 0; id < kNumParams; ++id)
        values_[id].store(paramDesc(id).defaultValue);
    for (int i = 0; i < 4; ++i)
        pendingState_[i].store(paramDesc(kStateParams[i]).defaultValue);
}

FUnknown* DemoProcessor::createInstance(void*) { return static_cast<IAudioProcessor*>(new DemoProcessor); }

tresult PLUGIN_API DemoProcessor::initialize(FUnknown* context)
{
    const tresult result = AudioEffect::initialize(context);
    if (result != kResultOk)
        return result;
    addAudioOutput(STR16("Stereo Out"), SpeakerArr::kStereo);
    addEventInput(STR16("Note In"), 16);
    return kResultOk;
}

tresult PLUGIN_API DemoProcessor::setBusArrangements(SpeakerArrangement* /*inputs*/, int32 numIns,
                                                     SpeakerArrangement* outputs, int32 numOuts)
{
    // One stereo output and nothing else.
    if (numIns == 0 && numOuts == 1 && outputs && outputs[0] == SpeakerArr::kStereo)
        return kResultTrue;
    return kResultFalse;
}

tresult PLUGIN_API DemoProcessor::setupProcessing(ProcessSetup& setup)
{
    if (setup.sampleRate <= 0.0 || setup.maxSamplesPerBlock <= 0)
        return kInvalidArgument;
    const tresult result = AudioEffect::setupProcessing(setup);
    if (result != kResultOk)
        return result;
    // Not processing now: the engine may be rebuilt for the new rate here.
    synth_.setup(setup.sampleRate);
    meter_.setup(setup.sampleRate);
    for (uint32_t id = 0; id < kNumParams; ++id)
        applyParam(id, values_[id].load(std::memory_order_acquire));
    synth_.reset();
    return kResultOk;
}

tresult PLUGIN_API DemoProcessor::setActive(TBool state)
{
    if (state) {
        synth_.reset();
        meter_.reset();
        // A state loaded while inactive takes effect with the first block.
        for (uint32_t id = 0; id < kNumParams; ++id)
            applyParam(id, values_[id].load(std::memory_order_acquire));
    }
    return AudioEffect::setActive(state);
}

tresult PLUGIN_API DemoProcessor::setProcessing(TBool state)
{
    if (!state)
        releaseAll_.store(true, std::memory_order_release);
    return kResultOk;
}

void DemoProcessor::applyParam(ParamID id, double value)
{
    if (!isValidParam(id))
        return;
    value = std::min(1.0, std::max(0.0, value));
    values_[id].store(value, std::memory_order_release);
    switch (id) {
    case kParamVolume:
        synth_.setVolume(value);
        break;
    case kParamTone:
        synth_.setTone(value);
        break;
    case kParamRelease:
        synth_.setRelease(value);
        break;
    case kParamSustain:
        synth_.setSustain(sustainDown(value));
        break;
    case kParamPitchBend:
        synth_.setPitchBend(value);
        break;
    case kParamVibrato:
        synth_.setVibrato(value);
        break;
    default:
        break;
    }
}

void DemoProcessor::takePendingState()
{
    const uint32_t serial = stateSerial_.load(std::memory_order_acquire);
    if (serial == appliedSerial_)
        return;
    appliedSerial_ = serial;
    for (int i = 0; i < 4; ++i)
        applyParam(kStateParams[i], pendingState_[i].load(std::memory_order_relaxed));
}

void DemoProcessor::handleEvent(const Event& e)
{
    switch (e.type) {
    case Event::kNoteOnEvent:
        synth_.noteOn(e.noteOn.channel, e.noteOn.pitch, e.noteOn.velocity);
        break;
    case Event::kNoteOffEvent:
        synth_.noteOff(e.noteOff.channel, e.noteOff.pitch);
        break;
    default:
        break;
    }
}

void DemoProcessor::reportLevel(ProcessData& data, double level)
{
    const double normalized = levelToNormalized(level);
    values_[kParamOutputLevel].store(normalized, std::memory_order_release);
    if (!data.outputParameterChanges)
        return;
    int32 index = 0;
    if (IParamValueQueue* queue = data.outputParameterChanges->addParameterData(kParamOutputLevel, index))
        queue->addPoint(0, normalized, index);
}

tresult PLUGIN_API DemoProcessor::process(ProcessData& data)
{
    DenormalGuard denormals;
    takePendingState();
    if (releaseAll_.exchange(false, std::memory_order_acq_rel))
        synth_.allNotesOff();

    struct Cursor
    {
        IParamValueQueue* queue;
        int32 count;
        int32 next;
        ParamID id;
    };
    Cursor cursors[kNumParams];
    int numCursors = 0;
    if (IParameterChanges* changes = data.inputParameterChanges) {
        const int32 count = changes->getParameterCount();
        for (int32 i = 0; i < count && numCursors < int(kNumParams); ++i) {
            IParamValueQueue* q = changes->getParameterData(i);
            if (!q)
                continue;
            const ParamID id = q->getParameterId();
            if (!isValidParam(id) || paramDesc(id).readOnly)
                continue;
            cursors[numCursors++] = {q, q->getPointCount(), 0, id};
        }
    }
    IEventList* events = data.inputEvents;
    const int32 eventCount = events ? events->getEventCount() : 0;
    int32 nextEvent = 0;

    const int32 frames = std::max<int32>(0, data.numSamples);
    float* left = nullptr;
    float* right = nullptr;
    if (data.numOutputs > 0 && data.outputs && data.outputs[0].numChannels >= 2 &&
        data.symbolicSampleSize == kSample32 && data.outputs[0].channelBuffers32) {
        left = data.outputs[0].channelBuffers32[0];
        right = data.outputs[0].channelBuffers32[1];
    }
    if (!left || !right)
        left = right = nullptr;

    // Split the block where notes or parameter points fall, so each takes
    // effect on its own sample; out-of-order offsets count as "now".
    int32 pos = 0;
    for (;;) {
        const bool last = pos >= frames;
        int32 until = frames;
        for (int c = 0; c < numCursors; ++c) {
            Cursor& cur = cursors[c];
            while (cur.next < cur.count) {
                int32 offset = 0;
                ParamValue value = 0.0;
                if (cur.queue->getPoint(cur.next, offset, value) != kResultTrue) {
                    cur.next = cur.count;
                    break;
                }
                if (!last && offset > pos) {
                    until = std::min(until, offset);
                    break;
                }
                applyParam(cur.id, value);
                ++cur.next;
            }
        }
        while (nextEvent < eventCount) {
            Event e = {};
            if (events->getEvent(nextEvent, e) != kResultOk) {
                ++nextEvent;
                continue;
            }
            if (!last && e.sampleOffset > pos) {
                until = std::min(until, e.sampleOffset);
                break;
            }
            handleEvent(e);
            ++nextEvent;
        }
        if (last)
            break;
        if (left)
            synth_.render(left + pos, right + pos, until - pos);
        pos = until;
    }

    if (left) {
        const double level = meter_.process(left, right, frames);
        bool silent = synth_.activeVoices() == 0;
        for (int32 i = 0; silent && i < frames; ++i)
            silent = left[i] == 0.0f && right[i] == 0.0f;
        data.outputs[0].silenceFlags = silent ? 3 : 0;
        reportLevel(data, level);
    } else {
        reportLevel(data, 0.0);
    }
    return kResultOk;
}

tresult PLUGIN_API DemoProcessor::setState(IBStream* stream)
{
    DemoState state;
    if (!readStateFrom(stream, state))
        return kResultFalse;
    const double v[4] = {state.volume, state.tone, state.release, state.vibrato};
    for (int i = 0; i < 4; ++i) {
        pendingState_[i].store(v[i], std::memory_order_relaxed);
        values_[kStateParams[i]].store(v[i], std::memory_order_release);
    }
    stateSerial_.fetch_add(1, std::memory_order_release);
    return kResultOk;
}

tresult PLUGIN_API DemoProcessor::getState(IBStream* stream)
{
    const DemoState state{values_[kParamVolume].load(std::memory_order_acquire),
                          values_[kParamTone].load(std::memory_order_acquire),
                          values_[kParamRelease].load(std::memory_order_acquire),
                          values_[kParamVibrato].load(std::memory_order_acquire)};
    return writeStateTo(stream, state) ? kResultOk : kResultFalse;
}

} // namespace PomaroDemo
