// Module entry and class factory of the recorder test plug-ins; each DLL compiles this file
// with RECORDER_FAULT set to its Fault.
//
// The log, one UTF-8 line per call the host makes on the module, factory, component,
// controller and view (and the recorder's call of hostapp.getName inside each initialize),
// appended to the file named by the environment variable POMARO_RECORDER_LOG:
//
//     <seq> <tid> <object>.<method>[ <key>=<value>]... -> <result>
//
// seq counts from 1 when a call begins; a line is written when its call returns (process
// records up to 20 ms late), so sort by seq for the order calls began. tid is the Windows
// thread id. Values hold no spaces; numbers are decimal with up to six decimals. A result is a
// tresult name ("other" if unknown), a number, "ptr"/"null", "true"/"false" or "void". The
// arguments tests read are those of module.ExitDll, module.detach, factory.createInstance,
// hostapp.getName, component.setupProcessing, setActive, setProcessing, process (processing=0:
// setProcessing(true) was not in force for the whole call; events=[<on|off>:<channel>:<pitch>:
// <velocity>:<sampleOffset>:<noteId>:<busIndex>:<flags>,...]), component.stall (written as the
// stall begins) and controller.getMidiControllerAssignment.
#include "plugins/recorder/Recorder.h"
#include "public.sdk/source/main/pluginfactory.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <windows.h>

#ifndef RECORDER_FAULT
#error "RECORDER_FAULT must name the Fault of this DLL"
#endif

using namespace Steinberg;

namespace Recorder {

namespace {

HINSTANCE gInstance = nullptr;

// The component and, unless the variant has none, the controller, in the variant's order.
class Factory final : public CPluginFactory
{
public:
    Factory() : CPluginFactory(PFactoryInfo("Pomaro test plug-ins", "", "", PFactoryInfo::kNoFlags))
    {
        const PClassInfo component(kComponentUid.toTUID(), PClassInfo::kManyInstances, kVstAudioEffectClass,
                                   "Recorder"),
            controller(kControllerUid.toTUID(), PClassInfo::kManyInstances, kVstComponentControllerClass,
                       "Recorder Controller");
        if (faultIs(Fault::Class0Controller))
            registerClass(&controller, createController);
        registerClass(&component, createComponent);
        if (!faultIs(Fault::Class0Controller) && !faultIs(Fault::NoController))
            registerClass(&controller, createController);
    }
    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override
    {
        return Call("factory", "getClassInfo").done(CPluginFactory::getClassInfo(index, info));
    }
    tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override
    {
        Call call("factory", "createInstance");
        if (!cid || !iid || !obj)
            return call.done(kInvalidArgument);
        call.w().kv("iid", FUnknownPrivate::iidEqual(iid, Vst::IComponent::iid)        ? "IComponent"
                           : FUnknownPrivate::iidEqual(iid, Vst::IEditController::iid) ? "IEditController"
                                                                                       : "other");
        return call.done(CPluginFactory::createInstance(cid, iid, obj));
    }

private:
    Live live;
};

} // namespace

bool faultIs(Fault f) { return f == Fault::RECORDER_FAULT; }
void* moduleInstance() { return gInstance; }

} // namespace Recorder

using namespace Recorder;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        gInstance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        Call call("module", "detach");
        call.w().kvInt("live", liveObjects().load()).kv("reason", reserved ? "processExit" : "FreeLibrary");
        call.doneText("void", !reserved);
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

// The host asks for the factory on one thread only; each call hands out one more reference.
SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory()
{
    Call call("module", "GetPluginFactory");
    if (faultIs(Fault::NullFactory)) {
        call.doneText("null");
        return nullptr;
    }
    if (gPluginFactory)
        gPluginFactory->addRef();
    else
        gPluginFactory = new Factory;
    call.doneText("ptr");
    return gPluginFactory;
}

} // extern "C"
