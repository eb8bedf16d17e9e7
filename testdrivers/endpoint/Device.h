#pragma once
// IMMDevice and its read-only IPropertyStore for one configured endpoint.

#include "testdrivers/endpoint/ComSupport.h"
#include "testdrivers/endpoint/EndpointModel.h"

#include <mmdeviceapi.h>
#include <propsys.h>

#include <memory>

namespace PomaroTestEndpoint {

class Device final : public IMMDevice, public RefCounted
{
public:
    Device(std::shared_ptr<EndpointModel> model, size_t index) : model_(std::move(model)), index_(index) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    POMARO_REFCOUNTED_IUNKNOWN
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD clsCtx, PROPVARIANT* params, void** ppv) override;
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** out) override;
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override;

private:
    std::shared_ptr<EndpointModel> model_;
    size_t index_;
};

class PropertyStore final : public IPropertyStore, public RefCounted
{
public:
    PropertyStore(std::shared_ptr<EndpointModel> model, size_t index)
        : model_(std::move(model)), index_(index)
    {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    POMARO_REFCOUNTED_IUNKNOWN
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override;
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
    HRESULT STDMETHODCALLTYPE Commit() override;

private:
    std::shared_ptr<EndpointModel> model_;
    size_t index_;
};

} // namespace PomaroTestEndpoint
