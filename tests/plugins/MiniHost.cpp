#include "tests/plugins/MiniHost.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/hosting/eventlist.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"
#include "public.sdk/source/vst/hosting/parameterchanges.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <thread>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace TestPlugins {

std::wstring pluginPath(const std::wstring& variant)
{
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + L"testplugins\\" + variant + L".vst3";
}

std::wstring logPathFor(const std::wstring& variant)
{
    wchar_t tmp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, tmp);
    return std::wstring(tmp, n) + L"pomaro_recorder_" + variant + L".log";
}

std::string resultName(long r)
{
    switch (r) {
    case kResultOk:
        return "kResultOk";
    case kResultFalse:
        return "kResultFalse";
    case kNoInterface:
        return "kNoInterface";
    case kInvalidArgument:
        return "kInvalidArgument";
    case kNotImplemented:
        return "kNotImplemented";
    case kInternalError:
        return "kInternalError";
    default:
        return "other:" + std::to_string(r);
    }
}

namespace {

// The host's IPlugFrame and IComponentHandler; lives on the stack for one run.
class Frame final : public IPlugFrame, public IComponentHandler
{
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        *obj = nullptr;
        if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid))
            *obj = static_cast<IPlugFrame*>(this);
        else if (FUnknownPrivate::iidEqual(iid, IComponentHandler::iid) ||
                 FUnknownPrivate::iidEqual(iid, FUnknown::iid))
            *obj = static_cast<IComponentHandler*>(this);
        return *obj ? kResultOk : kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* newSize) override
    {
        ++resizeCalls;
        return view && newSize ? view->onSize(newSize) : kInvalidArgument;
    }
    tresult PLUGIN_API beginEdit(ParamID) override { return kResultOk; }
    tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override
    {
        edits.emplace_back(id, v);
        return kResultOk;
    }
    tresult PLUGIN_API endEdit(ParamID) override { return kResultOk; }
    tresult PLUGIN_API restartComponent(int32 flags) override
    {
        restarts.push_back(flags);
        return kResultOk;
    }

    int resizeCalls{0};
    std::vector<std::pair<unsigned, double>> edits;
    std::vector<int> restarts;
};

struct Plugin
{
    IComponent* component{nullptr};
    IAudioProcessor* processor{nullptr};
    IEditController* controller{nullptr};
    IPlugView* view{nullptr};
    HWND parent{nullptr};
};

class Runner
{
public:
    explicit Runner(Outcome& o) : out(o) {}
    void set(const std::string& step, const std::string& value) { out.emplace_back(step, value); }
    bool step(const std::string& name, tresult r)
    {
        set(name, resultName(r));
        return r == kResultOk;
    }

    bool load(IPluginFactory* factory, FUnknown* hostContext, Frame& frame, Plugin& p);
    bool busesFit(Plugin& p);
    void process(Plugin& p, RunDetails& details, const std::function<void()>& whileProcessing);

private:
    Outcome& out;
};

