#include "audio/AsioAudioDeviceList.h"

#include "audio/AsioAudioDevice.h"
#include "audio/AsioDriverRegistry.h"

#include <new>

namespace Kelvane {

CAsioAudioDeviceList::CAsioAudioDeviceList() : pRegistry(new (std::nothrow) AsioDriverRegistry())
{
    if (pRegistry)
        pRegistry->load();
}

CAsioAudioDeviceList::CAsioAudioDeviceList(AsioDriverRegistry* registry) : pRegistry(registry) {}

CAsioAudioDeviceList::~CAsioAudioDeviceList()
{
    delete pRegistry; // releases drivers still held by its entries
}

int32_t CAsioAudioDeviceList::getCount() { return pRegistry ? pRegistry->count : 0; }

const wchar_t* CAsioAudioDeviceList::getName(int32_t index)
{
    const AsioDriverEntry* entry = pRegistry ? pRegistry->find(index) : nullptr;
    return entry ? entry->name : nullptr;
}

CAudioDevice* CAsioAudioDeviceList::createDevice(int32_t index)
{
    if (!pRegistry)
        return nullptr;
    return new (std::nothrow) CAsioAudioDevice(pRegistry, index);
}

} // namespace Kelvane
