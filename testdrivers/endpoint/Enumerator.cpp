#include "testdrivers/endpoint/Enumerator.h"

#include "testdrivers/endpoint/Device.h"

#include <cwchar>

namespace PomaroTestEndpoint {

namespace {
bool flowMatches(const EndpointSpec& e, EDataFlow flow)
{
    return flow == eAll || (flow == eRender) == e.render;
}
} // namespace

HRESULT Enumerator::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IMMDeviceEnumerator)) {
        *ppv = static_cast<IMMDeviceEnumerator*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT Enumerator::EnumAudioEndpoints(EDataFlow flow, DWORD stateMask, IMMDeviceCollection** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = model_->enumeratorFaults.onCall(Call::EnumAudioEndpoints))
        return hr;
    if ((flow != eRender && flow != eCapture && flow != eAll) || stateMask == 0 || (stateMask & ~DWORD(0xF)))
        return E_INVALIDARG;
    std::vector<size_t> members;
    for (size_t i = 0; i < model_->count(); ++i) {
        if (flowMatches(model_->spec(i), flow) && (model_->spec(i).state & stateMask))
            members.push_back(i);
    }
    *out = new DeviceCollection(model_, std::move(members));
    return S_OK;
}

HRESULT Enumerator::GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = model_->enumeratorFaults.onCall(Call::GetDefaultAudioEndpoint))
        return hr;
    if ((flow != eRender && flow != eCapture) || role < eConsole || role > eCommunications)
        return E_INVALIDARG;
    // The first active endpoint of the flow is the default for every role.
    for (size_t i = 0; i < model_->count(); ++i) {
        if (flowMatches(model_->spec(i), flow) && model_->spec(i).state == StateActive) {
            *out = new Device(model_, i);
            return S_OK;
        }
    }
    return kNotFound;
}

HRESULT Enumerator::GetDevice(LPCWSTR id, IMMDevice** out)
{
    if (!out || !id)
        return E_POINTER;
    *out = nullptr;
    for (size_t i = 0; i < model_->count(); ++i) {
        if (model_->ids[i] == id) {
            if (HRESULT hr = model_->faults[i]->onCall(Call::GetDevice))
                return hr;
            *out = new Device(model_, i);
            return S_OK;
        }
    }
    return kNotFound;
}

HRESULT Enumerator::RegisterEndpointNotificationCallback(IMMNotificationClient* client)
{
    // The endpoints never change while a test runs, so there is nothing to notify.
    return client ? S_OK : E_POINTER;
}

HRESULT Enumerator::UnregisterEndpointNotificationCallback(IMMNotificationClient* client)
{
    return client ? S_OK : E_POINTER;
}

HRESULT DeviceCollection::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IMMDeviceCollection)) {
        *ppv = static_cast<IMMDeviceCollection*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT DeviceCollection::GetCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    if (HRESULT hr = model_->enumeratorFaults.onCall(Call::GetCount))
        return hr;
    *count = UINT(members_.size());
    return S_OK;
}

HRESULT DeviceCollection::Item(UINT index, IMMDevice** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (index >= members_.size())
        return E_INVALIDARG;
    size_t e = members_[index];
    if (HRESULT hr = model_->faults[e]->onCall(Call::Item))
        return hr;
    *out = new Device(model_, e);
    return S_OK;
}

} // namespace PomaroTestEndpoint
