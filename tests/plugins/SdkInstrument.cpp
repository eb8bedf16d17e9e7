// A third-party instrument for the host's end-to-end tests: the SDK's own electric-piano
// sample, compiled unchanged from the fetched SDK. Like many instruments it writes nothing
// into its outputs while no voice sounds.
//
// Two things the host needs are added around it, and nothing else: setProcessing answers
// kResultOk (the SDK's AudioEffect answers kNotImplemented, which the host takes as a
// refusal to process), and the controller gives a blank editor view (the sample has none,
// and the host shows the instrument's editor).

#include "mdaEPianoController.h"
#include "mdaEPianoProcessor.h"
#include "public.sdk/source/common/pluginview.h"
#include "public.sdk/source/main/pluginfactory.h"

#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

class Processor : public mda::EPianoProcessor
{
public:
    tresult PLUGIN_API setProcessing(TBool) override { return kResultOk; }
    static FUnknown* createInstance(void*) { return static_cast<IAudioProcessor*>(new Processor); }
};

class BlankView : public CPluginView
{
public:
    BlankView() : CPluginView(&kSize) {}
    tresult PLUGIN_API isPlatformTypeSupported(FIDString type) override
    {
        return type && std::strcmp(type, kPlatformTypeHWND) == 0 ? kResultTrue : kResultFalse;
    }

private:
    static inline const ViewRect kSize{0, 0, 400, 120};
};

class Controller : public mda::EPianoController
{
public:
    IPlugView* PLUGIN_API createView(FIDString name) override
    {
        return name && std::strcmp(name, ViewType::kEditor) == 0 ? new BlankView : nullptr;
    }
    static FUnknown* createInstance(void*) { return static_cast<IEditController*>(new Controller); }
};

} // namespace

BEGIN_FACTORY_DEF("Pomaro tests", "", "")
{
    static PClassInfo2 processor(mda::EPianoProcessor::uid, PClassInfo::kManyInstances, kVstAudioEffectClass,
                                 "SDK sample electric piano", kDistributable, PlugType::kInstrumentPiano,
                                 nullptr, "1.0", kVstVersionString);
    gPluginFactory->registerClass(&processor, &Processor::createInstance);
    static PClassInfo2 controller(mda::EPianoController::uid, PClassInfo::kManyInstances,
                                  kVstComponentControllerClass, "SDK sample electric piano", 0, "", nullptr,
                                  "1.0", kVstVersionString);
    gPluginFactory->registerClass(&controller, &Controller::createInstance);
}
END_FACTORY
