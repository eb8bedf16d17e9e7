// Proves the test plug-ins: the recorder behaves as a complete instrument and logs what
// it is asked, and every fault variant differs from it in exactly the named way.
#include "tests/plugins/LogLines.h"
#include "tests/plugins/MiniHost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>

using namespace TestPlugins;

namespace {

const char kAbsent[] = "<absent>";

// What the mini host sees from the well-behaved recorder, step by step.
const Outcome kRecorder = {
    {"load", "ok"},
    {"InitDll", "found"},
    {"ExitDll", "found"},
    {"GetPluginFactory", "found"},
    {"factory", "ptr"},
    {"getClassInfo0", "kResultOk"},
    {"class0", "Audio Module Class"},
    {"createComponent", "kResultOk"},
    {"IAudioProcessor", "kResultOk"},
    {"component.initialize", "kResultOk"},
    {"getControllerClassId", "kResultOk"},
    {"createController", "kResultOk"},
    {"controller.initialize", "kResultOk"},
    {"createView", "ptr"},
    {"canResize", "kResultOk"}, // kResultTrue
    {"checkSizeConstraint", "kResultOk 200x100"},
    {"attached", "kResultOk"},
    {"resizeView", "1"},
    {"editorWindow", "400x200"},
    {"controller.IConnectionPoint", "kResultOk"},
    {"component.IConnectionPoint", "kResultOk"},
    {"getState", "kResultOk"},
    {"setComponentState", "kResultOk"},
    {"IMidiMapping", "kResultOk"},
    {"midiMap", "1->2 7->0 128->3 129->1"},
    {"audioOutputs", "1"},
    {"outputChannels", "2"},
    {"eventInputs", "1"},
    {"setupProcessing", "kResultOk"},
    {"setupProcessing2", "kResultOk"},
    {"setActive", "kResultOk"},
    {"setProcessing", "kResultOk"},
    {"noteBlock", "sound"},
    {"afterNoteOff", "silent"},
};

struct Variant
{
    const char* name;
    std::map<std::string, std::string> differs; // step -> outcome, or kAbsent
    const char* lastStep;                       // the host gives up after this step; null: runs to the end
};

const Variant kVariants[] = {
    {"no_initdll", {{"InitDll", "missing"}, {"ExitDll", "missing"}}, nullptr},
    {"null_factory", {{"factory", "null"}}, "factory"},
    {"class0_controller",
     {{"class0", "Component Controller Class"}, {"createComponent", "kNoInterface"}},
     "createComponent"},
    {"no_audio_processor", {{"IAudioProcessor", "kNoInterface"}}, "IAudioProcessor"},
    {"component_init_fails", {{"component.initialize", "kResultFalse"}}, "component.initialize"},
    {"no_controller", {{"getControllerClassId", "kResultFalse"}}, "getControllerClassId"},
    {"controller_init_fails", {{"controller.initialize", "kResultFalse"}}, "controller.initialize"},
    {"null_view", {{"createView", "null"}}, "createView"},
    {"attach_fails", {{"attached", "kResultFalse"}}, "attached"},
    {"mono_output", {{"outputChannels", "1"}}, "eventInputs"},
    {"two_outputs", {{"audioOutputs", "2"}}, "eventInputs"},
    {"no_event_input", {{"eventInputs", "0"}}, "eventInputs"},
    {"setprocessing_notimpl", {{"setProcessing", "kNotImplemented"}}, "setProcessing"},
    {"getstate_refused", {{"getState", "kResultFalse"}, {"setComponentState", kAbsent}}, nullptr},
    {"no_midimapping", {{"IMidiMapping", "kNoInterface"}, {"midiMap", kAbsent}}, nullptr},
    {"no_connection",
     {{"controller.IConnectionPoint", "kNoInterface"}, {"component.IConnectionPoint", "kNoInterface"}},
     nullptr},
    {"component_no_connection", {{"component.IConnectionPoint", "kNoInterface"}}, nullptr},
    {"fixed_size_view",
     {{"canResize", "kResultFalse"}, {"checkSizeConstraint", "kResultFalse 400x200"}},
     nullptr},
    {"no_resize_call", {{"resizeView", "0"}}, nullptr},
    {"setup_refused",
     {{"setupProcessing", "kResultFalse"}, {"setupProcessing2", "kResultFalse"}},
     "setupProcessing2"},
    {"setup_refused_second", {{"setupProcessing2", "kResultFalse"}}, nullptr},
    {"setactive_refused", {{"setActive", "kResultFalse"}}, "setActive"},
    {"silent_output", {{"noteBlock", "unwritten"}, {"afterNoteOff", "unwritten"}}, nullptr},
    {"stall_in_process", {}, nullptr}, // plays as the recorder after its one stall
};

Outcome expectedFor(const Variant& v)
{
    Outcome out;
    for (const auto& [step, value] : kRecorder) {
        auto it = v.differs.find(step);
        if (it == v.differs.end())
            out.emplace_back(step, value);
        else if (it->second != kAbsent)
            out.emplace_back(step, it->second);
        if (v.lastStep && step == v.lastStep)
            break;
    }
    return out;
}

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// What every variant's log must show, whatever its fault: the module came and went,
// and everything it created was destroyed before ExitDll and the unload.
void expectCleanLifecycle(const std::string& name, const std::vector<LogLine>& log)
{
    ASSERT_GE(log.size(), 3u) << name;
    EXPECT_EQ(log.front().call, "module.attach") << name;
    EXPECT_EQ(log.front().arg("variant"), name);
    EXPECT_EQ(log.back().call, "module.detach") << name;
    EXPECT_EQ(log.back().arg("reason"), "FreeLibrary") << name;
    EXPECT_EQ(log.back().arg("live"), "0") << name << ": objects left alive at unload";
    for (const LogLine& l : select(log, "module.ExitDll"))
        EXPECT_EQ(l.arg("live"), "0") << name;
    size_t created[2] = {0, 0};
    for (const LogLine& l : select(log, "factory.createInstance"))
        created[l.arg("class") == "controller"] += 1;
    EXPECT_EQ(select(log, "component.destroy").size(), created[0]) << name;
    EXPECT_EQ(select(log, "controller.destroy").size(), created[1]) << name;
    size_t views = 0;
    for (const LogLine& l : select(log, "controller.createView"))
        views += l.result == "ptr";
    EXPECT_EQ(select(log, "view.destroy").size(), views) << name;
}

} // namespace

