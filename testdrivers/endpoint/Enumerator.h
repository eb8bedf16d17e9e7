#pragma once
// IMMDeviceEnumerator and IMMDeviceCollection over the configured endpoints.

#include "testdrivers/endpoint/ComSupport.h"
#include "testdrivers/endpoint/EndpointModel.h"

#include <mmdeviceapi.h>

#include <memory>
#include <vector>

namespace PomaroTestEndpoint {

class Enumerator final : public IMMDeviceEnumerator, public RefCounted
{
public:
    explicit Enumerator(std::shared_ptr<EndpointModel> model) : model_(std::move(model)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    POMARO_REFCOUNTED_IUNKNOWN
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                                 IMMDeviceCollection** out) override;
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** out) override;
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** out) override;
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override;
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override;

private:
    std::shared_ptr<EndpointModel> model_;
};

class DeviceCollection final : public IMMDeviceCollection, public RefCounted
{
public:
    DeviceCollection(std::shared_ptr<EndpointModel> model, std::vector<size_t> members)
        : model_(std::move(model)), members_(std::move(members))
    {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    POMARO_REFCOUNTED_IUNKNOWN
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** out) override;

private:
    std::shared_ptr<EndpointModel> model_;
    std::vector<size_t> members_; // endpoint indices in collection order
};

} // namespace PomaroTestEndpoint
