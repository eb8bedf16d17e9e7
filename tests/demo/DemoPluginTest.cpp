// The built Pomaro.vst3 loaded the way the host loads it: what the engine's tests cannot show
// (sample offsets, silence flags, state streams, the controller, the editor in a host window).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/source/fobject.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/dsp/StateCodec.h"
#include "plugins/demo/ui/EditorLayout.h"
#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/hosting/eventlist.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"
#include "public.sdk/source/vst/hosting/parameterchanges.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace PomaroDemo;

namespace {

constexpr int32 kBlock = 256;

// Through void*: -Wcast-function-type would reject the direct cast to the real signature.
template <typename Proc> Proc exported(HMODULE module, const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Host side of the editor: a frame window whose child passes its size to the view, an
// IPlugFrame that moves the child, and a component handler that records the edits.
class HostFrame : public FObject, public IPlugFrame, public IComponentHandler
{
public:
    HostFrame()
        : frame(CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 800, 700,
                                nullptr, nullptr, nullptr, nullptr)),
          child(CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 10, 10,
                                frame, nullptr, nullptr, nullptr))
    {}
    // As the host's frame does on WM_SIZE of its child.
    void resizeChild(int32 width, int32 height)
    {
        MoveWindow(child, 0, 0, width, height, TRUE);
        ViewRect r(0, 0, width, height);
        if (view)
            view->onSize(&r);
    }
    tresult PLUGIN_API resizeView(IPlugView*, ViewRect* r) SMTG_OVERRIDE
    {
        requested = *r;
        resizeChild(r->getWidth(), r->getHeight());
        return kResultOk;
    }
    tresult PLUGIN_API beginEdit(ParamID id) override { return edit("b%u ", id); }
    tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override { return edit("p%u=%.3f ", id, v); }
    tresult PLUGIN_API endEdit(ParamID id) override { return edit("e%u ", id); }
    tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
    tresult edit(const char* format, ParamID id, double value = 0.0)
    {
        char text[48];
        edits.append(text, size_t(std::snprintf(text, sizeof text, format, unsigned(id), value)));
        return kResultOk;
    }

    HWND frame = nullptr, child = nullptr;
    IPlugView* view = nullptr;
    ViewRect requested;
    std::string edits;

    OBJ_METHODS(HostFrame, FObject)
    DEFINE_INTERFACES
    DEF_INTERFACE(IPlugFrame)
    DEF_INTERFACE(IComponentHandler)
    END_DEFINE_INTERFACES(FObject)
    REFCOUNT_METHODS(FObject)
};

std::vector<HWND> children(HWND parent, const wchar_t* cls)
{
    std::vector<HWND> found;
    for (HWND h = nullptr; (h = FindWindowExW(parent, h, cls, nullptr)) != nullptr;)
        found.push_back(h);
    return found;
}

bool showsText(HWND parent, const wchar_t* text) { return FindWindowExW(parent, nullptr, L"Static", text); }

