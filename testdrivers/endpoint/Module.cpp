// The DLL's COM entry points: a class factory for the device enumerator's class.
#include "testdrivers/endpoint/ComSupport.h"
#include "testdrivers/endpoint/ConfigSource.h"
#include "testdrivers/endpoint/Enumerator.h"

#include <mmdeviceapi.h>

#include <cstdio>

namespace PomaroTestEndpoint {

std::atomic<long> g_liveObjects{0};
std::atomic<long> g_serverLocks{0};

namespace {

class ClassFactory final : public IClassFactory, public RefCounted
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    POMARO_REFCOUNTED_IUNKNOWN

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        // Every enumerator reads the configuration afresh, so one process can try several.
        EndpointConfig config;
        std::string error;
        if (!loadEndpointConfig(config, error)) {
            std::string line = "PomaroTestEndpoint: " + error + "\n";
            OutputDebugStringA(line.c_str());
            std::fputs(line.c_str(), stderr);
            return HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
        }
        auto* e = new Enumerator(std::make_shared<EndpointModel>(std::move(config)));
        HRESULT hr = e->QueryInterface(riid, ppv);
        e->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        g_serverLocks.fetch_add(lock ? 1 : -1, std::memory_order_relaxed);
        return S_OK;
    }
};

} // namespace
} // namespace PomaroTestEndpoint

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    using namespace PomaroTestEndpoint;
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (clsid != __uuidof(MMDeviceEnumerator))
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* f = new ClassFactory;
    HRESULT hr = f->QueryInterface(riid, ppv);
    f->Release();
    return hr;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    using namespace PomaroTestEndpoint;
    return g_liveObjects.load(std::memory_order_acquire) == 0 &&
                   g_serverLocks.load(std::memory_order_acquire) == 0
               ? S_OK
               : S_FALSE;
}
