#include "TestEndpointHarness.h"

#include <mmdeviceapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace WasapiTest {

namespace {
using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
} // namespace

TestEndpointHarness::TestEndpointHarness()
{
    module = LoadLibraryW(BesideExe(L"PomaroTestEndpoint.dll").c_str());
    if (!module)
        return;
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IUnknown* factory = nullptr;
    if (!getClassObject || FAILED(getClassObject(__uuidof(MMDeviceEnumerator), IID_IUnknown,
                                                 reinterpret_cast<void**>(&factory))))
        return;
    if (FAILED(CoRegisterClassObject(__uuidof(MMDeviceEnumerator), factory, CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie)))
        cookie = 0;
    factory->Release();
}

TestEndpointHarness::~TestEndpointHarness()
{
    if (cookie)
        CoRevokeClassObject(cookie);
    SetEnvironmentVariableW(L"POMARO_TEST_ENDPOINT_CONFIG", nullptr);
    // The module stays loaded: a stream thread of a failed test may still wind down.
}

void TestEndpointHarness::configure(const std::string& text)
{
    DeleteFileW(wav.c_str());
    DeleteFileW((wav + L".stats.txt").c_str());
    std::ofstream(configPath.c_str(), std::ios::binary) << text;
    SetEnvironmentVariableW(L"POMARO_TEST_ENDPOINT_CONFIG", configPath.c_str());
}

std::string TestEndpointHarness::wavPathUtf8() const
{
    std::string path(wav.size() * 3, '\0');
    path.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, wav.c_str(), int(wav.size()), &path[0],
                                           int(path.size()), nullptr, nullptr)));
    return path;
}

std::map<std::string, long long> TestEndpointHarness::stats() const
{
    std::map<std::string, long long> values;
    std::istringstream in(ReadBytes(wav + L".stats.txt"));
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = std::atoll(line.c_str() + eq + 1);
    }
    return values;
}

std::vector<int16_t> TestEndpointHarness::recordedLeft() const
{
    // The endpoint writes the plain 44-byte header; its data size says how much is complete.
    const std::string bytes = ReadBytes(wav);
    uint32_t size = 0;
    if (bytes.size() >= 44)
        std::memcpy(&size, bytes.data() + 40, 4);
    std::vector<int16_t> left;
    for (size_t p = 44; p + 4 <= std::min(bytes.size(), 44 + size_t(size)); p += 4) {
        left.emplace_back();
        std::memcpy(&left.back(), bytes.data() + p, 2);
    }
    return left;
}

} // namespace WasapiTest
