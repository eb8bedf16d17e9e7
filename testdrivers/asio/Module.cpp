// The DLL's COM entry points and the test hooks.
#include "testdrivers/asio/DriverState.h"
#include "testdrivers/common/ComServer.h"
#include "testdrivers/asio/TestAsioApi.h"
#include "testdrivers/asio/TestAsioDriver.h"

#include <cstdio>
#include <cstring>

namespace {

HRESULT createDriver(REFIID riid, void** ppv)
{
    using namespace PomaroTestAsio;
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

} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return PomaroTestDrivers::getClassObject(clsid, CLSID_PomaroTestAsio, createDriver, riid, ppv);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return PomaroTestDrivers::canUnloadNow();
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
