// Module entry of the recorder test plug-ins. Each DLL compiles this file with
// RECORDER_FAULT set to one Fault and RECORDER_NAME to its file name (without .vst3).
//
// The recorder log
// ----------------
// Every call the host makes on the module, factory, component, controller and view,
// and every call the recorder makes on the host, appends one UTF-8 line to the file
// named by the environment variable POMARO_RECORDER_LOG (nothing is written when it is
// unset; the file is created when missing and only ever appended to):
//
//     <seq> <tid> <object>.<method>[ <key>=<value>]... -> <result>
//
//   seq     decimal, 1, 2, ... per loaded module, taken when the call begins. A line is
//           written when its call returns, so a call made inside another one (view.onSize
//           inside frame.resizeView inside view.attached) is written first; sort by seq
//           for the order in which calls began. Process records may also be written
//           late (below).
//   tid     decimal Windows thread id of the calling thread.
//   object  module, factory, component, controller, view: calls on the plug-in;
//           hostapp (IHostApplication), frame (IPlugFrame), handler (IComponentHandler):
//           calls the plug-in made on the host, with the host's result.
//   values  contain no spaces: text from outside (host name, message id, view type) has
//           space, '%', control characters and DEL written as %XX (UTF-8 otherwise kept:
//           "name=My%20Host"); numbers are decimal, reals with up to six decimals and no
//           trailing zeros ("48000", "0.5", "0.787402"); pointers are "ptr" or "null".
//   result  a tresult name (kResultOk, kResultFalse, kNoInterface, kInvalidArgument,
//           kNotImplemented, kInternalError, ... "other"; kResultTrue is the same value
//           as kResultOk and prints as kResultOk), a number for counts
//           and values, "true"/"false" for InitDll/ExitDll, "ptr"/"null" for
//           pointers, "void" for notices.
//
// Lines of note (arguments in this order):
//   module.attach variant=<name> -> void                      DLL loaded
//   module.InitDll -> true | module.ExitDll live=<n> -> true   (live: objects not yet destroyed)
//   module.GetPluginFactory -> ptr|null
//   module.detach live=<n> reason=FreeLibrary|processExit -> void
//   factory.getClassInfo index=<i> class=component|controller -> <r>
//   factory.createInstance class=<component|controller|unknown> iid=<name> -> <r>
//   <object>.queryInterface iid=<name> -> <r>     (iid names: IComponent, IAudioProcessor,
//                                                   IConnectionPoint, IMidiMapping, ... or iid:<hex>)
//   <object>.destroy -> void                       last reference released
//   component.initialize context=ptr -> <r>, preceded by hostapp.getName name=<host> -> <r>
//   component.getBusCount type=audio|event dir=input|output -> <n>
//   component.getBusInfo type=... dir=... index=<i>[ channelCount=<n>] -> <r>
//   component.setupProcessing sampleRate=<hz> maxSamplesPerBlock=<n> symbolicSampleSize=<n> processMode=<n> -> <r>
//   component.setActive state=0|1 -> <r>     component.setProcessing state=0|1 -> <r>
//   component.getState bytes=36 -> <r>       controller.setComponentState bytes=36 level=<v> -> <r>
//   component.connect other=ptr -> <r>, containing hostapp.createInstance iid=IMessage,
//       controller.notify id=recorder.hello and component.sendHello
//   component.process numSamples=<n> mode=<processMode> size=<symbolicSampleSize>
//       numInputs=<n> numOutputs=<n> channels=<channels of output bus 0> align16=0|1
//       context=0|1 outEvents=0|1 processing=0|1 numEvents=<n>
//       events=[<on|off>:<channel>:<pitch>:<velocity>:<sampleOffset>:<noteId>:<busIndex>:<flags>,...]
//       params=[<id>@<sampleOffset>=<value>,...] numParams=<points> outPeak=<max |sample|>
//       outParams=[<id>@<offset>=<value>] -> kResultOk
//     (at most 16 events and 16 points are listed; numEvents/numParams always count all.
//      processing=0 means setProcessing(true) was not in force for the whole call: the
//      call came before it, after setProcessing(false), or overlapped that call.)
//   component.stall process=<seq of its process call> ms=5000 -> void   (stall_in_process, before it waits)
//   component.processSummary calls=<n> dropped=<n> noteOns=<n> soundingBlocks=<n> -> void
//       written at setActive(false) and terminate
//   controller.getMidiControllerAssignment bus=<b> channel=<c> controller=<n>[ id=<p>] -> <r>
//   controller.setParamNormalized id=<p> value=<v> -> <r>
//   view.attached parent=ptr type=HWND -> <r>, containing frame.resizeView width=400 height=200 -> <r>
//   view.onSize|getSize|checkSizeConstraint left=.. top=.. right=.. bottom=.. -> <r>
//   handler.beginEdit|performEdit|endEdit id=<p>[ value=<v>] -> <r>   (left click in the editor)
//   handler.restartComponent flags=<n> -> <r>                        (right click in the editor)
//
// process() runs on the audio thread and must not allocate, lock or enter the system:
// it formats its record into a slot of a preallocated lock-free ring (512 slots). The
// ring is emptied into the file by every other record, by a flusher thread every 20 ms
// while the component is active, and at setProcessing(false), setActive(false) and
// terminate. If the ring is full the record is dropped and counted (processSummary's
// dropped=). A host that crashes may lose the process records of its last 20 ms;
// every other line is in the file before its call returns.
//
// The sound: each note-on starts a sine at the note's pitch (69 = 440 Hz) with peak
// velocity x Level (Level default 0.5), on both channels, until its note-off or 2 s.
// Parameters: 0 Level (CC 7), 1 Bend (pitch bend), 2 Mod (CC 1), 3 Pressure (channel
// pressure), 4 Last Note (read-only; reported by the processor as pitch / 127 in the
// block of each note-on). The component state is "PRS1" and parameters 0..3 as doubles.

