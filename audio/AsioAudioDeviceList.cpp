#include "audio/AsioAudioDeviceList.h"

namespace Kelvane {

// Enumeration is not built yet: the list is empty, as when enumerating fails.

int32_t CAsioAudioDeviceList::getCount()
{
    return 0;
}

const wchar_t* CAsioAudioDeviceList::getName(int32_t)
{
    return nullptr;
}

CAudioDevice* CAsioAudioDeviceList::createDevice(int32_t)
{
    return nullptr;
}

} // namespace Kelvane