TEST(Recorder, LoadsPlaysAndUnloadsLikeAnInstrument)
{
    RunDetails details;
    Hooks hooks;
    size_t processLinesWhilePlaying = 0;
    hooks.whileProcessing = [&] {
        // The flusher writes process records while the host keeps processing.
        for (int i = 0; i < 50 && processLinesWhilePlaying < 2; ++i) {
            Sleep(10);
            processLinesWhilePlaying = select(readLog(logPathFor(L"recorder")), "component.process").size();
        }
    };
    hooks.whileLoaded = [&](void* editor) {
        ASSERT_NE(editor, nullptr);
        // A click at three quarters of the width sets the level through the host's handler.
        SendMessageW(static_cast<HWND>(editor), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 20));
        SendMessageW(static_cast<HWND>(editor), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(10, 10));
    };
    const Outcome got = runMiniHost(L"recorder", &details, hooks);
    EXPECT_EQ(processLinesWhilePlaying, 2u);
    EXPECT_EQ(got, kRecorder);
    EXPECT_NEAR(details.noteBlockPeak, 0.5f, 0.01f) << "velocity 1 x level 0.5";
    ASSERT_EQ(details.performEdits.size(), 1u);
    EXPECT_EQ(details.performEdits[0].first, 0u);
    EXPECT_DOUBLE_EQ(details.performEdits[0].second, 0.75);
    EXPECT_EQ(details.restartFlags, std::vector<int>{4}); // kParamValuesChanged, from the right click
}

