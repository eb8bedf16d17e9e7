#pragma once
// CHost: the host object of the program. It is the plug-in's host context (host
// application, plug-in frame, component handler), the audio device's data provider
// and the receiver of MIDI. It owns the frame and editor windows, the keyboard strip,
// the plug-in's interfaces, the audio devices, the MIDI ports and the queues between
// the threads.
//
// Its member functions are spread over app/, host/ and audio/ by what they do; each
// section below names the file that implements it.

#include "app/KeyboardInput.h"
#include "audio/AudioDevice.h"
#include "audio/AudioDriverDialog.h"
#include "audio/RestartRequests.h"
#include "host/MidiControllerMap.h"
#include "host/MidiMessageRing.h"
#include "host/ParamValueCache.h"
#include "host/ParameterChangeTransfer2.h"
#include "host/ParameterFlow.h"
#include "host/ProcessData.h"
#include "input/KeyboardWindow.h"
#include "input/MidiDataListener.h"
#include "input/MidiInPort.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace Kelvane {
class CWasapiAudioDeviceList;
class CAsioAudioDeviceList;
} // namespace Kelvane

namespace PomaroApp {

// Processing states of the plug-in (processState).
namespace ProcessState {
enum : int32_t
{
    None = 0,
    Created = 1,
    Initialized = 2,
    SetUp = 3,
    Active = 4,
    Processing = 5
};
}

constexpr UINT WM_HOST_RESTART_AUDIO = WM_USER; // to the frame: rebuild the audio stream
constexpr UINT WM_HOST_AUDIO_FAULT = WM_APP;    // to the frame: the render call faulted, report it
constexpr UINT_PTR kFrameTimerId = 1;
constexpr UINT kFrameTimerMs = 50;

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

LRESULT CALLBACK VstWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class CHost : public Steinberg::Vst::HostApplication,
              public Steinberg::IPlugFrame,
              public Steinberg::Vst::IComponentHandler,
              public Kelvane::CAudioDevice::IDataProvider,
              public Kelvane::IMidiDataListener
{
public:
    using tresult = Steinberg::tresult;
    using uint32 = Steinberg::uint32;
    using int32 = Steinberg::int32;
    using ParamID = Steinberg::Vst::ParamID;
    using ParamValue = Steinberg::Vst::ParamValue;

    CHost();
    ~CHost() override;
    CHost(const CHost&) = delete;
    CHost& operator=(const CHost&) = delete;

    // FUnknown, shared by every base (app/Host.cpp).
    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override;
    uint32 PLUGIN_API release() override;

    // IHostApplication (app/Host.cpp)
    tresult PLUGIN_API getName(Steinberg::Vst::String128 name) override;

    // IPlugFrame (app/HostWindows.cpp)
    tresult PLUGIN_API resizeView(Steinberg::IPlugView* view, Steinberg::ViewRect* newSize) override;

    // IComponentHandler (host/HostParameterFlow.cpp)
    tresult PLUGIN_API beginEdit(ParamID id) override;
    tresult PLUGIN_API performEdit(ParamID id, ParamValue valueNormalized) override;
    tresult PLUGIN_API endEdit(ParamID id) override;
    tresult PLUGIN_API restartComponent(int32 flags) override;

    // CAudioDevice::IDataProvider (host/HostAudioProvider.cpp)
    bool onPrepare(Kelvane::SampleFormat format, Kelvane::SampleRate rate, int32_t bufferFrames,
                   bool interleaved) override;
    bool onRender(void* buffer0, void* buffer1) override;
    void onResetRequest() override;

    // IMidiDataListener (host/HostParameterFlow.cpp)
    void onMidiData(const uint8_t* message) override;

    // Windows (app/HostWindows.cpp) and message loop (app/MessageLoop.cpp).
    bool createFrameWindow();
    void runMessageLoop();
    void onFrameSize(int width, int height);
    void onFrameSizing(RECT* drag);
    void onTimer(UINT_PTR id);

    // Plug-in loading (host/PluginLoader.cpp).
    bool loadVstPlugin();
    void unloadVstPlugin();
    bool checkBusConfiguration();
    void setupMidiMapping();
    bool createPluginObjects(Steinberg::IPluginFactory* factory);

    // Processing state (host/Processing.cpp).
    void prepareProcessing();
    void startProcessing();
    void stopProcessing();
    // False while a render call that outlived its device is still inside the plug-in;
    // once it has returned, processing is switched off for it and true.
    bool settleAbandonedRender();

    // Audio device choice (audio/AudioDeviceSelection.cpp).
    bool openAudioDevice(Kelvane::DriverType type, const wchar_t* name);
    void closeAudioDevice();
    void restartAudioDevice();
    // Processing stopped, the device replaced, processing started again: the restart's
    // and the settings dialog's common sequence.
    void reopenAudioDevice(Kelvane::DriverType type, const wchar_t* name);
    // The frame's restart message: a restart now, later, or not at all (restartRequests).
    void onRestartMessage();

    // Everything the host holds, in the order it is given back (app/Host.cpp).
    void shutdown();

    // The queues and the controller map, as the routing between the threads sees them.
    ParameterFlow parameterFlow()
    {
        return ParameterFlow{midiRing, paramsToProcessor, paramsFromProcessor, paramCache, midiCtrlMap};
    }

    // Members, in declaration order. They are public: the loader, the processing code,
    // the device choice and the settings dialog all work on them.
    std::atomic<int32_t> refCount{1};
    bool pluginReady = false;
    HMODULE hModule = nullptr;
    WNDCLASSW wcHost{};
    std::atomic<HWND> hwndFrame{nullptr}; // read by driver threads (onResetRequest)
    DWORD frameStyle = 0;
    DWORD frameExStyle = 0;
    WNDCLASSW wcVst{};
    HWND hwndVst = nullptr;
    HeldNoteTable heldNote{};
    KeyToNoteTable keyToNote{};
    CKeyboardWindow keyboard;
    double sampleRate = 44100.0;
    int32_t blockSize = 1024;
    int32_t requestedBufferSize = 0;
    Steinberg::Vst::IComponent* pComponent = nullptr;
    Steinberg::Vst::IAudioProcessor* pProcessor = nullptr;
    Steinberg::Vst::IEditController* pController = nullptr;
    Steinberg::IPlugView* pView = nullptr;
    // The view was attached to hwndVst: only such a view is told it was removed.
    bool viewAttached = false;
    CProcessData processData;
    ParameterChangeTransfer2 paramsToProcessor;
    ParameterChangeTransfer2 paramsFromProcessor;
    ParamValueCache paramCache;
    UINT_PTR timerId = 0;
    Kelvane::CWasapiAudioDeviceList* pWasapiList = nullptr;
    Kelvane::CAsioAudioDeviceList* pAsioList = nullptr;
    Kelvane::CAudioDevice* pDevice = nullptr;
    Kelvane::SampleFormat sampleFormat = Kelvane::SampleFormatUnknown;
    bool interleaved = false;
    CAudioDriverDialog settingsDialog;
    Kelvane::CMidiInPortList midiInputs;
    MidiMessageRing midiRing;
    MidiCtrlMap midiCtrlMap;
    std::atomic<int32_t> processState{ProcessState::None};
    // Render calls inside onRender; counted before the state is read (Kelvane::CallInside).
    std::atomic<int32_t> renderCalls{0};
    // A render call outlived the device's stop: the plug-in, its module and this object
    // stay as they are, processing included, until that call has returned.
    bool renderAbandoned = false;
    Kelvane::RestartRequests restartRequests;
    // Working values of the automatic device choice, set before they are read.
    int32_t requestedDriverType = 0;
    int32_t bestDriverType = 0;
    int32_t bestDeviceIndex = 0;
    int32_t bestDeviceScore = 0;
};

// While one lives, the user-interface thread is busy with the audio device (opening or
// replacing it, or inside its driver's panel) and a driver's restart request waits; at
// its end a request that waited gets its message again (audio/AudioDeviceSelection.cpp).
class AudioBusyScope
{
public:
    explicit AudioBusyScope(CHost& owner);
    ~AudioBusyScope();
    AudioBusyScope(const AudioBusyScope&) = delete;
    AudioBusyScope& operator=(const AudioBusyScope&) = delete;

private:
    CHost& host;
};

} // namespace PomaroApp
