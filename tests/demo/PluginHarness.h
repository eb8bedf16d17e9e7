// Loads the built instrument module the way the host does and keeps its
// objects alive for one test; everything is released in reverse order.
#pragma once

#include <windows.h>

#include <string>

#include "base/source/fobject.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

namespace PomaroDemoTest {

// <folder of this test program>\VST3\Pomaro.vst3
std::wstring pluginPath();

class PluginModule
{
public:
    ~PluginModule() { unload(); }
    bool load(const std::wstring& path);
    void unload();
    HMODULE handle() const { return module_; }
    Steinberg::IPluginFactory* factory() const { return factory_; }

private:
    HMODULE module_ = nullptr;
    Steinberg::IPluginFactory* factory_ = nullptr;
};

// Component and controller created, initialized and connected as the host does.
class LoadedPlugin
{
public:
    ~LoadedPlugin() { destroy(); }
    // Empty on success, otherwise the step that failed.
    std::string create(Steinberg::IPluginFactory* factory);
    void destroy();

    Steinberg::IPtr<Steinberg::Vst::HostApplication> host;
    Steinberg::IPtr<Steinberg::Vst::IComponent> component;
    Steinberg::IPtr<Steinberg::Vst::IAudioProcessor> processor;
    Steinberg::IPtr<Steinberg::Vst::IEditController> controller;
};

// Records what an editor tells its component handler.
class RecordingHandler : public Steinberg::FObject, public Steinberg::Vst::IComponentHandler
{
public:
    Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID id) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id,
                                              Steinberg::Vst::ParamValue value) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID id) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32) SMTG_OVERRIDE
    {
        return Steinberg::kResultOk;
    }

    std::string log; // "b1 p1=0.250 e1 "
    int open = 0;    // begun and not yet ended

    OBJ_METHODS(RecordingHandler, FObject)
    DEFINE_INTERFACES
    DEF_INTERFACE(IComponentHandler)
    END_DEFINE_INTERFACES(FObject)
    REFCOUNT_METHODS(FObject)
};

} // namespace PomaroDemoTest
