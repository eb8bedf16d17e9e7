// The module's factory: class 0 is the audio component, class 1 its controller.
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "plugins/demo/vst/DemoController.h"
#include "plugins/demo/vst/DemoIds.h"
#include "plugins/demo/vst/DemoProcessor.h"
#include "public.sdk/source/main/pluginfactory.h"

BEGIN_FACTORY(PomaroDemo::kVendorName, "", "", PFactoryInfo::kNoFlags)

DEF_CLASS2(INLINE_UID_FROM_FUID(PomaroDemo::kProcessorUID), PClassInfo::kManyInstances, kVstAudioEffectClass,
           PomaroDemo::kPluginName, Vst::kDistributable, Vst::PlugType::kInstrumentPiano,
           PomaroDemo::kPluginVersion, kVstVersionString, PomaroDemo::DemoProcessor::createInstance)

DEF_CLASS2(INLINE_UID_FROM_FUID(PomaroDemo::kControllerUID), PClassInfo::kManyInstances,
           kVstComponentControllerClass, "Pomaro Controller", 0, "", PomaroDemo::kPluginVersion,
           kVstVersionString, PomaroDemo::DemoController::createInstance)

END_FACTORY
