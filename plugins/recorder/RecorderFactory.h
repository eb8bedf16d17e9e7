// The module's class factory: the component and, unless the variant has none, the
// controller, in the order the variant lists them.
#pragma once

#include "pluginterfaces/base/ipluginbase.h"
#include "plugins/recorder/RefCounted.h"

namespace Recorder {

class RecorderFactory final : public Steinberg::IPluginFactory
{
public:
    // The module keeps at most one factory; each call hands out one more reference.
    static Steinberg::IPluginFactory* acquire();

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return refs.add(); }
    Steinberg::uint32 PLUGIN_API release() override;

    Steinberg::tresult PLUGIN_API getFactoryInfo(Steinberg::PFactoryInfo* info) override;
    Steinberg::int32 PLUGIN_API countClasses() override;
    Steinberg::tresult PLUGIN_API getClassInfo(Steinberg::int32 index, Steinberg::PClassInfo* info) override;
    Steinberg::tresult PLUGIN_API createInstance(Steinberg::FIDString cid, Steinberg::FIDString iid,
                                                 void** obj) override;

private:
    RecorderFactory();
    ~RecorderFactory();
    RefCount refs;
};

} // namespace Recorder
