// The DLL's COM entry points and the test hooks.
#include "testdrivers/asio/DriverState.h"
#include "testdrivers/asio/TestAsioApi.h"
#include "testdrivers/asio/TestAsioDriver.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace PomaroTestAsio {
namespace {

std::atomic<long> g_serverLocks{0};

class ClassFactory final : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        // Each object reads the configuration afresh, so one process can try several.
        AsioTestConfig config;
        std::string error;
        if (!loadConfig(config, error)) {
            std::fprintf(stderr, "PomaroTestAsio: %s\n", error.c_str());
            return HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
        }
        auto* driver = new TestAsioDriver(std::move(config));
        const HRESULT hr = driver->QueryInterface(riid, ppv);
        driver->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        g_serverLocks.fetch_add(lock ? 1 : -1);
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
};

} // namespace
} // namespace PomaroTestAsio

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    using namespace PomaroTestAsio;
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_PomaroTestAsio)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new ClassFactory;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    using namespace PomaroTestAsio;
    return counters().liveInstances.load() == 0 && g_serverLocks.load() == 0 ? S_OK : S_FALSE;
}

extern "C" __declspec(dllexport) void __stdcall PomaroTestAsioConfigure(const char* text)
{
    PomaroTestAsio::setConfigText(text);
}

extern "C" __declspec(dllexport) void __stdcall PomaroTestAsioStats(PomaroTestAsioStats* stats)
{
    if (stats)
        *stats = PomaroTestAsio::snapshotStats();
}

extern "C" __declspec(dllexport) void __stdcall PomaroTestAsioReset() { PomaroTestAsio::resetState(); }

extern "C" __declspec(dllexport) int __stdcall PomaroTestAsioCallLog(char* out, int size)
{
    const std::string log = PomaroTestAsio::callLog();
    if (out && size > 0) {
        const size_t n = log.size() < size_t(size - 1) ? log.size() : size_t(size - 1);
        std::memcpy(out, log.data(), n);
        out[n] = 0;
    }
    return static_cast<int>(log.size());
}
