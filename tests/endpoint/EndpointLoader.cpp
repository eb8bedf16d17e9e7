#include "tests/endpoint/EndpointLoader.h"

#include "testdrivers/endpoint/TestEndpointApi.h"

#include <cstdio>

namespace {
using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(__stdcall*)();
} // namespace

std::wstring tempFile(const wchar_t* name)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

std::string toUtf8(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

EndpointLoader::EndpointLoader()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    module_ = LoadLibraryW((dir + L"PomaroTestEndpoint.dll").c_str());
    configPath_ = tempFile(L"pomaro-endpoint-test.ini");
}

EndpointLoader::~EndpointLoader()
{
    SetEnvironmentVariableW(POMARO_TEST_ENDPOINT_CONFIG_ENV, nullptr);
    // The module stays loaded: a clock thread may still be winding down in a failed test.
}

void EndpointLoader::configure(const std::string& text)
{
    if (std::FILE* f = _wfopen(configPath_.c_str(), L"wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    SetEnvironmentVariableW(POMARO_TEST_ENDPOINT_CONFIG_ENV, configPath_.c_str());
}

HRESULT EndpointLoader::getClassObject(REFCLSID clsid, REFIID iid, void** ppv)
{
    auto fn = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    return fn ? fn(clsid, iid, ppv) : E_NOTIMPL;
}

HRESULT EndpointLoader::canUnloadNow()
{
    auto fn =
        reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    return fn ? fn() : E_NOTIMPL;
}

HRESULT EndpointLoader::createEnumerator(ComRef<IMMDeviceEnumerator>& out)
{
    ComRef<IClassFactory> factory;
    HRESULT hr = getClassObject(__uuidof(MMDeviceEnumerator), __uuidof(IClassFactory), factory.putVoid());
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, __uuidof(IMMDeviceEnumerator), out.putVoid());
}

HRESULT activeRenderEndpoint(IMMDeviceEnumerator* e, UINT index, ComRef<IMMDevice>& out)
{
    ComRef<IMMDeviceCollection> c;
    HRESULT hr = e->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, c.put());
    if (FAILED(hr))
        return hr;
    return c->Item(index, out.put());
}
