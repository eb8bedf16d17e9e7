// A third-party instrument for the host's end-to-end tests: the SDK's own electric-piano
// sample, unchanged; like many instruments it writes nothing while no voice sounds. Added
// around it: setProcessing answers kResultOk (the SDK's kNotImplemented is a refusal to the
// host), and the controller gives a blank editor view (the sample has none).

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

const ViewRect kViewSize{0, 0, 400, 120};

class Controller : public mda::EPianoController
{
public:
    IPlugView* PLUGIN_API createView(FIDString name) override
    {
        return name && std::strcmp(name, ViewType::kEditor) == 0 ? new CPluginView(&kViewSize) : nullptr;
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
    static PClassInfo controller(mda::EPianoController::uid, PClassInfo::kManyInstances,
                                 kVstComponentControllerClass, "SDK sample electric piano");
    gPluginFactory->registerClass(&controller, &Controller::createInstance);
}
END_FACTORY