#include "pluginterfaces/base/ipluginbase.h"
#include "plugins/recorder/RecorderFactory.h"
#include "plugins/recorder/RecorderLog.h"
#include "plugins/recorder/Variant.h"

#include <windows.h>

#ifndef RECORDER_FAULT
#error "RECORDER_FAULT must name the Fault of this DLL"
#endif
#ifndef RECORDER_NAME
#error "RECORDER_NAME must give the DLL's name"
#endif

namespace Recorder {

namespace {
HINSTANCE gInstance = nullptr;
}

Fault fault() { return Fault::RECORDER_FAULT; }
const char* variantName() { return RECORDER_NAME; }
void* moduleInstance() { return gInstance; }

} // namespace Recorder

using namespace Recorder;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        gInstance = instance;
        DisableThreadLibraryCalls(instance);
        Call call("module", "attach");
        call.w().kv("variant", RECORDER_NAME);
        call.doneText("void");
    } else if (reason == DLL_PROCESS_DETACH) {
        Call call("module", "detach");
        call.w().kvInt("live", liveObjects().load()).kv("reason", reserved ? "processExit" : "FreeLibrary");
        if (reserved)
            call.doneTextIfFree("void");
        else
            call.doneText("void");
    }
    return TRUE;
}

extern "C" {

#if !defined(RECORDER_NO_INITDLL)
SMTG_EXPORT_SYMBOL bool PLUGIN_API InitDll()
{
    Call("module", "InitDll").doneText("true");
    return true;
}

SMTG_EXPORT_SYMBOL bool PLUGIN_API ExitDll()
{
    Call call("module", "ExitDll");
    call.w().kvInt("live", liveObjects().load());
    call.doneText("true");
    return true;
}
#endif

SMTG_EXPORT_SYMBOL Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory()
{
    Call call("module", "GetPluginFactory");
    if (faultIs(Fault::NullFactory)) {
        call.doneText("null");
        return nullptr;
    }
    Steinberg::IPluginFactory* factory = RecorderFactory::acquire();
    call.doneText(factory ? "ptr" : "null");
    return factory;
}

} // extern "C"