bool Runner::load(IPluginFactory* factory, FUnknown* hostContext, Frame& frame, Plugin& p)
{
    PClassInfo info{};
    if (!step("getClassInfo0", factory->getClassInfo(0, &info)))
        return false;
    set("class0", info.category);
    if (!step("createComponent",
              factory->createInstance(info.cid, IComponent::iid, reinterpret_cast<void**>(&p.component))))
        return false;
    if (!step("IAudioProcessor",
              p.component->queryInterface(IAudioProcessor::iid, reinterpret_cast<void**>(&p.processor))))
        return false;
    if (!step("component.initialize", p.component->initialize(hostContext)))
        return false;
    TUID controllerCid{};
    if (!step("getControllerClassId", p.component->getControllerClassId(controllerCid)))
        return false;
    if (!step("createController", factory->createInstance(controllerCid, IEditController::iid,
                                                          reinterpret_cast<void**>(&p.controller))))
        return false;
    if (!step("controller.initialize", p.controller->initialize(hostContext)))
        return false;
    p.view = p.controller->createView(ViewType::kEditor);
    set("createView", p.view ? "ptr" : "null");
    if (!p.view)
        return false;
    set("canResize", resultName(p.view->canResize()));
    ViewRect small(0, 0, 100, 50);
    const tresult fits = p.view->checkSizeConstraint(&small);
    set("checkSizeConstraint",
        resultName(fits) + " " + std::to_string(small.getWidth()) + "x" + std::to_string(small.getHeight()));
    p.parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    p.view->setFrame(&frame);
    if (!step("attached", p.view->attached(p.parent, kPlatformTypeHWND)))
        return false;
    set("resizeView", std::to_string(frame.resizeCalls));
    RECT r{};
    HWND child = GetWindow(p.parent, GW_CHILD);
    if (child)
        GetClientRect(child, &r);
    set("editorWindow", child ? std::to_string(r.right) + "x" + std::to_string(r.bottom) : "none");

    p.controller->setComponentHandler(&frame);
    IConnectionPoint* controllerPoint = nullptr;
    IConnectionPoint* componentPoint = nullptr;
    step("controller.IConnectionPoint",
         p.controller->queryInterface(IConnectionPoint::iid, reinterpret_cast<void**>(&controllerPoint)));
    step("component.IConnectionPoint",
         p.component->queryInterface(IConnectionPoint::iid, reinterpret_cast<void**>(&componentPoint)));
    if (controllerPoint && componentPoint) {
        controllerPoint->connect(componentPoint);
        componentPoint->connect(controllerPoint);
    }
    MemoryStream stream;
    if (step("getState", p.component->getState(&stream))) {
        stream.seek(0, IBStream::kIBSeekSet, nullptr);
        step("setComponentState", p.controller->setComponentState(&stream));
    }
    IMidiMapping* mapping = nullptr;
    if (step("IMidiMapping",
             p.controller->queryInterface(IMidiMapping::iid, reinterpret_cast<void**>(&mapping)))) {
        std::string map;
        for (int16 cc = 0; cc < 130; ++cc) {
            ParamID id = kNoParamId;
            if ((cc < 32 || cc >= 64) && mapping->getMidiControllerAssignment(0, 0, cc, id) == kResultOk)
                map += (map.empty() ? "" : " ") + std::to_string(cc) + "->" + std::to_string(id);
        }
        set("midiMap", map);
        mapping->release();
    }
    if (controllerPoint)
        controllerPoint->release();
    if (componentPoint)
        componentPoint->release();
    return true;
}

bool Runner::busesFit(Plugin& p)
{
    const int32 outputs = p.component->getBusCount(kAudio, kOutput);
    const int32 events = p.component->getBusCount(kEvent, kInput);
    BusInfo info{};
    const tresult r = p.component->getBusInfo(kAudio, kOutput, 0, info);
    set("audioOutputs", std::to_string(outputs));
    set("outputChannels", r == kResultOk ? std::to_string(info.channelCount) : resultName(r));
    set("eventInputs", std::to_string(events));
    return outputs == 1 && events >= 1 && r == kResultOk && info.channelCount == 2;
}

