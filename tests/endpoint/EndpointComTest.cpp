// The test endpoint as a WASAPI client meets it: enumeration, names, formats, buffer
// sizes, injected failures and the protocol errors a real endpoint answers.
#include "tests/endpoint/EndpointLoader.h"

#include "testdrivers/endpoint/TestEndpointApi.h"

#include <audioclient.h>
#include <initguid.h> // defines the property keys below in this file
#include <functiondiscoverykeys_devpkey.h>
#include <gtest/gtest.h>

#include <string>

namespace {

class EndpointCom : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(loader.loaded()) << "PomaroTestEndpoint.dll beside the test";
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    }
    void TearDown() override { CoUninitialize(); }

    void open(const std::string& config)
    {
        loader.configure(config);
        ASSERT_EQ(loader.createEnumerator(enumerator), S_OK);
    }
    ComRef<IAudioClient> activate(UINT index)
    {
        ComRef<IMMDevice> d;
        EXPECT_EQ(activeRenderEndpoint(enumerator.get(), index, d), S_OK);
        ComRef<IAudioClient> c;
        if (d) {
            EXPECT_EQ(d->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, c.putVoid()), S_OK);
        }
        return c;
    }
    static std::wstring friendlyName(IMMDevice* d, VARTYPE* type)
    {
        ComRef<IPropertyStore> store;
        if (FAILED(d->OpenPropertyStore(STGM_READ, store.put())))
            return L"<no store>";
        PROPVARIANT v;
        PropVariantInit(&v);
        HRESULT hr = store->GetValue(PKEY_Device_FriendlyName, &v);
        *type = v.vt;
        std::wstring name = SUCCEEDED(hr) && v.vt == VT_LPWSTR ? v.pwszVal : L"";
        PropVariantClear(&v);
        return SUCCEEDED(hr) ? name : L"<failed>";
    }
    static uint64_t misuseOf(IAudioClient* c)
    {
        ComRef<IPomaroEndpointStats> s;
        PomaroEndpointStats st = {};
        if (SUCCEEDED(c->QueryInterface(__uuidof(IPomaroEndpointStats), s.putVoid())))
            s->GetStats(&st);
        return st.misuse;
    }

    EndpointLoader loader;
    ComRef<IMMDeviceEnumerator> enumerator;
};

WAVEFORMATEX pcm(uint32_t rate, uint16_t bits = 16, uint16_t channels = 2)
{
    WAVEFORMATEX w = {};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.wBitsPerSample = bits;
    w.nBlockAlign = WORD(channels * bits / 8);
    w.nAvgBytesPerSec = rate * w.nBlockAlign;
    return w;
}

REFERENCE_TIME hns(uint32_t frames, uint32_t rate)
{
    return REFERENCE_TIME(10000000.0 / rate * frames + 0.5);
}

const char* kFourEndpoints =
    "[endpoint]\nname = Speakers A\n"
    "[endpoint]\n" // active, without a readable name
    "[endpoint]\nname = Off\nstate = disabled\n"
    "[endpoint]\nname = Mic\nflow = capture\n"
    "[endpoint]\nname = \xE3\x82\xB9\xE3\x83\x94\xE3\x83\xBC\xE3\x82\xAB\n"; // スピーカ

} // namespace

