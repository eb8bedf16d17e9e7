#include "plugins/recorder/RecorderFactory.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "plugins/recorder/Ids.h"
#include "plugins/recorder/RecorderComponent.h"
#include "plugins/recorder/RecorderController.h"
#include "plugins/recorder/RecorderLog.h"
#include "plugins/recorder/Variant.h"

#include <cstring>
#include <mutex>

using namespace Steinberg;

namespace Recorder {

namespace {

std::mutex gFactoryMutex;
RecorderFactory* gFactory = nullptr;

enum class Kind
{
    Component,
    Controller,
    None
};

Kind classAt(int32 index)
{
    const bool controllerFirst = faultIs(Fault::Class0Controller);
    const int32 count = faultIs(Fault::NoController) ? 1 : 2;
    if (index < 0 || index >= count)
        return Kind::None;
    if (index == 0)
        return controllerFirst ? Kind::Controller : Kind::Component;
    return controllerFirst ? Kind::Component : Kind::Controller;
}

void copyString(char8* dst, size_t capacity, const char* src)
{
    std::strncpy(dst, src, capacity - 1);
    dst[capacity - 1] = 0;
}

} // namespace

IPluginFactory* RecorderFactory::acquire()
{
    std::lock_guard<std::mutex> lock(gFactoryMutex);
    if (gFactory)
        gFactory->addRef();
    else
        gFactory = new RecorderFactory;
    return gFactory;
}

RecorderFactory::RecorderFactory() { liveObjects().fetch_add(1); }

RecorderFactory::~RecorderFactory()
{
    liveObjects().fetch_sub(1);
    Call("factory", "destroy").doneText("void");
}

uint32 PLUGIN_API RecorderFactory::release()
{
    std::lock_guard<std::mutex> lock(gFactoryMutex);
    const uint32 left = refs.drop();
    if (left == 0) {
        gFactory = nullptr;
        delete this;
    }
    return left;
}

tresult PLUGIN_API RecorderFactory::queryInterface(const TUID iid, void** obj)
{
    *obj = nullptr;
    tresult r = kNoInterface;
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
        FUnknownPrivate::iidEqual(iid, IPluginFactory::iid)) {
        *obj = static_cast<IPluginFactory*>(this);
        addRef();
        r = kResultOk;
    }
    return logQuery("factory", iid, r);
}

tresult PLUGIN_API RecorderFactory::getFactoryInfo(PFactoryInfo* info)
{
    Call call("factory", "getFactoryInfo");
    if (!info)
        return call.done(kInvalidArgument);
    *info = {};
    copyString(info->vendor, PFactoryInfo::kNameSize, "Pomaro test plug-ins");
    copyString(info->url, PFactoryInfo::kURLSize, "");
    copyString(info->email, PFactoryInfo::kEmailSize, "");
    info->flags = PFactoryInfo::kNoFlags;
    return call.done(kResultOk);
}

int32 PLUGIN_API RecorderFactory::countClasses()
{
    const int32 count = faultIs(Fault::NoController) ? 1 : 2;
    Call("factory", "countClasses").doneInt(count);
    return count;
}

tresult PLUGIN_API RecorderFactory::getClassInfo(int32 index, PClassInfo* info)
{
    Call call("factory", "getClassInfo");
    call.w().kvInt("index", index);
    const Kind kind = classAt(index);
    if (kind == Kind::None || !info)
        return call.done(kInvalidArgument);
    *info = {};
    if (kind == Kind::Component) {
        kComponentUid.toTUID(info->cid);
        copyString(info->category, PClassInfo::kCategorySize, kVstAudioEffectClass);
        copyString(info->name, PClassInfo::kNameSize, "Recorder");
    } else {
        kControllerUid.toTUID(info->cid);
        copyString(info->category, PClassInfo::kCategorySize, kVstComponentControllerClass);
        copyString(info->name, PClassInfo::kNameSize, "Recorder Controller");
    }
    info->cardinality = PClassInfo::kManyInstances;
    call.w().kv("class", kind == Kind::Component ? "component" : "controller");
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderFactory::createInstance(FIDString cid, FIDString iid, void** obj)
{
    Call call("factory", "createInstance");
    if (!cid || !iid || !obj)
        return call.done(kInvalidArgument);
    *obj = nullptr;
    char hex[40];
    const bool component = FUnknownPrivate::iidEqual(cid, kComponentUid.toTUID());
    const bool controller =
        FUnknownPrivate::iidEqual(cid, kControllerUid.toTUID()) && !faultIs(Fault::NoController);
    call.w().kv("class", component ? "component" : controller ? "controller" : "unknown");
    call.w().kv("iid", iidName(iid, hex));
    tresult r = kNoInterface;
    if (component) {
        auto* object = new RecorderComponent;
        r = object->castTo(iid, obj);
        object->release();
    } else if (controller) {
        auto* object = new RecorderController;
        r = object->castTo(iid, obj);
        object->release();
    }
    return call.done(r);
}

} // namespace Recorder
