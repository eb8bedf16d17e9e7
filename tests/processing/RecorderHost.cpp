#include "tests/processing/RecorderHost.h"

#include "pluginterfaces/base/ipluginbase.h"

#include <algorithm>

namespace ProcessingTest {

using namespace Steinberg;

namespace {
std::wstring besideExe(const std::wstring& relative)
{
    wchar_t exe[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + relative;
}
} // namespace

std::wstring recorderLogPath(const std::wstring& variant)
{
    wchar_t tmp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, tmp);
    return std::wstring(tmp, n) + L"pomaro_processing_" + variant + L".log";
}

bool loadRecorder(PomaroApp::CHost& host, const std::wstring& variant)
{
    const std::wstring log = recorderLogPath(variant);
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"POMARO_RECORDER_LOG", log.c_str());
    host.hModule = LoadLibraryW(besideExe(L"testplugins\\" + variant + L".vst3").c_str());
    if (!host.hModule)
        return false;
    using FactoryFn = IPluginFactory*(PLUGIN_API*)();
    using EntryFn = bool(PLUGIN_API*)();
    if (auto initDll =
            reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(host.hModule, "InitDll"))))
        initDll();
    auto getFactory = reinterpret_cast<FactoryFn>(
        reinterpret_cast<void*>(GetProcAddress(host.hModule, "GetPluginFactory")));
    IPluginFactory* factory = getFactory ? getFactory() : nullptr;
    if (!factory)
        return false;
    PClassInfo info{};
    factory->getClassInfo(0, &info);
    factory->createInstance(info.cid, Vst::IComponent::iid, reinterpret_cast<void**>(&host.pComponent));
    factory->release();
    if (!host.pComponent)
        return false;
    host.processState.store(PomaroApp::ProcessState::Created);
    host.pComponent->queryInterface(Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&host.pProcessor));
    auto* context = static_cast<FUnknown*>(static_cast<Vst::IHostApplication*>(&host));
    if (!host.pProcessor || host.pComponent->initialize(context) != kResultOk)
        return false;
    host.processState.store(PomaroApp::ProcessState::Initialized);
    return true;
}

std::vector<TestPlugins::LogLine> recorderCalls(const std::wstring& variant,
                                                const std::vector<std::string>& calls)
{
    std::vector<TestPlugins::LogLine> out;
    for (const auto& line : TestPlugins::readLog(recorderLogPath(variant)))
        if (std::find(calls.begin(), calls.end(), line.call) != calls.end())
            out.push_back(line);
    return out;
}

std::string brief(const TestPlugins::LogLine& line, const char* arg)
{
    std::string s = line.call;
    if (arg)
        s += std::string(" ") + arg + "=" + line.arg(arg);
    return s;
}

} // namespace ProcessingTest
