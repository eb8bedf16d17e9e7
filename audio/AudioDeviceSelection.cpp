// The host's choice, start and stop of an audio device.

#include "app/Host.h"
#include "audio/AsioAudioDeviceList.h"
#include "audio/WasapiAudioDeviceList.h"
#include "diag/DebugLog.h"

#include <string>

namespace PomaroApp {

bool CHost::openAudioDevice(Kelvane::DriverType, const wchar_t*)
{
    closeAudioDevice();
    if (!pWasapiList)
        pWasapiList = new Kelvane::CWasapiAudioDeviceList();
    if (!pAsioList)
        pAsioList = new Kelvane::CAsioAudioDeviceList();
    // Choosing among the devices is not built yet: this ends as when none is usable.
    DebugLog::WriteLine(L"オーディオドライバを列挙します。");
    DebugLog::WriteLine(L"オーディオドライバが使用できません。", true);
    return false;
}

void CHost::closeAudioDevice()
{
    const int32_t entered = processState.load(std::memory_order_relaxed);
    if (entered == ProcessState::Processing) {
        processState.store(ProcessState::Active, std::memory_order_release);
        if (pDevice)
            pDevice->stop();
        if (pProcessor)
            pProcessor->setProcessing(false);
    }
    if (entered == ProcessState::Active || entered == ProcessState::Processing) {
        if (processState.load(std::memory_order_relaxed) == ProcessState::Active && pComponent) {
            pComponent->setActive(false);
            processState.store(ProcessState::SetUp, std::memory_order_release);
        }
        // The next start sets processing up again for the new device.
        processState.store(ProcessState::Initialized, std::memory_order_release);
    }
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
    stopProcessing();
    openAudioDevice(type, named ? name.c_str() : nullptr);
    startProcessing();
    DebugLog::WriteSeparator();
}

} // namespace PomaroApp