// <folder of this program>\VST3\Pomaro.vst3 with its objects created, initialized, connected
// and given the component's state as the host does, and taken apart in reverse order.
class DemoPlugin : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t exe[MAX_PATH] = {};
        const std::wstring path(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
        module.reset(
            LoadLibraryW((path.substr(0, path.find_last_of(L"\\/") + 1) + L"VST3\\Pomaro.vst3").c_str()));
        ASSERT_NE(module, nullptr) << "GetLastError " << GetLastError();
        auto init = exported<bool (*)()>(module.get(), "InitDll");
        auto getFactory = exported<IPluginFactory*(PLUGIN_API*)()>(module.get(), "GetPluginFactory");
        ASSERT_TRUE(init && init() && getFactory && exported<bool (*)()>(module.get(), "ExitDll"));
        factory = owned(getFactory());
        PClassInfo info = {};
        TUID cid;
        void* object = nullptr;
        ASSERT_TRUE(factory && factory->getClassInfo(0, &info) == kResultOk &&
                    factory->createInstance(info.cid, IComponent::iid, &object) == kResultOk);
        component = owned(static_cast<IComponent*>(object));
        processor = FUnknownPtr<IAudioProcessor>(component.get());
        ASSERT_TRUE(processor && component->initialize(host) == kResultOk &&
                    component->getControllerClassId(cid) == kResultOk &&
                    factory->createInstance(cid, IEditController::iid, &object) == kResultOk);
        controller = owned(static_cast<IEditController*>(object));
        controllerPoint = FUnknownPtr<IConnectionPoint>(controller.get());
        componentPoint = FUnknownPtr<IConnectionPoint>(component.get());
        ASSERT_TRUE(controller->initialize(host) == kResultOk && controllerPoint && componentPoint &&
                    controllerPoint->connect(componentPoint) == kResultOk &&
                    componentPoint->connect(controllerPoint) == kResultOk);
        IPtr<MemoryStream> stream = owned(new MemoryStream);
        ASSERT_EQ(component->getState(stream), kResultOk);
        stream->seek(0, IBStream::kIBSeekSet, nullptr);
        ASSERT_EQ(controller->setComponentState(stream), kResultOk);
    }
    void TearDown() override
    {
        if (view)
            closeEditor();
        if (controllerPoint && componentPoint) {
            controllerPoint->disconnect(componentPoint);
            componentPoint->disconnect(controllerPoint);
        }
        if (processor) {
            processor->setProcessing(false);
            component->setActive(false);
        }
        for (IPluginBase* part :
             {static_cast<IPluginBase*>(controller), static_cast<IPluginBase*>(component)})
            if (part)
                part->terminate();
    }

    void startProcessing()
    {
        ProcessSetup setup = {kRealtime, kSample32, kBlock, 48000.0};
        ASSERT_EQ(processor->setupProcessing(setup), kResultOk);
        ASSERT_EQ(component->setActive(true), kResultOk);
        ASSERT_EQ(processor->setProcessing(true), kResultOk);
        bus.numChannels = 2, bus.channelBuffers32 = channels;
        data.numSamples = kBlock, data.numOutputs = 1, data.outputs = &bus, data.inputEvents = events;
        data.inputParameterChanges = inChanges, data.outputParameterChanges = outChanges;
    }
    void note(bool on, int16 pitch, int32 offset = 0)
    {
        Event e = {0, offset, 0.0, Event::kIsLive, Event::kNoteOffEvent, {}};
        e.noteOff = {0, pitch, 0.0f, -1, 0.0f};
        if (on)
            e.type = Event::kNoteOnEvent, e.noteOn = {0, pitch, 0.0f, 0.8f, 0, -1};
        events->addEvent(e);
    }
    void param(ParamID id, double value)
    {
        int32 index = 0;
        if (IParamValueQueue* q = inChanges->addParameterData(id, index))
            q->addPoint(0, value, index);
    }
    // Processes blocks (the first with what was queued since the last call) into outputs
    // filled with garbage the plug-in must overwrite; returns the peak.
    double run(int blocks)
    {
        double peak = 0.0;
        for (int b = 0; b < blocks; ++b) {
            outChanges->clearQueue();
            std::fill(samples[0], samples[2], 0.5f);
            EXPECT_EQ(processor->process(data), kResultOk);
            for (const float* s = samples[0]; s < samples[2]; ++s)
                peak = std::max<double>(peak, std::fabs(*s));
            events->clear();
            inChanges->clearQueue();
        }
        return peak;
    }
    // The output level the last block reported (its only report), or -1.
    double reportedLevel() const
    {
        ParamValue value = -1.0;
        int32 offset = 0;
        IParamValueQueue* q = outChanges->getParameterData(0);
        if (q && q->getParameterId() == kParamOutputLevel)
            q->getPoint(q->getPointCount() - 1, offset, value);
        return value;
    }
    tresult sendState(const DemoState* state, size_t size, bool toController)
    {
        uint8_t bytes[kStateBytes] = {'X'};
        if (state)
            encodeState(*state, bytes);
        IPtr<MemoryStream> stream = owned(new MemoryStream(bytes, TSize(size)));
        return toController ? controller->setComponentState(stream) : component->setState(stream);
    }

    // As the host's loader does it: a new frame, placeholder size, then frame and attach.
    void openEditor()
    {
        hostFrame = owned(new HostFrame);
        controller->setComponentHandler(hostFrame);
        view = owned(controller->createView("editor"));
        ASSERT_TRUE(view && hostFrame->child);
        hostFrame->view = view;
        ViewRect placeholder(0, 0, 10, 10);
        view->onSize(&placeholder);
        view->setFrame(hostFrame);
        ShowWindow(hostFrame->frame, SW_SHOW);
        ASSERT_EQ(view->attached(hostFrame->child, kPlatformTypeHWND), kResultOk);
        editor = GetWindow(hostFrame->child, GW_CHILD);
        ASSERT_NE(editor, nullptr);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    // The host destroys its window (the editor's parent) before it tells the view.
    void closeEditor()
    {
        DestroyWindow(hostFrame->frame);
        hostFrame->view = nullptr;
        EXPECT_FALSE(IsWindow(editor));
        EXPECT_EQ(view->removed(), kResultOk);
        view = nullptr;
    }
    HWND slider(ParamID id) { return children(editor, TRACKBAR_CLASSW)[size_t(editorRowOfParam(id))]; }
    void drag(HWND s, std::initializer_list<std::pair<WORD, int>> steps)
    {
        for (auto [code, pos] : steps) {
            if (code == TB_THUMBTRACK)
                SendMessageW(s, TBM_SETPOS, TRUE, pos);
            SendMessageW(editor, WM_HSCROLL, MAKEWPARAM(code, pos), reinterpret_cast<LPARAM>(s));
        }
    }

    static void unload(HMODULE module)
    {
        if (auto exit = exported<bool (*)()>(module, "ExitDll"))
            exit();
        FreeLibrary(module);
    }
    // Declared first, so unloaded after every object from it has been released.
    std::unique_ptr<HINSTANCE__, void (*)(HMODULE)> module{nullptr, unload};
    IPtr<IPluginFactory> factory;
    IPtr<HostApplication> host = owned(new HostApplication);
    IPtr<IComponent> component;
    IPtr<IAudioProcessor> processor;
    IPtr<IEditController> controller;
    IPtr<IConnectionPoint> controllerPoint, componentPoint;

    float samples[2][kBlock] = {};
    float* channels[2] = {samples[0], samples[1]};
    AudioBusBuffers bus;
    ProcessData data;
    IPtr<EventList> events = owned(new EventList(256));
    IPtr<ParameterChanges> inChanges = owned(new ParameterChanges(64)),
                           outChanges = owned(new ParameterChanges(64));

    IPtr<HostFrame> hostFrame;
    IPtr<IPlugView> view;
    HWND editor = nullptr;
};

