#include "tests/demo/PluginHarness.h"

#include <cstdio>

#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/common/memorystream.h"

namespace PomaroDemoTest {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// GetProcAddress gives a generic function pointer; going through void* avoids
// -Wcast-function-type for the real signature.
template <typename Proc> Proc exported(HMODULE module, const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

std::wstring pluginPath()
{
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + L"VST3\\Pomaro.vst3";
}

bool PluginModule::load(const std::wstring& path)
{
    module_ = LoadLibraryW(path.c_str());
    if (!module_)
        return false;
    using InitProc = bool (*)();
    using FactoryProc = IPluginFactory*(PLUGIN_API*)();
    if (auto init = exported<InitProc>(module_, "InitDll"))
        init();
    auto getFactory = exported<FactoryProc>(module_, "GetPluginFactory");
    factory_ = getFactory ? getFactory() : nullptr;
    return factory_ != nullptr;
}

void PluginModule::unload()
{
    if (factory_)
        factory_->release();
    factory_ = nullptr;
    if (!module_)
        return;
    using ExitProc = bool (*)();
    if (auto exit = exported<ExitProc>(module_, "ExitDll"))
        exit();
    FreeLibrary(module_);
    module_ = nullptr;
}

std::string LoadedPlugin::create(IPluginFactory* factory)
{
    if (!factory)
        return "factory";
    host = owned(new HostApplication);
    PClassInfo info = {};
    if (factory->getClassInfo(0, &info) != kResultOk)
        return "getClassInfo(0)";
    IComponent* c = nullptr;
    if (factory->createInstance(info.cid, IComponent::iid, reinterpret_cast<void**>(&c)) != kResultOk || !c)
        return "createInstance(IComponent)";
    component = owned(c);
    IAudioProcessor* p = nullptr;
    if (component->queryInterface(IAudioProcessor::iid, reinterpret_cast<void**>(&p)) != kResultOk || !p)
        return "IAudioProcessor";
    processor = owned(p);
    if (component->initialize(host.get()) != kResultOk)
        return "component initialize";
    TUID cid;
    if (component->getControllerClassId(cid) != kResultOk)
        return "getControllerClassId";
    IEditController* e = nullptr;
    if (factory->createInstance(cid, IEditController::iid, reinterpret_cast<void**>(&e)) != kResultOk || !e)
        return "createInstance(IEditController)";
    controller = owned(e);
    if (controller->initialize(host.get()) != kResultOk)
        return "controller initialize";

    FUnknownPtr<IConnectionPoint> controllerPoint(controller);
    FUnknownPtr<IConnectionPoint> componentPoint(component);
    if (!controllerPoint || !componentPoint)
        return "IConnectionPoint";
    if (controllerPoint->connect(componentPoint) != kResultOk)
        return "connect controller";
    if (componentPoint->connect(controllerPoint) != kResultOk)
        return "connect component";

    IPtr<MemoryStream> stream = owned(new MemoryStream);
    if (component->getState(stream) != kResultOk)
        return "getState";
    stream->seek(0, IBStream::kIBSeekSet, nullptr);
    if (controller->setComponentState(stream) != kResultOk)
        return "setComponentState";
    return {};
}

void LoadedPlugin::destroy()
{
    if (controller) {
        FUnknownPtr<IConnectionPoint> controllerPoint(controller);
        FUnknownPtr<IConnectionPoint> componentPoint(component);
        if (controllerPoint && componentPoint) {
            controllerPoint->disconnect(componentPoint);
            componentPoint->disconnect(controllerPoint);
        }
        controller->terminate();
    }
    controller = nullptr;
    processor = nullptr;
    if (component)
        component->terminate();
    component = nullptr;
    host = nullptr;
}

tresult PLUGIN_API RecordingHandler::beginEdit(ParamID id)
{
    ++open;
    log += "b" + std::to_string(id) + " ";
    return kResultOk;
}

tresult PLUGIN_API RecordingHandler::performEdit(ParamID id, ParamValue value)
{
    char text[48];
    std::snprintf(text, sizeof text, "p%u=%.3f ", unsigned(id), value);
    log += text;
    return kResultOk;
}

tresult PLUGIN_API RecordingHandler::endEdit(ParamID id)
{
    --open;
    log += "e" + std::to_string(id) + " ";
    return kResultOk;
}

} // namespace PomaroDemoTest
