#include "audio/WasapiAudioDeviceList.h"

#include "audio/WasapiAudioDevice.h"

#include <wrl/client.h>

#include <cwchar>
#include <new>

namespace Kelvane {

namespace {

// PKEY_Device_FriendlyName, spelled out so no translation unit has to own the GUID.
const PROPERTYKEY kFriendlyNameKey = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

wchar_t* copyText(const wchar_t* text)
{
    const size_t length = text ? std::wcslen(text) : 0;
    auto* copy = new (std::nothrow) wchar_t[length + 1];
    if (copy) {
        if (length)
            std::wmemcpy(copy, text, length);
        copy[length] = L'\0';
    }
    return copy;
}

// The endpoint's friendly name; null when it cannot be read.
wchar_t* readFriendlyName(IMMDevice* endpoint)
{
    Microsoft::WRL::ComPtr<IPropertyStore> store;
    if (FAILED(endpoint->OpenPropertyStore(STGM_READ, &store)) || !store)
        return nullptr;
    wchar_t* name = nullptr;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(kFriendlyNameKey, &value)) && value.vt == VT_LPWSTR && value.pwszVal)
        name = copyText(value.pwszVal);
    PropVariantClear(&value);
    return name;
}

} // namespace

CWasapiAudioDeviceList::CWasapiAudioDeviceList() { enumerate(); }

void CWasapiAudioDeviceList::enumerate()
{
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&pEnumerator))))
        pEnumerator = nullptr;
    if (!pEnumerator)
        return;
    Microsoft::WRL::ComPtr<IMMDeviceCollection> collection;
    if (FAILED(pEnumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &collection)) || !collection)
        return;
    UINT found = 0;
    if (SUCCEEDED(collection->GetCount(&found)) && found > 0 && found <= 0x7FFFFFFF) {
        entries.reset(new (std::nothrow) WasapiDeviceEntry[found]);
        if (entries)
            count = static_cast<int32_t>(found);
    }
    for (int32_t i = 0; i < count; ++i) {
        Microsoft::WRL::ComPtr<IMMDevice> endpoint;
        if (FAILED(collection->Item(static_cast<UINT>(i), &endpoint)) || !endpoint)
            continue;
        if (FAILED(endpoint->GetId(&entries[i].pId)))
            entries[i].pId = nullptr;
        entries[i].pName = readFriendlyName(endpoint.Get());
    }
    // Every entry has a name that is safe to compare and show, even without a readable one.
    for (int32_t i = 0; i < count; ++i)
        if (!entries[i].pName)
            entries[i].pName = copyText(L"");
}

CWasapiAudioDeviceList::~CWasapiAudioDeviceList()
{
    for (int32_t i = 0; i < count; ++i) {
        CoTaskMemFree(entries[i].pId);
        delete[] entries[i].pName;
    }
    entries.reset();
    count = 0;
    if (pEnumerator)
        pEnumerator->Release();
}

int32_t CWasapiAudioDeviceList::getCount() { return count; }

const wchar_t* CWasapiAudioDeviceList::getName(int32_t index)
{
    if (!entries || index < 0 || index >= count)
        return nullptr;
    return entries[index].pName;
}

CAudioDevice* CWasapiAudioDeviceList::createDevice(int32_t index)
{
    if (!entries || !pEnumerator || index < 0 || index >= count || !entries[index].pId)
        return nullptr;
    Microsoft::WRL::ComPtr<IMMDevice> endpoint;
    if (FAILED(pEnumerator->GetDevice(entries[index].pId, &endpoint)) || !endpoint)
        return nullptr;
    auto* device = new (std::nothrow) CWasapiAudioDevice(index, entries[index].pName, endpoint.Get());
    if (device)
        endpoint.Detach(); // the device holds the reference now
    return device;
}

} // namespace Kelvane