TEST_F(DemoPlugin, PlaysANoteFromItsOffsetToExactSilenceAndReportsItsLevel)
{
    SpeakerArrangement stereo = SpeakerArr::kStereo, mono = SpeakerArr::kMono;
    EXPECT_EQ(processor->setBusArrangements(nullptr, 0, &stereo, 1), kResultTrue);
    EXPECT_EQ(processor->setBusArrangements(nullptr, 0, &mono, 1), kResultFalse);
    startProcessing();
    note(true, 60, 100);
    EXPECT_GT(run(1), 0.01);
    EXPECT_TRUE(std::all_of(samples[0], samples[0] + 100, [](float v) { return v == 0.0f; }))
        << "sound before the offset";
    EXPECT_GT(reportedLevel(), 0.3);
    // The release (default 0.15 s) runs out to exact silence, flagged as such, still reported.
    note(false, 60);
    run(int(0.4 * 48000 / kBlock));
    EXPECT_EQ(run(1), 0.0);
    EXPECT_EQ(bus.silenceFlags, 3u);
    EXPECT_GE(reportedLevel(), 0.0);

    // Volume reaches the sound (it glides), and sustained notes end when processing stops.
    param(kParamSustain, 1.0);
    note(true, 60);
    EXPECT_GT(run(8), 0.01);
    param(kParamVolume, 0.0);
    run(40);
    EXPECT_EQ(run(1), 0.0);
    param(kParamVolume, 1.0);
    processor->setProcessing(false);
    ASSERT_EQ(processor->setProcessing(true), kResultOk);
    run(int(0.5 * 48000 / kBlock));
    EXPECT_EQ(run(1), 0.0);
}

TEST_F(DemoPlugin, StateTravelsToTheControllerAndParametersAndMidiControllersDescribeThemselves)
{
    const DemoState state{0.25, 0.75, 0.125, 0.5};
    EXPECT_NE(sendState(nullptr, kStateBytes, false), kResultOk);
    EXPECT_NE(component->setState(nullptr), kResultOk);
    EXPECT_NE(sendState(&state, kStateBytes - 4, true), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(kParamVolume), paramDesc(kParamVolume).defaultValue);
    uint8_t defaults[kStateBytes], bytes[kStateBytes];
    encodeState(defaultState(), defaults);
    encodeState(state, bytes);
    for (const uint8_t* expected : {defaults, bytes}) {
        IPtr<MemoryStream> out = owned(new MemoryStream);
        ASSERT_EQ(component->getState(out), kResultOk);
        ASSERT_EQ(out->getSize(), TSize(kStateBytes));
        EXPECT_EQ(std::memcmp(out->getData(), expected, kStateBytes), 0);
        ASSERT_EQ(sendState(&state, kStateBytes, false), kResultOk);
    }
    ASSERT_EQ(sendState(&state, kStateBytes, true), kResultOk);
    for (auto [id, value] :
         {std::pair{kParamVolume, 0.25}, {kParamTone, 0.75}, {kParamRelease, 0.125}, {kParamVibrato, 0.5}})
        EXPECT_EQ(controller->getParamNormalized(id), value) << id;

    String128 text = {}, input = {'-', '1', '.', '0', '0', 0}, wide = {0x65E5, 0};
    ASSERT_EQ(controller->getParamStringByValue(kParamPitchBend, 1.0, text), kResultOk);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), u"+2.00");
    ParamValue value = 0.0;
    ASSERT_EQ(controller->getParamValueByString(kParamPitchBend, input, value), kResultOk);
    EXPECT_DOUBLE_EQ(value, 0.25);
    EXPECT_NE(controller->getParamValueByString(kParamPitchBend, wide, value), kResultOk);

    FUnknownPtr<IMidiMapping> mapping(controller);
    ASSERT_TRUE(mapping);
    // Any channel of the first bus, none of another bus; 39 is paired with 7 by the host itself.
    const std::pair<CtrlNumber, ParamID> cases[] = {{kCtrlVolume, kParamVolume},
                                                    {kCtrlModWheel, kParamTone},
                                                    {kCtrlSustainOnOff, kParamSustain},
                                                    {kAfterTouch, kParamVibrato},
                                                    {kPitchBend, kParamPitchBend},
                                                    {39, kNoParamId},
                                                    {10, kNoParamId}};
    for (const auto& [cc, want] : cases)
        for (int16 channel : {0, 5}) {
            ParamID id = kNoParamId, other = kNoParamId;
            EXPECT_EQ(mapping->getMidiControllerAssignment(0, channel, cc, id) == kResultOk ? id : kNoParamId,
                      want)
                << channel << " " << cc;
            EXPECT_NE(mapping->getMidiControllerAssignment(1, channel, cc, other), kResultOk) << cc;
        }
}

