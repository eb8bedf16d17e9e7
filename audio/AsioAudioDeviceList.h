#pragma once
// The list of installed ASIO drivers.

#include "audio/AudioDevice.h"

namespace Kelvane {

struct AsioDriverRegistry;

class CAsioAudioDeviceList : public CAudioDeviceList
{
public:
    // Reads the drivers registered on the machine.
    CAsioAudioDeviceList();
    // Takes over a registry the caller filled (null: a list without registry).
    explicit CAsioAudioDeviceList(AsioDriverRegistry* registry);
    ~CAsioAudioDeviceList() override;

    int32_t getCount() override;
    const wchar_t* getName(int32_t index) override;
    // A device for any number, also one without entry (that device fails to open).
    CAudioDevice* createDevice(int32_t index) override;

    AsioDriverRegistry* registry() const { return pRegistry; }

private:
    AsioDriverRegistry* pRegistry = nullptr;
};

} // namespace Kelvane
