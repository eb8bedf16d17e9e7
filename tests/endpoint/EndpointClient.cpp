// A small WASAPI client for end-to-end tests, using the system's device enumerator
// through CoCreateInstance like any program.
//   endpoint_client list                       endpoints and which module serves them
//   endpoint_client bare SECONDS [RATE [FRAMES]] render silence with the bare event loop
// Output is UTF-8 "key=value" lines; the exit code is 0 on success.
#include "tests/endpoint/ComRef.h"
#include "tests/endpoint/WasapiTestClient.h"

#include <initguid.h> // defines the property keys below in this file
#include <functiondiscoverykeys_devpkey.h>
#include <mmdeviceapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

std::string utf8(const wchar_t* w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 1), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    s.resize(std::strlen(s.c_str()));
    return s;
}

int fail(const char* what, HRESULT hr)
{
    std::printf("error=%s 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

std::string serverModule()
{
    // Whoever answered CoCreateInstance is loaded in this process now.
    HMODULE m = GetModuleHandleW(L"PomaroTestEndpoint.dll");
    if (!m)
        return "";
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(m, path, MAX_PATH);
    path[n < MAX_PATH ? n : MAX_PATH - 1] = 0;
    return utf8(path);
}

int list(IMMDeviceEnumerator* e)
{
    ComRef<IMMDeviceCollection> c;
    HRESULT hr = e->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, c.put());
    if (FAILED(hr))
        return fail("EnumAudioEndpoints", hr);
    UINT count = 0;
    c->GetCount(&count);
    std::printf("server=%s\ncount=%u\n", serverModule().c_str(), count);
    for (UINT i = 0; i < count; ++i) {
        ComRef<IMMDevice> d;
        ComRef<IPropertyStore> store;
        LPWSTR id = nullptr;
        std::string name = "<none>";
        if (SUCCEEDED(c->Item(i, d.put())) && SUCCEEDED(d->GetId(&id)) &&
            SUCCEEDED(d->OpenPropertyStore(STGM_READ, store.put()))) {
            PROPVARIANT v;
            PropVariantInit(&v);
            if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &v)) && v.vt == VT_LPWSTR)
                name = utf8(v.pwszVal);
            PropVariantClear(&v);
        }
        std::printf("endpoint=%u\t%s\t%s\n", i, id ? utf8(id).c_str() : "", name.c_str());
        CoTaskMemFree(id);
    }
    return 0;
}

int bare(IMMDeviceEnumerator* e, double seconds, uint32_t rate, uint32_t frames)
{
    ComRef<IMMDeviceCollection> c;
    ComRef<IMMDevice> d;
    HRESULT hr = e->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, c.put());
    if (FAILED(hr) || FAILED(hr = c->Item(0, d.put())))
        return fail("no endpoint", hr);
    RenderRequest rq;
    rq.rate = rate;
    rq.frames = frames;
    rq.seconds = seconds;
    RenderResult r = renderExclusive(d.get(), rq);
    if (FAILED(r.hr))
        return fail(r.step, r.hr);
    std::printf("buffer_frames=%u\nreleases=%llu\nelapsed_ms=%.0f\n", r.bufferFrames,
                static_cast<unsigned long long>(r.releases), r.elapsedSeconds * 1000);
    if (!r.haveStats)
        return fail("not the test endpoint: no statistics", E_NOINTERFACE);
    std::printf("periods=%llu\nlate_periods=%llu\nendpoint_late_periods=%llu\nframes=%llu\n",
                static_cast<unsigned long long>(r.stats.periods),
                static_cast<unsigned long long>(r.stats.latePeriods),
                static_cast<unsigned long long>(r.stats.endpointLatePeriods),
                static_cast<unsigned long long>(r.stats.frames));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || (std::wcscmp(argv[1], L"list") != 0 && std::wcscmp(argv[1], L"bare") != 0)) {
        std::fputs("usage: endpoint_client list | bare SECONDS [RATE [FRAMES]]\n", stderr);
        return 2;
    }
    // The render loop runs on this thread, so it is a multithreaded apartment like an audio thread.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int rc;
    {
        ComRef<IMMDeviceEnumerator> e;
        HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                      __uuidof(IMMDeviceEnumerator), e.putVoid());
        if (FAILED(hr)) {
            rc = fail("CoCreateInstance", hr);
        } else if (std::wcscmp(argv[1], L"list") == 0) {
            rc = list(e.get());
        } else {
            double seconds = argc > 2 ? std::wcstod(argv[2], nullptr) : 1.0;
            uint32_t rate = argc > 3 ? uint32_t(std::wcstoul(argv[3], nullptr, 10)) : 48000;
            uint32_t frames = argc > 4 ? uint32_t(std::wcstoul(argv[4], nullptr, 10)) : rate / 100;
            rc = seconds > 0 && rate > 0 && frames > 0 ? bare(e.get(), seconds, rate, frames) : 2;
        }
    }
    CoUninitialize();
    std::fflush(stdout);
    return rc;
}