TEST_F(DemoPlugin, EditorShowsTheParametersEditsThroughTheHostAndKeepsTheSizeLeft)
{
    openEditor();
    EXPECT_TRUE(hostFrame->requested.getWidth() == kEditorDefault.width &&
                hostFrame->requested.getHeight() == kEditorDefault.height);
    EXPECT_NE(view->attached(hostFrame->child, kPlatformTypeHWND), kResultOk); // a second attach
    ViewRect tooSmall(5, 5, 105, 55), tooBig(0, 0, 5000, 5000);
    EXPECT_TRUE(view->checkSizeConstraint(&tooSmall) == kResultTrue && tooSmall.left == 5 &&
                tooSmall.getWidth() == kEditorMin.width && tooSmall.getHeight() == kEditorMin.height);
    EXPECT_TRUE(view->checkSizeConstraint(&tooBig) == kResultTrue && tooBig.getWidth() == kEditorMax.width &&
                tooBig.getHeight() == kEditorMax.height);
    EXPECT_EQ(view->checkSizeConstraint(nullptr), kInvalidArgument);

    EXPECT_EQ(children(editor, TRACKBAR_CLASSW).size(), size_t(kEditorRows));
    EXPECT_TRUE(showsText(editor, L"-3.9 dB")); // default volume 0.8: gain 0.64
    controller->setParamNormalized(kParamOutputLevel, 0.5);
    EXPECT_TRUE(showsText(editor, L"-30.0 dB"));
    controller->setParamNormalized(kParamTone, 0.25);
    EXPECT_TRUE(showsText(editor, L"25 %"));
    EXPECT_EQ(SendMessageW(slider(kParamTone), TBM_GETPOS, 0, 0), 250);
    drag(slider(kParamRelease),
         {{TB_THUMBTRACK, 100}, {TB_THUMBTRACK, 250}, {TB_THUMBPOSITION, 250}, {TB_ENDTRACK, 0}});
    EXPECT_EQ(hostFrame->edits, "b2 p2=0.100 p2=0.250 e2 ");
    EXPECT_DOUBLE_EQ(controller->getParamNormalized(kParamRelease), 0.25);
    EXPECT_TRUE(showsText(editor, L"0.07 s"));

    // It follows the host's size, and reopens (its window class registered again after the
    // parent died first) at the size left.
    RECT client = {}, before = {}, after = {};
    GetWindowRect(children(editor, TRACKBAR_CLASSW)[0], &before);
    hostFrame->resizeChild(700, 400);
    GetClientRect(editor, &client);
    GetWindowRect(children(editor, TRACKBAR_CLASSW)[0], &after);
    EXPECT_TRUE(client.right == 700 && client.bottom == 400);
    EXPECT_EQ((after.right - after.left) - (before.right - before.left),
              700 - kEditorDefault.width); // stretched
    closeEditor();
    openEditor();
    EXPECT_TRUE(hostFrame->requested.getWidth() == 700 && hostFrame->requested.getHeight() == 400);

    // An edit in progress is closed when the editor goes.
    hostFrame->edits.clear();
    drag(slider(kParamSustain), {{TB_THUMBTRACK, 1}});
    EXPECT_EQ(hostFrame->edits, "b3 p3=1.000 ");
    view->removed();
    EXPECT_EQ(hostFrame->edits, "b3 p3=1.000 e3 ");
    EXPECT_FALSE(IsWindow(editor));
    hostFrame->view = nullptr;
    view = nullptr;
    DestroyWindow(hostFrame->frame);
}

} // namespace
