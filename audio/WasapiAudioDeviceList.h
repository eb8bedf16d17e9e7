#pragma once
// The list of WASAPI render endpoints.

#include "audio/AudioDevice.h"

namespace Kelvane {

class CWasapiAudioDeviceList : public CAudioDeviceList
{
public:
    CWasapiAudioDeviceList() = default;
    ~CWasapiAudioDeviceList() override = default;

    int32_t getCount() override;
    const wchar_t* getName(int32_t index) override;
    CAudioDevice* createDevice(int32_t index) override;
};

} // namespace Kelvane
