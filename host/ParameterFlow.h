#pragma once
// The host's parameter and event routing between editor, MIDI inputs, the
// audio thread and the controller, without any window: CHost calls these and
// does the display work that the returned results ask for.

#include "host/MidiControllerMap.h"
#include "host/MidiMessageRing.h"
#include "host/ParamValueCache.h"
#include "host/ParameterChangeTransfer2.h"

namespace PomaroApp {

struct ParameterFlow
{
    MidiMessageRing& midiRing;
    ParameterChangeTransfer2& paramsToProcessor;
    ParameterChangeTransfer2& paramsFromProcessor;
    ParamValueCache& paramCache;
    MidiCtrlMap& midiCtrlMap;

    // An edit from the plug-in's editor: to the processor with the next block,
    // cached without being echoed back to the controller that made it.
    void performEdit(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value);

    // One short message from any input (four bytes, the last ignored): queued
    // for the audio thread (dropped when the ring is full), and a mapped
    // controller value sent to processor and controller. The result tells the
    // caller what the keyboard display should show.
    MidiDecodeResult onMidiData(const uint8_t* message);

    // The 50 ms tick: the processor's reported changes, in order, into the
    // cache; then everything not yet told to the controller, once, with the
    // latest value. A null controller only collects.
    void onTimer(Steinberg::Vst::IEditController* controller);
};

} // namespace PomaroApp
