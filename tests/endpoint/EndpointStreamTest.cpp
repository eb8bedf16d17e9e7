// The test endpoint in real time: a client thread renders a known sine through the
// event-driven loop; the period counts, the timing and the recorded WAV must match.
#include "tests/endpoint/EndpointLoader.h"
#include "tests/endpoint/WasapiTestClient.h"

#include <audioclient.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Left: 1 kHz, right: 1.5 kHz, both exactly reproducible from the frame index.
int16_t sineSample(uint64_t frame, int channel, uint32_t rate)
{
    double f = channel == 0 ? 1000.0 : 1500.0;
    return int16_t(std::lround(12000.0 * std::sin(2 * kPi * f * double(frame) / rate)));
}

void fillSine(int16_t* out, uint32_t n, uint64_t first, void*)
{
    for (uint32_t i = 0; i < n; ++i) {
        out[2 * i] = sineSample(first + i, 0, 48000);
        out[2 * i + 1] = sineSample(first + i, 1, 48000);
    }
}

std::vector<uint8_t> readFile(const std::wstring& path)
{
    std::vector<uint8_t> v;
    if (std::FILE* f = _wfopen(path.c_str(), L"rb")) {
        uint8_t b[65536];
        size_t n;
        while ((n = std::fread(b, 1, sizeof b, f)) > 0)
            v.insert(v.end(), b, b + n);
        std::fclose(f);
    }
    return v;
}

uint32_t le32(const std::vector<uint8_t>& v, size_t at)
{
    return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 | uint32_t(v[at + 3]) << 24;
}

std::string configFor(const std::wstring& wav, const char* endpoint)
{
    return "wav = " + toUtf8(wav) + "\n[endpoint]\n" + endpoint;
}

class EndpointStream : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(loader.loaded()); }

    // Renders on its own multithreaded-apartment thread, as an audio client does.
    RenderResult run(const RenderRequest& rq)
    {
        RenderResult result;
        std::thread t([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            {
                ComRef<IMMDeviceEnumerator> e;
                ComRef<IMMDevice> d;
                if (SUCCEEDED(loader.createEnumerator(e)) && SUCCEEDED(activeRenderEndpoint(e.get(), 0, d)))
                    result = renderExclusive(d.get(), rq);
                else
                    result.step = "enumerate";
            }
            CoUninitialize();
        });
        t.join();
        return result;
    }

    EndpointLoader loader;
};

struct MidpointProbe
{
    std::wstring wav;
    size_t fileBytes = 0;
    uint32_t claimedBytes = 0;
    bool riff = false;
};

void probeWav(void* context)
{
    auto* p = static_cast<MidpointProbe*>(context);
    std::vector<uint8_t> v = readFile(p->wav);
    p->fileBytes = v.size();
    if (v.size() >= 44) {
        p->riff = v[0] == 'R' && v[1] == 'I' && v[2] == 'F' && v[3] == 'F';
        p->claimedBytes = le32(v, 40);
    }
}

} // namespace

