#include "plugins/recorder/RecorderController.h"

#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "plugins/recorder/HostCalls.h"
#include "plugins/recorder/RecorderLog.h"
#include "plugins/recorder/RecorderView.h"
#include "plugins/recorder/StateIo.h"
#include "plugins/recorder/Variant.h"

#include <cstdlib>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

namespace {

struct ParamSpec
{
    const char* title;
    int32 flags;
};
const ParamSpec kParams[kNumParams] = {
    {"Level", ParameterInfo::kCanAutomate},    {"Bend", ParameterInfo::kCanAutomate},
    {"Mod", ParameterInfo::kCanAutomate},      {"Pressure", ParameterInfo::kCanAutomate},
    {"Last Note", ParameterInfo::kIsReadOnly},
};

void copyText(char16* dst, int capacity, const char* src)
{
    int i = 0;
    for (; src[i] && i < capacity - 1; ++i)
        dst[i] = char16(src[i]);
    dst[i] = 0;
}

} // namespace

RecorderController::RecorderController()
{
    for (int i = 0; i < kNumParams; ++i)
        values[i] = kDefaults[i];
    liveObjects().fetch_add(1);
}

RecorderController::~RecorderController()
{
    releaseHostObjects();
    liveObjects().fetch_sub(1);
    Call("controller", "destroy").doneText("void");
}

uint32 PLUGIN_API RecorderController::release()
{
    const uint32 left = refs.drop();
    if (left == 0)
        delete this;
    return left;
}

tresult RecorderController::castTo(const TUID iid, void** obj)
{
    *obj = nullptr;
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, IPluginBase::iid) ||
        FUnknownPrivate::iidEqual(iid, IEditController::iid))
        *obj = static_cast<IEditController*>(this);
    else if (FUnknownPrivate::iidEqual(iid, IMidiMapping::iid) && !faultIs(Fault::NoMidiMapping))
        *obj = static_cast<IMidiMapping*>(this);
    else if (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid) && !faultIs(Fault::NoConnection))
        *obj = static_cast<IConnectionPoint*>(this);
    if (!*obj)
        return kNoInterface;
    addRef();
    return kResultOk;
}

tresult PLUGIN_API RecorderController::queryInterface(const TUID iid, void** obj)
{
    return logQuery("controller", iid, castTo(iid, obj));
}

void RecorderController::releaseHostObjects()
{
    releaseHeld(handler);
    releaseHeld(peer);
    releaseHeld(hostContext);
}

