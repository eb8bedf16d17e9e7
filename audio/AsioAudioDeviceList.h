#pragma once
// The list of installed ASIO drivers.

#include "audio/AudioDevice.h"

namespace Kelvane {

class CAsioAudioDeviceList : public CAudioDeviceList
{
public:
    CAsioAudioDeviceList() = default;
    ~CAsioAudioDeviceList() override = default;

    int32_t getCount() override;
    const wchar_t* getName(int32_t index) override;
    CAudioDevice* createDevice(int32_t index) override;
};

} // namespace Kelvane
