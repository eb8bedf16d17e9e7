// Module entry and class factory of the recorder test plug-ins. Each DLL compiles this file
// with RECORDER_FAULT set to its Fault.
//
// The recorder log: the calls the host makes on the module, factory, component, controller
// and view, and the recorder's call of the host's getName (hostapp), one UTF-8 line
// each, appended to the file named by the environment variable POMARO_RECORDER_LOG:
//
//     <seq> <tid> <object>.<method>[ <key>=<value>]... -> <result>
//
//   seq     1, 2, ... per loaded module, taken when the call begins. A line is written when
//           its call returns, so a nested call is written first: sort by seq for the order
//           in which calls began. Process records are written late (the flusher, 20 ms).
//   tid     the Windows thread id of the calling thread.
//   values  contain no spaces; numbers are decimal with up to six decimals.
//   result  a tresult name (kResultOk, kResultFalse, kNoInterface, ... "other"), a number,
//           "ptr"/"null" for pointers, "true"/"false" or "void".
//
// Lines whose arguments tests read:
//   module.ExitDll live=<objects not yet destroyed>   module.detach live=<n> reason=FreeLibrary|processExit
//   factory.createInstance iid=IComponent|IEditController|other
//   hostapp.getName name=<host>          (inside component.initialize and controller.initialize)
//   component.setupProcessing sampleRate=<hz> maxSamplesPerBlock=<n> symbolicSampleSize=<n> processMode=<n>
//   component.setActive state=0|1        component.setProcessing state=0|1
//   component.process numSamples=<n> numOutputs=<n> channels=<of output bus 0> align16=0|1 context=0|1
//       outEvents=0|1 processing=0|1 numEvents=<n> numParams=<points>
//       events=[<on|off>:<channel>:<pitch>:<velocity>:<sampleOffset>:<noteId>:<busIndex>:<flags>,...]
//     (processing=0: setProcessing(true) was not in force for the whole call.)
//   component.stall process=<seq of its process call> ms=5000   (stall_in_process, before it waits)
//   controller.getMidiControllerAssignment controller=<n>
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "plugins/recorder/Recorder.h"

#include <windows.h>

#include <cstring>
#include <mutex>

#ifndef RECORDER_FAULT
#error "RECORDER_FAULT must name the Fault of this DLL"
#endif

using namespace Steinberg;

namespace Recorder {

namespace {

HINSTANCE gInstance = nullptr;

void copyString(char8* dst, size_t capacity, const char* src)
{
    std::strncpy(dst, src, capacity - 1);
    dst[capacity - 1] = 0;
}

// The component and, unless the variant has none, the controller, in the variant's order.
class Factory final : public IPluginFactory
{
public:
    // The module keeps at most one factory; each call hands out one more reference.
    static IPluginFactory* acquire()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (instance)
            instance->addRef();
        else
            instance = new Factory;
        return instance;
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        *obj = nullptr;
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginFactory::iid)) {
            *obj = static_cast<IPluginFactory*>(this);
            addRef();
        }
        return *obj ? kResultOk : kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return refs.add(); }
    uint32 PLUGIN_API release() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        const uint32 left = refs.drop();
        if (left == 0) {
            instance = nullptr;
            liveObjects().fetch_sub(1);
            delete this;
        }
        return left;
    }

    tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override
    {
        if (!info)
            return kInvalidArgument;
        *info = {};
        copyString(info->vendor, PFactoryInfo::kNameSize, "Pomaro test plug-ins");
        return kResultOk;
    }
    int32 PLUGIN_API countClasses() override { return faultIs(Fault::NoController) ? 1 : 2; }
    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override
    {
        Call call("factory", "getClassInfo");
        if (index < 0 || index >= countClasses() || !info)
            return call.done(kInvalidArgument);
        const bool component = (index == 0) != faultIs(Fault::Class0Controller);
        *info = {};
        (component ? kComponentUid : kControllerUid).toTUID(info->cid);
        copyString(info->category, PClassInfo::kCategorySize,
                   component ? kVstAudioEffectClass : kVstComponentControllerClass);
        copyString(info->name, PClassInfo::kNameSize, component ? "Recorder" : "Recorder Controller");
        info->cardinality = PClassInfo::kManyInstances;
        return call.done(kResultOk);
    }
    tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override
    {
        Call call("factory", "createInstance");
        if (!cid || !iid || !obj)
            return call.done(kInvalidArgument);
        *obj = nullptr;
        const bool component = FUnknownPrivate::iidEqual(cid, kComponentUid.toTUID());
        const bool controller =
            FUnknownPrivate::iidEqual(cid, kControllerUid.toTUID()) && !faultIs(Fault::NoController);
        call.w().kv("iid", FUnknownPrivate::iidEqual(iid, Vst::IComponent::iid)        ? "IComponent"
                           : FUnknownPrivate::iidEqual(iid, Vst::IEditController::iid) ? "IEditController"
                                                                                       : "other");
        return call.done(component    ? createComponent(iid, obj)
                         : controller ? createController(iid, obj)
                                      : kNoInterface);
    }

private:
    Factory() { liveObjects().fetch_add(1); }
    RefCount refs;
    static std::mutex mutex;
    static Factory* instance;
};
std::mutex Factory::mutex;
Factory* Factory::instance = nullptr;

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

SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory()
{
    Call call("module", "GetPluginFactory");
    IPluginFactory* factory = faultIs(Fault::NullFactory) ? nullptr : Factory::acquire();
    call.doneText(factory ? "ptr" : "null");
    return factory;
}

} // extern "C"
