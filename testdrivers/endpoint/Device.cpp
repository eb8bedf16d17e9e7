#include "testdrivers/endpoint/Device.h"

#include "testdrivers/endpoint/AudioClient.h"

#include <audioclient.h>

#include <cstring>
#include <cwchar>

namespace PomaroTestEndpoint {

namespace {
// The name keys a client may ask for: the endpoint's friendly name, its description
// and the interface's friendly name. All three carry the configured name.
const PROPERTYKEY kNameKeys[] = {
    {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14},
    {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 2},
    {{0x026e516e, 0xb814, 0x414b, {0x83, 0xcd, 0x85, 0x6d, 0x6f, 0xef, 0x48, 0x22}}, 2},
};
constexpr DWORD kNameKeyCount = sizeof kNameKeys / sizeof kNameKeys[0];

bool sameKey(const PROPERTYKEY& a, const PROPERTYKEY& b)
{
    return a.pid == b.pid && std::memcmp(&a.fmtid, &b.fmtid, sizeof a.fmtid) == 0;
}
} // namespace

wchar_t* coTaskStrDup(const wchar_t* s)
{
    size_t n = std::wcslen(s) + 1;
    auto* p = static_cast<wchar_t*>(CoTaskMemAlloc(n * sizeof(wchar_t)));
    if (p)
        std::memcpy(p, s, n * sizeof(wchar_t));
    return p;
}

HRESULT Device::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IMMDevice)) {
        *ppv = static_cast<IMMDevice*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT Device::Activate(REFIID iid, DWORD, PROPVARIANT*, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (HRESULT hr = model_->faults[index_]->onCall(Call::Activate))
        return hr;
    if (model_->spec(index_).state != StateActive)
        return AUDCLNT_E_DEVICE_INVALIDATED;
    if (iid != __uuidof(IAudioClient) && iid != __uuidof(IUnknown))
        return E_NOINTERFACE;
    *ppv = static_cast<IAudioClient*>(new AudioClient(model_, index_));
    return S_OK;
}

HRESULT Device::OpenPropertyStore(DWORD access, IPropertyStore** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = model_->faults[index_]->onCall(Call::OpenPropertyStore))
        return hr;
    if ((access & 3) != STGM_READ)
        return E_ACCESSDENIED;
    *out = new PropertyStore(model_, index_);
    return S_OK;
}

HRESULT Device::GetId(LPWSTR* id)
{
    if (!id)
        return E_POINTER;
    *id = nullptr;
    if (HRESULT hr = model_->faults[index_]->onCall(Call::GetId))
        return hr;
    *id = coTaskStrDup(model_->ids[index_].c_str());
    return *id ? S_OK : E_OUTOFMEMORY;
}

HRESULT Device::GetState(DWORD* state)
{
    if (!state)
        return E_POINTER;
    *state = model_->spec(index_).state;
    return S_OK;
}

HRESULT PropertyStore::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IPropertyStore)) {
        *ppv = static_cast<IPropertyStore*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT PropertyStore::GetCount(DWORD* count)
{
    if (!count)
        return E_POINTER;
    *count = model_->spec(index_).hasName ? kNameKeyCount : 0;
    return S_OK;
}

HRESULT PropertyStore::GetAt(DWORD index, PROPERTYKEY* key)
{
    if (!key)
        return E_POINTER;
    if (!model_->spec(index_).hasName || index >= kNameKeyCount)
        return E_INVALIDARG;
    *key = kNameKeys[index];
    return S_OK;
}

HRESULT PropertyStore::GetValue(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (!value)
        return E_POINTER;
    PropVariantInit(value);
    if (HRESULT hr = model_->faults[index_]->onCall(Call::GetValue))
        return hr;
    // A property the endpoint lacks reads as VT_EMPTY with success, as on the system.
    if (!model_->spec(index_).hasName)
        return S_OK;
    for (const PROPERTYKEY& k : kNameKeys) {
        if (sameKey(k, key)) {
            value->pwszVal = coTaskStrDup(model_->names[index_].c_str());
            if (!value->pwszVal)
                return E_OUTOFMEMORY;
            value->vt = VT_LPWSTR;
            return S_OK;
        }
    }
    return S_OK;
}

HRESULT PropertyStore::SetValue(REFPROPERTYKEY, REFPROPVARIANT) { return STG_E_ACCESSDENIED; }

HRESULT PropertyStore::Commit() { return STG_E_ACCESSDENIED; }

} // namespace PomaroTestEndpoint