void Runner::process(Plugin& p, RunDetails& details, const std::function<void()>& whileProcessing)
{
    constexpr int32 kBlock = 256;
    ProcessSetup setup{kRealtime, kSample32, kBlock, 48000.0};
    const bool first = step("setupProcessing", p.processor->setupProcessing(setup));
    const bool second =
        step("setupProcessing2", p.processor->setupProcessing(setup)); // as after a device restart
    if (!first && !second)
        return;
    if (!step("setActive", p.component->setActive(true)))
        return;
    if (step("setProcessing", p.processor->setProcessing(true))) {
        alignas(16) float left[kBlock], right[kBlock];
        float* channels[2] = {left, right};
        AudioBusBuffers bus{};
        bus.numChannels = 2;
        bus.channelBuffers32 = channels;
        EventList events(256);
        ParameterChanges inParams(64), outParams(64);
        ProcessData data{};
        data.processMode = kRealtime;
        data.symbolicSampleSize = kSample32;
        data.numSamples = kBlock;
        data.numOutputs = 1;
        data.outputs = &bus;
        data.inputEvents = &events;
        data.inputParameterChanges = &inParams;
        data.outputParameterChanges = &outParams;
        // Before each call the outputs hold a value no instrument writes, so a block the
        // plug-in left as it found it tells itself apart from silence.
        constexpr float kUnwritten = 7.f;
        constexpr uint64 kUnwrittenFlags = 0x5A;
        auto fill = [&] {
            std::fill(std::begin(left), std::end(left), kUnwritten);
            std::fill(std::begin(right), std::end(right), kUnwritten);
            bus.silenceFlags = kUnwrittenFlags;
        };
        auto peak = [&] {
            float m = 0;
            for (int i = 0; i < kBlock; ++i)
                m = std::fmax(m, std::fmax(std::fabs(left[i]), std::fabs(right[i])));
            return m;
        };
        auto outcome = [&](float blockPeak, float soundAbove) {
            if (blockPeak == kUnwritten && bus.silenceFlags == kUnwrittenFlags)
                return "unwritten";
            return blockPeak > soundAbove ? "sound" : "silent";
        };
        std::string noteBlock, afterNoteOff;
        // The audio thread of a real host is never the user-interface thread.
        std::thread audio([&] {
            details.audioThreadId = GetCurrentThreadId();
            Event on{};
            on.type = Event::kNoteOnEvent;
            on.flags = Event::kIsLive;
            on.noteOn = {0, 69, 0.f, 1.f, 0, -1};
            events.addEvent(on);
            int32 queueIndex = 0, pointIndex = 0;
            if (IParamValueQueue* q = inParams.addParameterData(0, queueIndex))
                q->addPoint(0, 0.5, pointIndex);
            fill();
            p.processor->process(data);
            details.noteBlockPeak = peak();
            noteBlock = outcome(details.noteBlockPeak, 0.45f);
            events.clear();
            inParams.clearQueue();
            outParams.clearQueue();
            Event off{};
            off.type = Event::kNoteOffEvent;
            off.flags = Event::kIsLive;
            off.noteOff = {0, 69, 0.f, -1, 0.f};
            events.addEvent(off);
            fill();
            p.processor->process(data); // the voice stops at the block's start
            afterNoteOff = outcome(peak(), 0.f);
        });
        audio.join();
        set("noteBlock", noteBlock);
        set("afterNoteOff", afterNoteOff);
        if (whileProcessing)
            whileProcessing();
        p.processor->setProcessing(false);
    }
    p.component->setActive(false);
}

void unload(Plugin& p)
{
    if (p.view) {
        p.view->removed();
        p.view->release();
    }
    if (p.parent)
        DestroyWindow(p.parent);
    if (p.controller) {
        p.controller->terminate();
        p.controller->release();
    }
    if (p.processor)
        p.processor->release();
    if (p.component) {
        p.component->terminate();
        p.component->release();
    }
}

} // namespace

Outcome runMiniHost(const std::wstring& variant, RunDetails* details, const Hooks& hooks)
{
    Outcome out;
    Runner run(out);
    RunDetails ignored;
    RunDetails& d = details ? *details : ignored;
    const std::wstring log = logPathFor(variant);
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"POMARO_RECORDER_LOG", log.c_str());

    HMODULE module = LoadLibraryW(pluginPath(variant).c_str());
    run.set("load", module ? "ok" : "failed");
    if (!module)
        return out;
    using EntryFn = bool(PLUGIN_API*)();
    using FactoryFn = IPluginFactory*(PLUGIN_API*)();
    auto initDll = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(module, "InitDll")));
    auto exitDll = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(module, "ExitDll")));
    auto getFactory =
        reinterpret_cast<FactoryFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetPluginFactory")));
    run.set("InitDll", initDll ? "found" : "missing");
    run.set("ExitDll", exitDll ? "found" : "missing");
    run.set("GetPluginFactory", getFactory ? "found" : "missing");
    if (initDll)
        initDll();

    IPluginFactory* factory = getFactory ? getFactory() : nullptr;
    run.set("factory", factory ? "ptr" : "null");
    auto* hostContext = new HostApplication;
    Frame frame;
    Plugin p;
    if (factory) {
        const bool loaded = run.load(factory, hostContext, frame, p);
        factory->release();
        if (loaded && run.busesFit(p))
            run.process(p, d, hooks.whileProcessing);
        if (loaded && hooks.whileLoaded)
            hooks.whileLoaded(p.parent ? GetWindow(p.parent, GW_CHILD) : nullptr);
    }
    unload(p);
    d.performEdits = frame.edits;
    d.restartFlags = frame.restarts;
    hostContext->release();
    if (exitDll)
        exitDll();
    FreeLibrary(module);
    return out;
}

} // namespace TestPlugins
