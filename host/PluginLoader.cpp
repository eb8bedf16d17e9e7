// Loading and unloading the instrument plug-in.

#include "app/AppGlobals.h"
#include "app/Host.h"
#include "diag/DebugLog.h"
#include "host/PluginPath.h"

#include "base/source/fobject.h"
#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "public.sdk/source/common/memorystream.h"

namespace PomaroApp {

using namespace Steinberg;

namespace {

constexpr wchar_t kSection[] = L"CHost::loadVstPlugin()";

template <typename Fn> Fn moduleProc(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

bool CHost::loadVstPlugin()
{
    unloadVstPlugin();
    bool loaded = false;

    // The module is taken from the program's own folder by absolute path; the altered
    // search path lets it find DLLs of its own beside it.
    const std::wstring modulePath = pluginModulePath();
    hModule = modulePath.empty() ? nullptr
                                 : LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!hModule) {
        DebugLog::WriteErrorDetail(kSection, L"LoadLibrary()", kPluginRelativePath, GetLastError());
    } else {
        if (auto initDll = moduleProc<bool (*)()>(hModule, "InitDll"))
            initDll();
        else
            DebugLog::WriteErrorDetail(kSection, kPluginRelativePath, L"InitDll()", GetLastError());

        auto getFactory = moduleProc<IPluginFactory* (*)()>(hModule, "GetPluginFactory");
        if (!getFactory) {
            DebugLog::WriteErrorDetail(kSection, kPluginRelativePath, L"GetPluginFactory()", GetLastError());
        } else {
            // The factory comes with a reference of ours.
            IPtr<IPluginFactory> factory = owned(getFactory());
            if (!factory)
                DebugLog::Write(kSection, L"getFactory() = 0", false);
            else
                loaded = createPluginObjects(factory);
        }
    }

    if (!loaded) {
        unloadVstPlugin();
        DebugLog::Write(L"VSTiプラグインを読み込めませんでした", kPluginRelativePath, true);
        return false;
    }

    DebugLog::Write(L"VSTiプラグインを読み込みました", kPluginRelativePath, false);
    pController->setComponentHandler(static_cast<Vst::IComponentHandler*>(this));
    {
        FUnknownPtr<Vst::IConnectionPoint> controllerPoint(pController);
        FUnknownPtr<Vst::IConnectionPoint> componentPoint(pComponent);
        if (controllerPoint && componentPoint) {
            controllerPoint->connect(componentPoint);
            componentPoint->connect(controllerPoint);
        }
        IPtr<MemoryStream> stream = owned(new MemoryStream());
        if (pComponent->getState(stream) == kResultOk) {
            stream->seek(0, IBStream::kIBSeekSet, nullptr);
            pController->setComponentState(stream);
        }
        setupMidiMapping();
    }
    return true;
}

// Steps from the factory's first class to the attached editor; false at the first
// failure (the caller undoes everything).
bool CHost::createPluginObjects(IPluginFactory* factory)
{
    PClassInfo info{};
    tresult r = factory->getClassInfo(0, &info);
    const wchar_t* failedStep = L"getClassInfo()";
    if (r == kResultOk) {
        failedStep = L"createInstance(IComponent)";
        r = factory->createInstance(info.cid, Vst::IComponent::iid, reinterpret_cast<void**>(&pComponent));
        if (r == kResultOk && !pComponent)
            r = kResultFalse;
    }
    if (r == kResultOk) {
        failedStep = L"queryInterface(IAudioProcessor)";
        r = pComponent->queryInterface(Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&pProcessor));
        if (r == kResultOk && pProcessor)
            processState.store(ProcessState::Created, std::memory_order_release);
        else if (r == kResultOk)
            r = kNoInterface;
    }
    if (r == kResultOk) {
        failedStep = L"pComponent->initialize()";
        r = pComponent->initialize(static_cast<Vst::HostApplication*>(this));
    }
    if (r != kResultOk) {
        DebugLog::WriteError(kSection, failedStep, static_cast<uint32_t>(r), false);
        return false;
    }
    processState.store(ProcessState::Initialized, std::memory_order_release);

    TUID cid = {};
    r = pComponent->getControllerClassId(cid);
    if (r != kResultOk) {
        DebugLog::WriteError(kSection, L"getControllerClassId()", static_cast<uint32_t>(r), false);
        return false;
    }
    r = factory->createInstance(cid, Vst::IEditController::iid, reinterpret_cast<void**>(&pController));
    if (r != kResultOk || !pController) {
        pController = nullptr;
        DebugLog::WriteError(kSection, L"createInstace(IEditController)", static_cast<uint32_t>(r), false);
        return false;
    }
    r = pController->initialize(static_cast<Vst::HostApplication*>(this));
    if (r != kResultOk) {
        DebugLog::WriteError(kSection, L"pController->initialize()", static_cast<uint32_t>(r), false);
        return false;
    }
    pView = pController->createView(Vst::ViewType::kEditor);
    if (!pView) {
        DebugLog::Write(kSection, L"createView() = 0", false);
        return false;
    }
    if (!hwndFrame)
        return false;

    frameStyle = WS_CLIPCHILDREN;
    frameExStyle = 0;
    frameStyle |= pView->canResize() == kResultTrue
                      ? (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX)
                      : (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    SetWindowLongPtrW(hwndFrame, GWL_STYLE, static_cast<LONG_PTR>(frameStyle));
    SetWindowLongPtrW(hwndFrame, GWL_EXSTYLE, static_cast<LONG_PTR>(frameExStyle));

    hwndVst = CreateWindowExW(0, L"VstWindow", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 10, 10,
                              hwndFrame, nullptr, g_hInstance, this);
    const HRESULT keyboardResult = keyboard.create(hwndFrame);
    if (!hwndVst || FAILED(keyboardResult))
        return false;

    pView->setFrame(static_cast<IPlugFrame*>(this));
    ShowWindow(hwndFrame, SW_SHOW);
    if (pView->attached(reinterpret_cast<void*>(hwndVst), kPlatformTypeHWND) != kResultOk)
        return false;
    viewAttached = true;
    pluginReady = true;
    return true;
}

void CHost::unloadVstPlugin()
{
    // Processing off and the component deactivated, device stopped first, so no
    // render call runs the plug-in while it is taken apart.
    stopProcessing();
    if (renderAbandoned) {
        // Better kept until the process ends than freed under the call still inside it.
        DebugLog::Write(L"CHost::unloadVstPlugin()",
                        L"IAudioProcessor::process() is still running; the plug-in stays loaded", false);
        return;
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
        if (auto exitDll =
                reinterpret_cast<ExitDllProc>(reinterpret_cast<void*>(GetProcAddress(hModule, "ExitDll"))))
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
    if (!pController)
        return;
    FUnknownPtr<Vst::IMidiMapping> mapping(pController);
    if (!mapping)
        return;
    for (auto& entry : midiCtrlMap) {
        entry.paramId = Vst::kNoParamId;
        entry.value14 = 0;
    }
    // 32..63 are the low halves of 0..31 and act on their high half's parameter.
    auto ask = [&](int32_t number) {
        Vst::ParamID id = Vst::kNoParamId;
        if (mapping->getMidiControllerAssignment(0, 0, static_cast<Vst::CtrlNumber>(number), id) == kResultOk)
            midiCtrlMap[static_cast<size_t>(number)].paramId = id;
    };
    for (int32_t n = 0; n <= 31; ++n)
        ask(n);
    for (int32_t n = 64; n <= 129; ++n)
        ask(n);
}

} // namespace PomaroApp
