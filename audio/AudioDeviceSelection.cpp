// The host's choice, start and stop of an audio device.

#include "app/Host.h"
#include "audio/AsioAudioDeviceList.h"
#include "audio/DeviceChoice.h"
#include "audio/WasapiAudioDeviceList.h"
#include "diag/DebugLog.h"

#include <cwchar>
#include <string>

namespace PomaroApp {

namespace {

// The first entry of list named exactly name that gives a device; null when none does.
Kelvane::CAudioDevice* deviceByName(Kelvane::CAudioDeviceList* list, const wchar_t* name)
{
    const int32_t count = list->getCount();
    for (int32_t i = 0; i < count; ++i) {
        const wchar_t* entry = list->getName(i);
        if (entry && std::wcscmp(entry, name) == 0)
            if (Kelvane::CAudioDevice* device = list->createDevice(i))
                return device;
    }
    return nullptr;
}

// Logs, opens, scores and closes every entry of one family; the best so far stays in
// the host's selection members.
void probeAudioDevices(CHost& host, Kelvane::CAudioDeviceList* list, Kelvane::DriverType family)
{
    const int32_t base =
        Kelvane::familyBaseScore(static_cast<Kelvane::DriverType>(host.requestedDriverType), family);
    const int32_t count = list->getCount();
    for (int32_t i = 0; i < count; ++i) {
        const wchar_t* name = list->getName(i);
        DebugLog::Write(Kelvane::driverTypeName(family), name ? name : L"", false);
        Kelvane::CAudioDevice* device = list->createDevice(i);
        if (!device)
            continue;
        if (device->open(host.hwndFrame)) {
            const int32_t score = Kelvane::deviceScore(device->getSupportedSampleRates(), base);
            if (score > host.bestDeviceScore) {
                host.bestDeviceIndex = i;
                host.bestDriverType = family;
                host.bestDeviceScore = score;
            }
            device->close();
        }
        delete device;
    }
}

void postRestartMessage(CHost& host)
{
    if (HWND frame = host.hwndFrame.load(std::memory_order_acquire))
        PostMessageW(frame, WM_HOST_RESTART_AUDIO, 0, 0);
}

} // namespace

AudioBusyScope::AudioBusyScope(CHost& owner) : host(owner) { host.restartRequests.beginBusy(); }

AudioBusyScope::~AudioBusyScope()
{
    if (host.restartRequests.endBusy())
        postRestartMessage(host);
}

bool CHost::openAudioDevice(Kelvane::DriverType type, const wchar_t* name)
{
    // A driver's message box during init, or the error box below, runs a modal loop
    // that would otherwise start a restart in the middle of this one.
    AudioBusyScope busy(*this);
    closeAudioDevice();
    // The device that asked for a restart is gone: whatever it asked is answered by the
    // one opened now.
    restartRequests.answered();
    if (!pWasapiList)
        pWasapiList = new Kelvane::CWasapiAudioDeviceList();
    if (!pAsioList)
        pAsioList = new Kelvane::CAsioAudioDeviceList();

    if (name && type == Kelvane::DriverWasapi)
        pDevice = deviceByName(pWasapiList, name);
    else if (name && type == Kelvane::DriverAsio)
        pDevice = deviceByName(pAsioList, name);

    if (!pDevice) {
        DebugLog::WriteLine(L"オーディオドライバを列挙します。");
        requestedDriverType = type;
        bestDeviceScore = -1;
        probeAudioDevices(*this, pWasapiList, Kelvane::DriverWasapi);
        probeAudioDevices(*this, pAsioList, Kelvane::DriverAsio);
        if (bestDeviceScore > 0) {
            Kelvane::CAudioDeviceList* list = bestDriverType == Kelvane::DriverAsio
                                                  ? static_cast<Kelvane::CAudioDeviceList*>(pAsioList)
                                                  : static_cast<Kelvane::CAudioDeviceList*>(pWasapiList);
            pDevice = list->createDevice(bestDeviceIndex);
        }
    }

    if (pDevice) {
        const wchar_t* deviceName = pDevice->getName();
        DebugLog::Write(L"オーディオドライバをロードします", deviceName ? deviceName : L"", false);
        if (!pDevice->open(hwndFrame)) {
            DebugLog::WriteLine(L"ロード失敗。");
        } else {
            const Kelvane::SampleRate rate = Kelvane::preferredSampleRate(pDevice->getSupportedSampleRates());
            int32_t minFrames = 0, maxFrames = 0, preferredFrames = 0, granularity = 0;
            if (rate == Kelvane::RateNone) {
                DebugLog::WriteLine(L"サンプルレートが不明です。");
            } else if (!pDevice->getBufferSizeRange(rate, &minFrames, &maxFrames, &preferredFrames,
                                                    &granularity)) {
                DebugLog::WriteLine(L"バッファ長が不明です。");
            } else {
                const int32_t frames =
                    Kelvane::hostBufferSize(requestedBufferSize, preferredFrames,
                                            Kelvane::sampleRateToHz(rate), minFrames, maxFrames, granularity);
                if (pDevice->prepare(rate, frames, this)) {
                    DebugLog::WriteLine(L"オーディオ出力を開始しました。");
                    return true;
                }
                DebugLog::WriteLine(L"オーディオ出力を開始できませんでした。");
            }
        }
        closeAudioDevice();
    }
    DebugLog::WriteLine(L"オーディオドライバが使用できません。", true);
    return false;
}

void CHost::closeAudioDevice()
{
    const int32_t entered = processState.load(std::memory_order_relaxed);
    stopProcessing();
    // The next start sets processing up again for the new device; a plug-in still inside
    // an abandoned render call stays where it is.
    if (!renderAbandoned && (entered == ProcessState::Active || entered == ProcessState::Processing))
        processState.store(ProcessState::Initialized, std::memory_order_release);
    if (pDevice) {
        delete pDevice; // stops, unprepares and closes it
        pDevice = nullptr;
        DebugLog::WriteLine(L"オーディオ出力を終了しました。");
    }
}

void CHost::restartAudioDevice()
{
    Kelvane::DriverType type = Kelvane::DriverAuto;
    std::wstring name; // a copy: the device goes away before the name is used
    bool named = false;
    if (pDevice) {
        type = pDevice->getDriverType();
        if (const wchar_t* deviceName = pDevice->getName()) {
            name = deviceName;
            named = true;
        }
    }
    DebugLog::WriteLine(L"オーディオドライバを再起動します。");
    reopenAudioDevice(type, named ? name.c_str() : nullptr);
}

void CHost::reopenAudioDevice(Kelvane::DriverType type, const wchar_t* name)
{
    AudioBusyScope busy(*this);
    stopProcessing();
    openAudioDevice(type, name);
    startProcessing();
    DebugLog::WriteSeparator();
}

void CHost::onRestartMessage()
{
    switch (restartRequests.onMessage(GetTickCount64())) {
    case Kelvane::RestartRequests::Action::Restart:
        restartAudioDevice();
        break;
    case Kelvane::RestartRequests::Action::IgnoreFirst:
        DebugLog::WriteLine(L"オーディオドライバが再起動を繰り返し要求するため、要求を無視します。");
        break;
    default: // waits for the busy stretch to end, or is one more of too many
        break;
    }
}

} // namespace PomaroApp
