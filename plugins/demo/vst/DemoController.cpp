#include "plugins/demo/vst/DemoController.h"

#include <cstring>

#include "pluginterfaces/base/ustring.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/vst/DemoEditor.h"
#include "plugins/demo/vst/DemoStateStream.h"

namespace PomaroDemo {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

void copyAscii(const char* from, TChar* to, size_t size)
{
    size_t i = 0;
    for (; from && from[i] && i + 1 < size; ++i)
        to[i] = static_cast<TChar>(static_cast<unsigned char>(from[i]));
    to[i] = 0;
}

// A parameter whose texts come from the engine's own formatting.
class DemoParameter : public Parameter
{
public:
    explicit DemoParameter(const ParamDesc& desc)
    {
        info.id = desc.id;
        copyAscii(desc.title, info.title, 128);
        copyAscii(desc.shortTitle, info.shortTitle, 128);
        copyAscii(desc.units, info.units, 128);
        info.stepCount = desc.stepCount;
        info.defaultNormalizedValue = desc.defaultValue;
        info.unitId = kRootUnitId;
        info.flags = desc.readOnly ? ParameterInfo::kIsReadOnly : ParameterInfo::kCanAutomate;
        setNormalized(desc.defaultValue);
    }

    void toString(ParamValue value, String128 text) const SMTG_OVERRIDE
    {
        char buffer[64];
        formatParamValue(info.id, value, buffer, sizeof buffer);
        copyAscii(buffer, text, 128);
    }

    bool fromString(const TChar* text, ParamValue& value) const SMTG_OVERRIDE
    {
        if (!text)
            return false;
        char buffer[64];
        size_t i = 0;
        for (; text[i] && i + 1 < sizeof buffer; ++i) {
            if (text[i] > 0x7F)
                return false; // no digits or units outside ASCII
            buffer[i] = static_cast<char>(text[i]);
        }
        buffer[i] = '\0';
        return parseParamValue(info.id, buffer, value);
    }
};

} // namespace

FUnknown* DemoController::createInstance(void*) { return static_cast<IEditController*>(new DemoController); }

tresult PLUGIN_API DemoController::initialize(FUnknown* context)
{
    const tresult result = EditController::initialize(context);
    if (result != kResultOk)
        return result;
    for (uint32_t id = 0; id < kNumParams; ++id)
        parameters.addParameter(new DemoParameter(paramDesc(id)));
    return kResultOk;
}

tresult PLUGIN_API DemoController::setComponentState(IBStream* stream)
{
    DemoState state;
    if (!readStateFrom(stream, state))
        return kResultFalse;
    setParamNormalized(kParamVolume, state.volume);
    setParamNormalized(kParamTone, state.tone);
    setParamNormalized(kParamRelease, state.release);
    setParamNormalized(kParamVibrato, state.vibrato);
    return kResultOk;
}

IPlugView* PLUGIN_API DemoController::createView(FIDString name)
{
    if (!name || std::strcmp(name, ViewType::kEditor) != 0)
        return nullptr;
    return new DemoEditor(this);
}

tresult PLUGIN_API DemoController::setParamNormalized(ParamID id, ParamValue value)
{
    const tresult result = EditController::setParamNormalized(id, value);
    if (result == kResultOk && editor_)
        editor_->parameterChanged(id);
    return result;
}

tresult PLUGIN_API DemoController::getMidiControllerAssignment(int32 busIndex, int16 /*channel*/,
                                                               CtrlNumber number, ParamID& id)
{
    if (busIndex != 0)
        return kResultFalse;
    switch (number) {
    case kCtrlVolume:
        id = kParamVolume;
        return kResultTrue; // 7 (with 39 as its low half)
    case kCtrlModWheel:
        id = kParamTone;
        return kResultTrue; // 1
    case kCtrlSustainOnOff:
        id = kParamSustain;
        return kResultTrue; // 64
    case kAfterTouch:
        id = kParamVibrato;
        return kResultTrue; // channel pressure
    case kPitchBend:
        id = kParamPitchBend;
        return kResultTrue;
    default:
        return kResultFalse;
    }
}

void DemoController::editorAttached(EditorView* editor) { editor_ = static_cast<DemoEditor*>(editor); }

void DemoController::editorRemoved(EditorView* editor)
{
    if (editor_ == editor)
        editor_ = nullptr;
}

} // namespace PomaroDemo
