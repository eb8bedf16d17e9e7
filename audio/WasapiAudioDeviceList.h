#pragma once
// The list of WASAPI render endpoints: a snapshot of the active ones, taken when the
// list is made, each named by its friendly name.

#include "audio/AudioDevice.h"

#include <mmdeviceapi.h>

#include <memory>

namespace Kelvane {

struct WasapiDeviceEntry
{
    wchar_t* pId = nullptr;   // from IMMDevice::GetId; COM task memory
    wchar_t* pName = nullptr; // friendly name, or an empty text when it cannot be read
};

class CWasapiAudioDeviceList : public CAudioDeviceList
{
public:
    // COM must be initialised on the calling thread. Never fails as a whole: an
    // enumeration that fails leaves the list empty.
    CWasapiAudioDeviceList();
    ~CWasapiAudioDeviceList() override;

    int32_t getCount() override;
    const wchar_t* getName(int32_t index) override;
    CAudioDevice* createDevice(int32_t index) override;

private:
    void enumerate();

    IMMDeviceEnumerator* pEnumerator = nullptr;
    int32_t count = 0;
    std::unique_ptr<WasapiDeviceEntry[]> entries;
};

} // namespace Kelvane
