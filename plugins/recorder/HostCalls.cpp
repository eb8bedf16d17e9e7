#include "plugins/recorder/HostCalls.h"

#include "pluginterfaces/vst/ivsthostapplication.h"
#include "plugins/recorder/RecorderLog.h"
#include "plugins/recorder/RefCounted.h"

#include <windows.h>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Recorder {

tresult logQuery(const char* object, const TUID iid, tresult result)
{
    char hex[40];
    Call call(object, "queryInterface");
    call.w().kv("iid", iidName(iid, hex));
    return call.done(result);
}

namespace {

IHostApplication* hostApplication(FUnknown* context)
{
    void* obj = nullptr;
    if (!context || context->queryInterface(IHostApplication::iid, &obj) != kResultOk)
        return nullptr;
    return static_cast<IHostApplication*>(obj);
}

} // namespace

void logHostName(FUnknown* context)
{
    Call call("hostapp", "getName");
    IHostApplication* app = hostApplication(context);
    if (!app) {
        call.doneText("noIHostApplication");
        return;
    }
    String128 name{};
    const tresult r = app->getName(name);
    app->release();
    name[127] = 0;
    char utf8[512];
    const int n = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(name), -1, utf8,
                                      int(sizeof(utf8)), nullptr, nullptr);
    call.w().kv("name", n > 0 ? utf8 : "");
    call.done(r);
}

void sendHello(FUnknown* context, IConnectionPoint* peer, const char* from)
{
    IHostApplication* app = hostApplication(context);
    if (!app || !peer) {
        if (app)
            app->release();
        return;
    }
    void* obj = nullptr;
    Call create("hostapp", "createInstance");
    create.w().kv("iid", "IMessage");
    TUID cid, iid;
    IMessage::iid.toTUID(cid);
    IMessage::iid.toTUID(iid);
    const tresult r = app->createInstance(cid, iid, &obj);
    app->release();
    create.done(r);
    if (r != kResultOk || !obj)
        return;
    IMessage* message = static_cast<IMessage*>(obj);
    message->setMessageID("recorder.hello");
    if (IAttributeList* attributes = message->getAttributes()) {
        TChar text[32]{};
        for (int i = 0; from[i] && i < 31; ++i)
            text[i] = TChar(from[i]);
        attributes->setString("from", text);
    }
    Call send(from, "sendHello");
    send.done(peer->notify(message));
    message->release();
}

} // namespace Recorder
