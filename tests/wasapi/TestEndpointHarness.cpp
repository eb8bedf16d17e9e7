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

std::wstring besideExe(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + name;
}

std::wstring tempPath(const std::wstring& name)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"pomaro-wasapi-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
}

std::string readAll(const std::wstring& path)
{
    std::string bytes;
    if (std::FILE* f = _wfopen(path.c_str(), L"rb")) {
        char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

} // namespace

std::string utf8(const std::wstring& text)
{
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

TestEndpointHarness::TestEndpointHarness()
    : configPath(tempPath(L"endpoint.ini")), wav(tempPath(L"render.wav"))
{
    module = LoadLibraryW(besideExe(L"PomaroTestEndpoint.dll").c_str());
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
    DeleteFileW(configPath.c_str());
    DeleteFileW(wav.c_str());
    DeleteFileW((wav + L".stats.txt").c_str());
    // The module stays loaded: a stream thread of a failed test may still wind down.
}

void TestEndpointHarness::configure(const std::string& text)
{
    DeleteFileW(wav.c_str());
    DeleteFileW((wav + L".stats.txt").c_str());
    std::ofstream(configPath.c_str(), std::ios::binary) << text;
    SetEnvironmentVariableW(L"POMARO_TEST_ENDPOINT_CONFIG", configPath.c_str());
}

std::string TestEndpointHarness::wavPathUtf8() const { return utf8(wav); }

std::map<std::string, long long> TestEndpointHarness::stats() const
{
    std::map<std::string, long long> values;
    std::istringstream in(readAll(wav + L".stats.txt"));
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
    const std::string bytes = readAll(wav);
    std::vector<int16_t> left;
    // Walk the RIFF chunks to "data".
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at, 4, "data") == 0) {
            const size_t end = std::min(bytes.size(), at + 8 + size_t(size));
            for (size_t p = at + 8; p + 4 <= end; p += 4) {
                int16_t sample;
                std::memcpy(&sample, bytes.data() + p, 2);
                left.push_back(sample);
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return left;
}

} // namespace WasapiTest