TEST_F(EndpointCom, EnumeratesActiveRenderEndpointsWithTheirNames)
{
    open(kFourEndpoints);
    ComRef<IMMDeviceCollection> c;
    ASSERT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, c.put()), S_OK);
    UINT count = 0;
    ASSERT_EQ(c->GetCount(&count), S_OK);
    ASSERT_EQ(count, 3u) << "disabled and capture endpoints are not active render endpoints";
    const wchar_t* names[] = {L"Speakers A", L"", L"\u30B9\u30D4\u30FC\u30AB"};
    const VARTYPE types[] = {VT_LPWSTR, VT_EMPTY, VT_LPWSTR};
    for (UINT i = 0; i < count; ++i) {
        ComRef<IMMDevice> d;
        ASSERT_EQ(c->Item(i, d.put()), S_OK);
        VARTYPE vt = 0;
        EXPECT_EQ(friendlyName(d.get(), &vt), names[i]) << i;
        EXPECT_EQ(vt, types[i]) << "a missing name reads as VT_EMPTY with success, entry " << i;
        // The identifier leads back to the same endpoint.
        LPWSTR id = nullptr;
        ASSERT_EQ(d->GetId(&id), S_OK);
        ComRef<IMMDevice> again;
        EXPECT_EQ(enumerator->GetDevice(id, again.put()), S_OK);
        EXPECT_EQ(friendlyName(again.get(), &vt), names[i]);
        CoTaskMemFree(id);
        DWORD state = 0;
        EXPECT_EQ(d->GetState(&state), S_OK);
        EXPECT_EQ(state, DWORD(DEVICE_STATE_ACTIVE));
    }
    ComRef<IMMDevice> none;
    EXPECT_EQ(c->Item(3, none.put()), E_INVALIDARG);
    EXPECT_EQ(enumerator->GetDevice(L"{nothing}", none.put()), HRESULT(0x80070490));

    ASSERT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATEMASK_ALL, c.put()), S_OK);
    c->GetCount(&count);
    EXPECT_EQ(count, 4u);
    ASSERT_EQ(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, c.put()), S_OK);
    c->GetCount(&count);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(enumerator->EnumAudioEndpoints(eAll, DEVICE_STATE_DISABLED, c.put()), S_OK);
    c->GetCount(&count);
    EXPECT_EQ(count, 1u);

    ComRef<IMMDevice> def;
    ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, def.put()), S_OK);
    VARTYPE vt = 0;
    EXPECT_EQ(friendlyName(def.get(), &vt), L"Speakers A");
}

TEST_F(EndpointCom, PropertyStoreIsReadOnly)
{
    open("[endpoint]\nname = A\n");
    ComRef<IMMDevice> d;
    ASSERT_EQ(activeRenderEndpoint(enumerator.get(), 0, d), S_OK);
    ComRef<IPropertyStore> store;
    EXPECT_EQ(d->OpenPropertyStore(STGM_READWRITE, store.put()), E_ACCESSDENIED);
    ASSERT_EQ(d->OpenPropertyStore(STGM_READ, store.put()), S_OK);
    PROPVARIANT v;
    PropVariantInit(&v);
    EXPECT_EQ(store->SetValue(PKEY_Device_FriendlyName, v), STG_E_ACCESSDENIED);
    DWORD n = 0;
    EXPECT_EQ(store->GetCount(&n), S_OK);
    EXPECT_GE(n, 1u);
}

TEST_F(EndpointCom, AcceptsExactlyTheConfiguredExclusiveFormats)
{
    open(
        "[endpoint]\nname = A\nrates = 44100 96000\nperiod = 100000\nmin_period = 30000\nmix_rate = 44100\n");
    ComRef<IAudioClient> c = activate(0);
    ASSERT_TRUE(c);
    for (uint32_t rate : {22050u, 44100u, 48000u, 96000u}) {
        WAVEFORMATEX w = pcm(rate);
        HRESULT expect = rate == 44100 || rate == 96000 ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
        EXPECT_EQ(c->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &w, nullptr), expect) << rate;
    }
    WAVEFORMATEX w24 = pcm(44100, 24), mono = pcm(44100, 16, 1);
    EXPECT_EQ(c->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &w24, nullptr), AUDCLNT_E_UNSUPPORTED_FORMAT);
    EXPECT_EQ(c->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &mono, nullptr),
              AUDCLNT_E_UNSUPPORTED_FORMAT);

    WAVEFORMATEX w = pcm(96000);
    WAVEFORMATEX* closest = nullptr;
    ASSERT_EQ(c->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &w, &closest), S_FALSE);
    ASSERT_NE(closest, nullptr);
    EXPECT_EQ(closest->nSamplesPerSec, 44100u) << "the mix format is the closest match";
    CoTaskMemFree(closest);
    WAVEFORMATEX* mix = nullptr;
    ASSERT_EQ(c->GetMixFormat(&mix), S_OK);
    EXPECT_EQ(c->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, mix, &closest), S_OK);
    EXPECT_EQ(closest, nullptr);
    CoTaskMemFree(mix);

    REFERENCE_TIME def = 0, min = 0;
    ASSERT_EQ(c->GetDevicePeriod(&def, &min), S_OK);
    EXPECT_EQ(def, 100000);
    EXPECT_EQ(min, 30000);
    EXPECT_EQ(c->GetDevicePeriod(nullptr, &min), S_OK);
}

