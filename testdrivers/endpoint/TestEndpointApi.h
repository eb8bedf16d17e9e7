#pragma once
// What test programs may ask the test endpoint beyond the system's interfaces:
// where its configuration comes from, and the statistics of a stream, through
// IPomaroEndpointStats on the endpoint's IAudioClient.

#include <windows.h>
#include <unknwn.h>

// Path of the configuration file (UTF-8 text); takes precedence over the registry value.
#define POMARO_TEST_ENDPOINT_CONFIG_ENV L"POMARO_TEST_ENDPOINT_CONFIG"
// HKEY_CURRENT_USER key whose REG_SZ value "Config" names the configuration file.
#define POMARO_TEST_ENDPOINT_KEY L"Software\\PomaroTest\\Endpoint"

struct PomaroEndpointStats
{
    UINT64 periods, latePeriods;
};

MIDL_INTERFACE("8d6b8a52-3c1e-4f0a-9b7e-2f4c6a1d9e37")
IPomaroEndpointStats : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetStats(PomaroEndpointStats * stats) = 0;
};
__CRT_UUID_DECL(IPomaroEndpointStats, 0x8d6b8a52, 0x3c1e, 0x4f0a, 0x9b, 0x7e, 0x2f, 0x4c, 0x6a, 0x1d, 0x9e,
                0x37)
