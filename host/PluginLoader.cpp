// Loading and unloading the instrument plug-in.

#include "app/Host.h"
#include "diag/DebugLog.h"

namespace PomaroApp {

using namespace Steinberg;

namespace {
constexpr wchar_t kPluginPath[] = L"VST3\\Pomaro.vst3";
}

bool CHost::loadVstPlugin()
{
    unloadVstPlugin();
    // The module is not loaded yet: this ends as every failed load does.
    DebugLog::Write(L"VSTiプラグインを読み込めませんでした", kPluginPath, true);
    return false;
}

void CHost::unloadVstPlugin()
{
    const int32_t entered = processState.load(std::memory_order_relaxed);
    if (entered == ProcessState::Processing) {
        // Leave Processing before the device stops, so no render call runs the plug-in.
        processState.store(ProcessState::Active, std::memory_order_release);
        if (pDevice)
            pDevice->stop();
        if (pProcessor)
            pProcessor->setProcessing(false);
    }
    if ((entered == ProcessState::Active || entered == ProcessState::Processing) && pComponent) {
        pComponent->setActive(false);
        processState.store(ProcessState::SetUp, std::memory_order_release);
    }
    if (hwndVst) {
        DestroyWindow(hwndVst); // its WM_DESTROY tells the view it was removed
        hwndVst = nullptr;
    }
    if (pView) {
        pView->release();
        pView = nullptr;
    }
    if (pController) {
        pController->terminate();
        pController->release();
        pController = nullptr;
    }
    if (pProcessor) {
        pProcessor->release();
        pProcessor = nullptr;
    }
    if (pComponent) {
        pComponent->terminate();
        pComponent->release();
        pComponent = nullptr;
    }
    if (hModule) {
        using ExitDllProc = bool (*)();
        if (auto exitDll = reinterpret_cast<ExitDllProc>(reinterpret_cast<void*>(GetProcAddress(hModule, "ExitDll"))))
            exitDll();
        FreeLibrary(hModule);
        hModule = nullptr;
        DebugLog::WriteLine(L"VSTiプラグインをアンロードしました。");
    }
    pluginReady = false;
    processState.store(ProcessState::None, std::memory_order_release);
}

bool CHost::checkBusConfiguration()
{
    if (!pComponent)
        return false;
    if (pComponent->getBusCount(Vst::kAudio, Vst::kOutput) != 1)
        return false;
    if (pComponent->getBusCount(Vst::kEvent, Vst::kInput) < 1)
        return false;
    Vst::BusInfo info{};
    if (pComponent->getBusInfo(Vst::kAudio, Vst::kOutput, 0, info) != kResultOk)
        return false;
    return info.channelCount == 2;
}

void CHost::setupMidiMapping()
{
    // Filled when the loader is built; until then no controller drives a parameter.
}

} // namespace PomaroApp
