// The DLL's COM entry points: the device enumerator's class.
#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/ConfigFile.h"
#include "testdrivers/endpoint/Enumerator.h"
#include "testdrivers/endpoint/TestEndpointApi.h"

#include <mmdeviceapi.h>

#include <cstdio>

namespace {

HRESULT createEnumerator(REFIID riid, void** ppv)
{
    using namespace PomaroTestEndpoint;
    using namespace PomaroTestDrivers;
    // The file named by the environment, else by the registry, else the built-in default.
    EndpointConfig config = defaultEndpointConfig();
    const std::wstring path =
        configPath(POMARO_TEST_ENDPOINT_CONFIG_ENV, HKEY_CURRENT_USER, POMARO_TEST_ENDPOINT_KEY, L"Config");
    std::string text, error = "cannot read the file";
    if (!path.empty() && (!readTextFile(path, text) || !parseEndpointConfig(text, config, error))) {
        const std::string line = "PomaroTestEndpoint: " + narrow(path) + ": " + error + "\n";
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
