// Module entry and class factory of the recorder test plug-ins; each DLL compiles this file
// with RECORDER_VARIANT set to its name.
#include "plugins/recorder/Recorder.h"
#include "public.sdk/source/main/pluginfactory.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <windows.h>

#include <cstring>

using namespace Steinberg;

namespace Recorder {

namespace {

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
        if (faultIs("class0_controller"))
            registerClass(&controller, createController);
        registerClass(&component, createComponent);
        if (!faultIs("class0_controller") && !faultIs("no_controller"))
            registerClass(&controller, createController);
    }
    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override
    {
        return Call("factory", "getClassInfo").done(CPluginFactory::getClassInfo(index, info));
    }
    tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override
    {
        Call call("factory", "createInstance");
        call.add(" iid=%s", FUnknownPrivate::iidEqual(iid, Vst::IComponent::iid)        ? "IComponent"
                            : FUnknownPrivate::iidEqual(iid, Vst::IEditController::iid) ? "IEditController"
                                                                                        : "other");
        return call.done(CPluginFactory::createInstance(cid, iid, obj));
    }

private:
    Live live;
};

} // namespace

bool faultIs(const char* variant) { return std::strcmp(variant, RECORDER_VARIANT) == 0; }

} // namespace Recorder

using namespace Recorder;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        openLog();
    } else if (reason == DLL_PROCESS_DETACH) {
        Call("module", "detach")
            .add(" live=%d reason=%s", liveObjects.load(), reserved ? "processExit" : "FreeLibrary")
            .doneText("void", !reserved);
        closeLog();
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
    Call("module", "ExitDll").add(" live=%d", liveObjects.load()).doneText("true");
    return true;
}
#endif

// The host asks for the factory on one thread only; each call hands out one more reference.
SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory()
{
    Call call("module", "GetPluginFactory");
    if (gPluginFactory)
        gPluginFactory->addRef();
    else if (!faultIs("null_factory"))
        gPluginFactory = new Factory;
    call.doneText(gPluginFactory ? "ptr" : "null");
    return gPluginFactory;
}

} // extern "C"