TEST_F(EndpointStream, SineRoundTripThroughTheEventLoop)
{
    std::wstring wav = tempFile(L"pomaro-endpoint-sine.wav");
    DeleteFileW(wav.c_str());
    loader.configure(configFor(wav, "name = A\nrates = 44100, 48000\nperiod = 100000\nmin_period = 30000\n"));
    MidpointProbe probe;
    probe.wav = wav;
    RenderRequest rq;
    rq.seconds = 0.5;
    rq.fill = [](int16_t* out, uint32_t n, uint64_t first, void* c) { fillSine(out, n, first, c); };
    rq.midpointSeconds = 0.35;
    rq.midpoint = probeWav;
    rq.context = &probe;
    RenderResult r = run(rq);
    ASSERT_EQ(r.hr, S_OK) << r.step;
    ASSERT_TRUE(r.haveStats);
    EXPECT_EQ(r.bufferFrames, 480u);

    // Real time: one event per 10 ms period, counted from Start.
    // Bounds leave room for a busy shared machine; drift or a wrong period would exceed them.
    EXPECT_NEAR(double(r.stats.periods), r.elapsedSeconds / 0.01, 5.0);
    // Late periods depend on how busy the machine is (the bare-client comparison is the
    // precise measure); a loop that missed most periods would still show here.
    EXPECT_LE(r.stats.latePeriods, r.stats.periods / 3) << "a bare loop keeps up";
    EXPECT_EQ(r.stats.frames, r.releases * 480) << "every released frame counted, the pre-roll included";
    EXPECT_EQ(r.stats.droppedFrames, 0u);
    EXPECT_EQ(r.stats.misuse, 0u);
    EXPECT_EQ(r.stats.sampleRate, 48000u);

    // While streaming the file was already a valid WAV that claimed no more than it held.
    EXPECT_TRUE(probe.riff);
    EXPECT_GT(probe.claimedBytes, 0u);
    EXPECT_LE(probe.claimedBytes, probe.fileBytes - 44);

    std::vector<uint8_t> v = readFile(wav);
    ASSERT_GE(v.size(), 44u);
    EXPECT_EQ(le32(v, 24), 48000u);
    uint32_t bytes = le32(v, 40);
    ASSERT_EQ(bytes, v.size() - 44);
    ASSERT_EQ(bytes / 4, r.stats.frames);
    const auto* s = reinterpret_cast<const int16_t*>(v.data() + 44);
    uint64_t wrong = 0;
    for (uint64_t i = 0; i < bytes / 4; ++i)
        wrong += (s[2 * i] != sineSample(i, 0, 48000)) + (s[2 * i + 1] != sineSample(i, 1, 48000));
    EXPECT_EQ(wrong, 0u) << "the recording holds exactly what the client rendered, in order";

    std::vector<uint8_t> statsBytes = readFile(wav + L".stats.txt");
    std::string stats(statsBytes.begin(), statsBytes.end());
    EXPECT_NE(stats.find("frames=" + std::to_string(r.stats.frames) + "\n"), std::string::npos) << stats;
    EXPECT_NE(stats.find("periods=" + std::to_string(r.stats.periods) + "\n"), std::string::npos) << stats;
}

TEST_F(EndpointStream, AlignedRetryStreamsAtTheAlignedSize)
{
    std::wstring wav = tempFile(L"pomaro-endpoint-aligned.wav");
    loader.configure(configFor(wav, "name = A\nrates = 48000\nnot_aligned = 480:512\n"));
    RenderRequest rq;
    rq.seconds = 0.3;
    RenderResult r = run(rq);
    ASSERT_EQ(r.hr, S_OK) << r.step;
    EXPECT_EQ(r.bufferFrames, 512u);
    EXPECT_EQ(r.stats.bufferFrames, 512u);
    EXPECT_EQ(r.stats.frames, r.releases * 512);
    // 512 frames at 48 kHz: the period follows the buffer, 10.67 ms.
    EXPECT_NEAR(double(r.stats.periods), r.elapsedSeconds * 48000 / 512, 5.0);
}

// A client that stops answering is late every period after the first.
TEST_F(EndpointStream, SilentClientIsLateEveryPeriod)
{
    loader.configure("[endpoint]\nname = A\nrates = 48000\n");
    RenderResult r;
    std::thread t([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComRef<IMMDeviceEnumerator> e;
            ComRef<IMMDevice> d;
            ComRef<IAudioClient> c;
            ComRef<IAudioRenderClient> rc;
            ComRef<IPomaroEndpointStats> s;
            WAVEFORMATEX w = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
            HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            BYTE* data = nullptr;
            if (SUCCEEDED(loader.createEnumerator(e)) && SUCCEEDED(activeRenderEndpoint(e.get(), 0, d)) &&
                SUCCEEDED(d->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, c.putVoid())) &&
                SUCCEEDED(c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                        100000, 100000, &w, nullptr)) &&
                SUCCEEDED(c->SetEventHandle(ev)) &&
                SUCCEEDED(c->GetService(__uuidof(IAudioRenderClient), rc.putVoid())) &&
                SUCCEEDED(rc->GetBuffer(480, &data)) &&
                SUCCEEDED(rc->ReleaseBuffer(480, AUDCLNT_BUFFERFLAGS_SILENT)) && SUCCEEDED(c->Start())) {
                Sleep(300);
                c->Stop();
                c->QueryInterface(__uuidof(IPomaroEndpointStats), s.putVoid());
                r.haveStats = s && SUCCEEDED(s->GetStats(&r.stats));
            }
            CloseHandle(ev);
        }
        CoUninitialize();
    });
    t.join();
    ASSERT_TRUE(r.haveStats);
    // The clock may start late on a busy machine and then catch up; those periods are
    // the endpoint's, the rest the client's, and together every period but the first.
    EXPECT_GE(r.stats.periods, 10u);
    EXPECT_EQ(r.stats.latePeriods + r.stats.endpointLatePeriods, r.stats.periods - 1);
    EXPECT_GT(r.stats.latePeriods, 0u);
    EXPECT_EQ(r.stats.frames, 480u);
}
