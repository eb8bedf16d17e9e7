// Each test plug-in DLL is the same recorder built with one fault switched on
// (RECORDER_FAULT, set per DLL by the build). The entry file of every DLL defines these.
#pragma once

namespace Recorder {

enum class Fault
{
    None,                  // recorder: a complete, well-behaved instrument
    NoInitDll,             // no InitDll/ExitDll exports
    NullFactory,           // GetPluginFactory returns null
    Class0Controller,      // the factory lists the controller class first
    NoAudioProcessor,      // class 0 answers IComponent but not IAudioProcessor
    ComponentInitFails,    // component initialize returns kResultFalse
    NoController,          // one class only; getControllerClassId returns kResultFalse
    ControllerInitFails,   // controller initialize returns kResultFalse
    NullView,              // createView returns null
    AttachFails,           // IPlugView::attached returns kResultFalse
    MonoOutput,            // the output bus has one channel
    TwoOutputs,            // two stereo output buses
    NoEventInput,          // no event input bus
    SetProcessingNotImpl,  // setProcessing returns kNotImplemented
    GetStateRefused,       // component getState returns kResultFalse
    NoMidiMapping,         // the controller has no IMidiMapping
    NoConnection,          // neither side has IConnectionPoint
    ComponentNoConnection, // only the controller has IConnectionPoint
    FixedSizeView,         // canResize kResultFalse, checkSizeConstraint refuses
    NoResizeCall,          // the view never calls IPlugFrame::resizeView
    SetupRefused,          // setupProcessing always kResultFalse
    SetupRefusedSecond,    // setupProcessing accepted once, refused afterwards
    SetActiveRefused,      // setActive(true) returns kResultFalse
    SilentOutput,          // process writes nothing into its outputs and leaves their silence flags
    StallInProcess,        // the first process call with a note-on sleeps 5 s, then plays on
    // Faults that take the whole program down, for the crash report's tests:
    CrashInAttached, // attached reads address 0x10 (an access violation)
    RaiseInAttached, // attached raises a structured exception of a code nobody knows
    CrashInProcess,  // the first process call with a note-on reads address 0x10
};

Fault fault();
const char* variantName();
void* moduleInstance(); // HINSTANCE of this DLL

inline bool faultIs(Fault f) { return fault() == f; }

} // namespace Recorder