tresult PLUGIN_API RecorderController::initialize(FUnknown* context)
{
    Call call("controller", "initialize");
    call.w().kv("context", context ? "ptr" : "null");
    if (initialized || !context || faultIs(Fault::ControllerInitFails))
        return call.done(kResultFalse);
    hostContext = context;
    hostContext->addRef();
    initialized = true;
    logHostName(context);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderController::terminate()
{
    Call call("controller", "terminate");
    releaseHostObjects();
    const bool was = initialized;
    initialized = false;
    return call.done(was ? kResultOk : kResultFalse);
}

tresult PLUGIN_API RecorderController::setComponentState(IBStream* state)
{
    Call call("controller", "setComponentState");
    double v[kStateParams];
    if (!readState(state, v))
        return call.done(kResultFalse);
    for (int i = 0; i < kStateParams; ++i)
        values[i] = v[i];
    call.w().kvInt("bytes", kStateBytes).kvNum("level", v[kLevel]);
    if (view)
        view->refresh();
    return call.done(kResultOk);
}

// The controller keeps no state of its own beyond what the component holds.
tresult PLUGIN_API RecorderController::setState(IBStream*)
{
    return Call("controller", "setState").done(kResultOk);
}
tresult PLUGIN_API RecorderController::getState(IBStream*)
{
    return Call("controller", "getState").done(kResultOk);
}

int32 PLUGIN_API RecorderController::getParameterCount()
{
    Call("controller", "getParameterCount").doneInt(kNumParams);
    return kNumParams;
}

tresult PLUGIN_API RecorderController::getParameterInfo(int32 paramIndex, ParameterInfo& info)
{
    Call call("controller", "getParameterInfo");
    call.w().kvInt("index", paramIndex);
    if (paramIndex < 0 || paramIndex >= kNumParams)
        return call.done(kInvalidArgument);
    std::memset(&info, 0, sizeof(info));
    info.id = ParamID(paramIndex);
    copyText(info.title, 128, kParams[paramIndex].title);
    copyText(info.shortTitle, 128, kParams[paramIndex].title);
    info.defaultNormalizedValue = kDefaults[paramIndex];
    info.flags = kParams[paramIndex].flags;
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderController::getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                             String128 string)
{
    Call call("controller", "getParamStringByValue");
    call.w().kvInt("id", id).kvNum("value", valueNormalized);
    if (id >= ParamID(kNumParams) || !string)
        return call.done(kInvalidArgument);
    char text[64];
    LineWriter w(text, sizeof(text));
    w.number(valueNormalized);
    copyText(string, 128, text);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderController::getParamValueByString(ParamID id, TChar* string,
                                                             ParamValue& valueNormalized)
{
    Call call("controller", "getParamValueByString");
    call.w().kvInt("id", id);
    if (id >= ParamID(kNumParams) || !string)
        return call.done(kInvalidArgument);
    char text[64];
    int i = 0;
    for (; string[i] && i < 63; ++i)
        text[i] = string[i] < 128 ? char(string[i]) : '?';
    text[i] = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || v < 0.0 || v > 1.0)
        return call.done(kResultFalse);
    valueNormalized = v;
    return call.done(kResultOk);
}

ParamValue PLUGIN_API RecorderController::normalizedParamToPlain(ParamID id, ParamValue valueNormalized)
{
    Call call("controller", "normalizedParamToPlain");
    call.w().kvInt("id", id).kvNum("value", valueNormalized);
    call.doneNum(valueNormalized);
    return valueNormalized;
}

ParamValue PLUGIN_API RecorderController::plainParamToNormalized(ParamID id, ParamValue plainValue)
{
    Call call("controller", "plainParamToNormalized");
    call.w().kvInt("id", id).kvNum("value", plainValue);
    call.doneNum(plainValue);
    return plainValue;
}

ParamValue PLUGIN_API RecorderController::getParamNormalized(ParamID id)
{
    Call call("controller", "getParamNormalized");
    call.w().kvInt("id", id);
    const double v = value(id);
    call.doneNum(v);
    return v;
}

tresult PLUGIN_API RecorderController::setParamNormalized(ParamID id, ParamValue v)
{
    Call call("controller", "setParamNormalized");
    call.w().kvInt("id", id).kvNum("value", v);
    if (id >= ParamID(kNumParams) || !(v >= 0.0 && v <= 1.0))
        return call.done(kInvalidArgument);
    values[id] = v;
    if (view)
        view->refresh();
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderController::setComponentHandler(IComponentHandler* newHandler)
{
    Call call("controller", "setComponentHandler");
    call.w().kv("handler", newHandler ? "ptr" : "null");
    if (newHandler)
        newHandler->addRef();
    if (handler)
        handler->release();
    handler = newHandler;
    return call.done(kResultOk);
}

IPlugView* PLUGIN_API RecorderController::createView(FIDString name)
{
    Call call("controller", "createView");
    call.w().kv("name", name ? name : "null");
    if (faultIs(Fault::NullView) || !name || std::strcmp(name, ViewType::kEditor) != 0 || view) {
        call.doneText("null");
        return nullptr;
    }
    view = new RecorderView(this);
    call.doneText("ptr");
    return view;
}

void RecorderController::viewGone(RecorderView* gone)
{
    if (view == gone)
        view = nullptr;
}

void RecorderController::editFromView(ParamID id, double v)
{
    values[id] = v;
    if (!handler)
        return;
    Call begin("handler", "beginEdit");
    begin.w().kvInt("id", id);
    begin.done(handler->beginEdit(id));
    Call perform("handler", "performEdit");
    perform.w().kvInt("id", id).kvNum("value", v);
    perform.done(handler->performEdit(id, v));
    Call end("handler", "endEdit");
    end.w().kvInt("id", id);
    end.done(handler->endEdit(id));
}

void RecorderController::restartFromView(int32 flags)
{
    if (!handler)
        return;
    Call call("handler", "restartComponent");
    call.w().kvInt("flags", flags);
    call.done(handler->restartComponent(flags));
}

tresult PLUGIN_API RecorderController::getMidiControllerAssignment(int32 busIndex, int16 channel,
                                                                   CtrlNumber midiControllerNumber,
                                                                   ParamID& id)
{
    Call call("controller", "getMidiControllerAssignment");
    call.w().kvInt("bus", busIndex).kvInt("channel", channel).kvInt("controller", midiControllerNumber);
    if (busIndex != 0)
        return call.done(kResultFalse);
    switch (midiControllerNumber) {
    case kCtrlModWheel:
        id = kMod;
        break;
    case kCtrlVolume:
        id = kLevel;
        break;
    case kAfterTouch:
        id = kPressure;
        break;
    case kPitchBend:
        id = kBend;
        break;
    default:
        return call.done(kResultFalse);
    }
    call.w().kvInt("id", id);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderController::connect(IConnectionPoint* other)
{
    Call call("controller", "connect");
    call.w().kv("other", other ? "ptr" : "null");
    if (!other || peer)
        return call.done(other ? kResultFalse : kInvalidArgument);
    peer = other;
    peer->addRef();
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderController::disconnect(IConnectionPoint* other)
{
    Call call("controller", "disconnect");
    if (!other || other != peer)
        return call.done(kResultFalse);
    peer->release();
    peer = nullptr;
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderController::notify(IMessage* message)
{
    Call call("controller", "notify");
    call.w().kv("id", message && message->getMessageID() ? message->getMessageID() : "null");
    return call.done(message ? kResultOk : kInvalidArgument);
}

} // namespace Recorder