TEST_F(EndpointCom, NotAlignedAnswerAndTheRetryWithANewClient)
{
    open("[endpoint]\nname = A\nrates = 48000\nnot_aligned = 480:512\n");
    ComRef<IAudioClient> c = activate(0);
    WAVEFORMATEX w = pcm(48000);
    REFERENCE_TIME d = hns(480, 48000);
    ASSERT_EQ(
        c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, d, d, &w, nullptr),
        AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED);
    UINT32 aligned = 0;
    ASSERT_EQ(c->GetBufferSize(&aligned), S_OK);
    EXPECT_EQ(aligned, 512u);
    // The client that answered NOT_ALIGNED is spent; the retry needs a new one.
    EXPECT_EQ(c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, hns(512, 48000),
                            hns(512, 48000), &w, nullptr),
              AUDCLNT_E_ALREADY_INITIALIZED);
    EXPECT_EQ(misuseOf(c.get()), 1u);
    c = activate(0);
    d = hns(aligned, 48000);
    ASSERT_EQ(
        c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, d, d, &w, nullptr),
        S_OK);
    UINT32 frames = 0;
    ASSERT_EQ(c->GetBufferSize(&frames), S_OK);
    EXPECT_EQ(frames, 512u);
}

TEST_F(EndpointCom, AlignmentRuleAndLargerBuffers)
{
    open("[endpoint]\nname = A\nrates = 48000\nalign = 64\n"
         "[endpoint]\nname = B\nrates = 48000\nextra_frames = 32\n");
    WAVEFORMATEX w = pcm(48000);
    ComRef<IAudioClient> a = activate(0);
    REFERENCE_TIME d = hns(480, 48000);
    EXPECT_EQ(
        a->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, d, d, &w, nullptr),
        AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED);
    UINT32 n = 0;
    a->GetBufferSize(&n);
    EXPECT_EQ(n, 512u);
    ComRef<IAudioClient> b = activate(1);
    ASSERT_EQ(
        b->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, d, d, &w, nullptr),
        S_OK);
    b->GetBufferSize(&n);
    EXPECT_EQ(n, 512u) << "asked for 480, the endpoint made 512";
}

TEST_F(EndpointCom, InjectedFailuresHitTheChosenCalls)
{
    open("fail = EnumAudioEndpoints#1\n"
         "[endpoint]\nname = A\nrates = 48000\n"
         "fail = Activate#1:0x88890004, Initialize#2:0x8889000A, Start, GetValue\n"
         "[endpoint]\nname = B\nfail = Item, OpenPropertyStore\n");
    ComRef<IMMDeviceCollection> col;
    EXPECT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, col.put()), E_FAIL);
    ASSERT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, col.put()), S_OK);
    ComRef<IMMDevice> d, b;
    ASSERT_EQ(col->Item(0, d.put()), S_OK);
    EXPECT_EQ(col->Item(1, b.put()), E_FAIL);
    ComRef<IPropertyStore> store;
    ASSERT_EQ(d->OpenPropertyStore(STGM_READ, store.put()), S_OK);
    PROPVARIANT v;
    PropVariantInit(&v);
    EXPECT_EQ(store->GetValue(PKEY_Device_FriendlyName, &v), E_FAIL);
    EXPECT_EQ(v.vt, VT_EMPTY);

    ComRef<IAudioClient> c;
    EXPECT_EQ(d->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, c.putVoid()),
              AUDCLNT_E_DEVICE_INVALIDATED);
    EXPECT_FALSE(c);
    ASSERT_EQ(d->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, c.putVoid()), S_OK);
    WAVEFORMATEX w = pcm(48000);
    REFERENCE_TIME dur = hns(480, 48000);
    // The first Initialize carries a wrong period on purpose; the second is the injected failure.
    EXPECT_EQ(c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, dur, dur + 1, &w,
                            nullptr),
              AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL);
    EXPECT_EQ(
        c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, dur, dur, &w, nullptr),
        AUDCLNT_E_DEVICE_IN_USE);
    ASSERT_EQ(
        c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, dur, dur, &w, nullptr),
        S_OK);
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(c->SetEventHandle(e), S_OK);
    EXPECT_EQ(c->Start(), E_FAIL);
    EXPECT_EQ(c->Stop(), S_FALSE) << "nothing started";
    CloseHandle(e);
}

