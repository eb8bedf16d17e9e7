// The DLL's COM entry points: the device enumerator's class.
#include "testdrivers/common/ComServer.h"
#include "testdrivers/endpoint/ConfigSource.h"
#include "testdrivers/endpoint/Enumerator.h"

#include <mmdeviceapi.h>

#include <cstdio>

namespace {

HRESULT createEnumerator(REFIID riid, void** ppv)
{
    using namespace PomaroTestEndpoint;
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

} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return PomaroTestDrivers::getClassObject(clsid, __uuidof(MMDeviceEnumerator), createEnumerator, riid,
                                             ppv);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return PomaroTestDrivers::canUnloadNow();
}
