#include "audio/WasapiAudioDeviceList.h"

namespace Kelvane {

// Enumeration is not built yet: the list is empty, as when enumerating fails.

int32_t CWasapiAudioDeviceList::getCount()
{
    return 0;
}

const wchar_t* CWasapiAudioDeviceList::getName(int32_t)
{
    return nullptr;
}

CAudioDevice* CWasapiAudioDeviceList::createDevice(int32_t)
{
    return nullptr;
}

} // namespace Kelvane