TEST_F(EndpointCom, ProtocolErrorsAreAnsweredAndCounted)
{
    open("[endpoint]\nname = A\nrates = 48000\nmin_period = 30000\n");
    WAVEFORMATEX w = pcm(48000);
    ComRef<IAudioClient> c = activate(0);
    EXPECT_EQ(c->Start(), AUDCLNT_E_NOT_INITIALIZED);
    ComRef<IAudioRenderClient> r;
    EXPECT_EQ(c->GetService(__uuidof(IAudioRenderClient), r.putVoid()), AUDCLNT_E_NOT_INITIALIZED);
    EXPECT_EQ(c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, hns(96, 48000),
                            hns(96, 48000), &w, nullptr),
              AUDCLNT_E_INVALID_DEVICE_PERIOD)
        << "2 ms is below the minimum period";
    REFERENCE_TIME d = hns(480, 48000);
    ASSERT_EQ(
        c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, d, d, &w, nullptr),
        S_OK);
    EXPECT_EQ(c->Start(), AUDCLNT_E_EVENTHANDLE_NOT_SET);
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(c->SetEventHandle(e), S_OK);
    ASSERT_EQ(c->GetService(__uuidof(IAudioRenderClient), r.putVoid()), S_OK);
    BYTE* data = nullptr;
    EXPECT_EQ(r->GetBuffer(481, &data), AUDCLNT_E_BUFFER_TOO_LARGE);
    EXPECT_EQ(r->ReleaseBuffer(480, 0), AUDCLNT_E_OUT_OF_ORDER);
    ASSERT_EQ(r->GetBuffer(480, &data), S_OK);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(r->GetBuffer(480, &data), AUDCLNT_E_OUT_OF_ORDER);
    EXPECT_EQ(r->ReleaseBuffer(481, 0), AUDCLNT_E_INVALID_SIZE);
    ASSERT_EQ(r->GetBuffer(480, &data), S_OK);
    ASSERT_EQ(r->ReleaseBuffer(480, AUDCLNT_BUFFERFLAGS_SILENT), S_OK);
    ASSERT_EQ(c->Start(), S_OK);
    EXPECT_EQ(c->Start(), AUDCLNT_E_NOT_STOPPED);
    EXPECT_EQ(c->Reset(), AUDCLNT_E_NOT_STOPPED);
    EXPECT_EQ(c->Stop(), S_OK);
    EXPECT_EQ(c->Stop(), S_FALSE);
    EXPECT_EQ(c->Reset(), S_OK);
    EXPECT_EQ(misuseOf(c.get()), 9u) << "every refused call above but the period one and the second Stop";
    CloseHandle(e);

    ComRef<IAudioClient> polled = activate(0);
    ASSERT_EQ(polled->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, 0, d, 0, &w, nullptr), S_OK);
    HANDLE e2 = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(polled->SetEventHandle(e2), AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED);
    CloseHandle(e2);
}

TEST_F(EndpointCom, ModuleEntryPoints)
{
    ComRef<IClassFactory> f;
    EXPECT_EQ(loader.getClassObject(__uuidof(IUnknown), __uuidof(IClassFactory), f.putVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(loader.canUnloadNow(), S_OK);
    open("[endpoint]\nname = A\n");
    EXPECT_EQ(loader.canUnloadNow(), S_FALSE) << "an enumerator lives";
    enumerator.reset();
    EXPECT_EQ(loader.canUnloadNow(), S_OK);

    loader.configure("[endpoint]\nrates = fast\n");
    EXPECT_EQ(loader.createEnumerator(enumerator), HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION));
    SetEnvironmentVariableW(POMARO_TEST_ENDPOINT_CONFIG_ENV, L"C:\\no\\such\\file.ini");
    EXPECT_EQ(loader.createEnumerator(enumerator), HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION));
}