TEST(Recorder, LogsEveryCallWithItsArgumentsThreadAndResult)
{
    RunDetails details;
    runMiniHost(L"recorder", &details);
    const std::vector<LogLine> log = readLog(logPathFor(L"recorder"));
    expectCleanLifecycle("recorder", log);

    // Calls began in the loader's order.
    const char* order[] = {
        "module.InitDll", "module.GetPluginFactory", "factory.getClassInfo", "factory.createInstance",
        "component.queryInterface", "component.initialize", "component.getControllerClassId",
        "controller.initialize", "controller.createView", "view.setFrame", "view.attached",
        "frame.resizeView", "view.onSize", "controller.setComponentHandler", "controller.connect",
        "component.connect", "controller.notify", "component.getState", "controller.setComponentState",
        "controller.getMidiControllerAssignment", "component.setupProcessing", "component.setActive",
        "component.setProcessing", "component.process", "component.processSummary", "view.removed",
        "view.destroy", "controller.terminate", "component.terminate",
        // the component's connection holds the controller until its terminate
        "controller.destroy", "component.destroy", "module.ExitDll", "module.detach"};
    unsigned long last = 0;
    for (const char* call : order) {
        auto it = std::find_if(log.begin(), log.end(),
                               [&](const LogLine& l) { return l.call == call && l.seq > last; });
        ASSERT_NE(it, log.end()) << call << " missing or out of order";
        last = it->seq;
    }

    const LogLine setup = select(log, "component.setupProcessing").at(0);
    EXPECT_EQ(setup.arg("sampleRate"), "48000");
    EXPECT_EQ(setup.arg("maxSamplesPerBlock"), "256");
    EXPECT_EQ(setup.arg("symbolicSampleSize"), "0");
    EXPECT_EQ(setup.arg("processMode"), "0");
    EXPECT_EQ(setup.result, "kResultOk");
    EXPECT_EQ(select(log, "hostapp.getName").size(), 2u)
        << "component and controller each ask the host's name";

    const auto process = select(log, "component.process");
    ASSERT_EQ(process.size(), 2u);
    EXPECT_EQ(process[0].tid, details.audioThreadId) << "process is recorded with the audio thread's id";
    EXPECT_NE(process[0].tid, select(log, "component.setProcessing").at(0).tid);
    EXPECT_EQ(process[0].arg("numSamples"), "256");
    EXPECT_EQ(process[0].arg("align16"), "1");
    EXPECT_EQ(process[0].arg("processing"), "1");
    EXPECT_EQ(process[0].arg("events"), "[on:0:69:1:0:-1:0:1]");
    EXPECT_EQ(process[0].arg("params"), "[0@0=0.5]");
    EXPECT_EQ(process[0].arg("outParams"), "[4@0=0.543307]"); // 69 / 127
    EXPECT_NEAR(std::stod(process[0].arg("outPeak")), 0.5, 0.01);
    EXPECT_EQ(process[1].arg("events"), "[off:0:69:0:0:-1:0:1]");
    EXPECT_EQ(process[1].arg("outPeak"), "0");
    const LogLine summary = select(log, "component.processSummary").at(0);
    EXPECT_EQ(summary.arg("calls"), "2");
    EXPECT_EQ(summary.arg("dropped"), "0");
    EXPECT_EQ(summary.arg("noteOns"), "1");

    // The host asked controllers 0..31 and 64..129; the mapped ones answered with their ids.
    const auto midi = select(log, "controller.getMidiControllerAssignment");
    EXPECT_EQ(midi.size(), 98u);
    std::string mapped;
    for (const LogLine& l : midi)
        if (l.result == "kResultOk")
            mapped += l.arg("controller") + ":" + l.arg("id") + " ";
    EXPECT_EQ(mapped, "1:2 7:0 128:3 129:1 ");

    EXPECT_EQ(select(log, "controller.notify").at(0).arg("id"), "recorder.hello");
    EXPECT_EQ(select(log, "frame.resizeView").at(0).arg("width"), "400");
    const LogLine onSize = select(log, "view.onSize").at(0);
    EXPECT_EQ(onSize.arg("right"), "400");
    EXPECT_EQ(onSize.arg("bottom"), "200");
    EXPECT_EQ(select(log, "controller.setComponentState").at(0).arg("bytes"), "36");
}

TEST(FaultVariants, EachDiffersFromTheRecorderExactlyAsNamed)
{
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        const Outcome got = runMiniHost(wide(v.name));
        EXPECT_EQ(got, expectedFor(v));
        const std::vector<LogLine> log = readLog(logPathFor(wide(v.name)));
        expectCleanLifecycle(v.name, log);
        if (std::string(v.name) == "no_initdll") {
            EXPECT_FALSE(contains(log, "module.InitDll"));
        }
        if (std::string(v.name) == "setup_refused_second") {
            const auto setups = select(log, "component.setupProcessing");
            ASSERT_EQ(setups.size(), 2u);
            EXPECT_EQ(setups[0].result, "kResultOk");
            EXPECT_EQ(setups[1].result, "kResultFalse");
        }
        if (std::string(v.name) == "stall_in_process") {
            // Only the note-on's call stalls, and it went on to finish.
            const auto stalls = select(log, "component.stall");
            const auto process = select(log, "component.process");
            ASSERT_EQ(stalls.size(), 1u);
            ASSERT_EQ(process.size(), 2u);
            EXPECT_EQ(stalls[0].arg("process"), std::to_string(process[0].seq));
            EXPECT_GT(stalls[0].seq, process[0].seq);
        }
    }
}

TEST(FaultVariants, EveryBuiltVariantIsCovered)
{
    WIN32_FIND_DATAW found;
    std::wstring pattern = pluginPath(L"*");
    HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    size_t files = 0;
    do {
        std::wstring name = found.cFileName;
        name.resize(name.size() - 5); // ".vst3"
        const bool known =
            name == L"recorder" || std::any_of(std::begin(kVariants), std::end(kVariants),
                                               [&](const Variant& v) { return wide(v.name) == name; });
        EXPECT_TRUE(known) << "untested variant";
        ++files;
    } while (FindNextFileW(h, &found));
    FindClose(h);
    EXPECT_EQ(files, std::size(kVariants) + 1);
}
