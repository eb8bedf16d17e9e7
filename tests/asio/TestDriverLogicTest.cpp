// The test driver's own rules: its configuration text and its recording.
#include "testdrivers/asio/AsioTestConfig.h"
#include "testdrivers/asio/ChannelWavWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace PomaroTestAsio;

TEST(AsioTestConfig, ReadsEveryKey)
{
    AsioTestConfig c;
    std::string error;
    ASSERT_TRUE(
        parseAsioTestConfig("# comment\n"
                            "type = 19\r\n"
                            "rates = 44100, 96000\n"
                            "min = 64\nmax = 2048\npreferred = 256\ngranularity = -1\n"
                            "outputs = 1\ninputs = 2\n"
                            "init_error = No hardware\n"
                            "fail = start, createBuffers#2\n"
                            "panel = no\nreset_after = 5\nsize_change_after = 7\nsize_change_to = 128\n"
                            "reset_burst = 20\nreset_every_init = yes\nafter_stop = 3\n"
                            "callback_in_start = yes\nthread_every = 9\n"
                            "callback = timeinfo\nwav = C:\\out\\a.wav\nstats = C:\\out\\a.txt\n",
                            c, error))
        << error;
    EXPECT_EQ(c.sampleType, 19);
    EXPECT_EQ(c.rates, (std::vector<double>{44100.0, 96000.0}));
    EXPECT_EQ(c.minFrames, 64);
    EXPECT_EQ(c.maxFrames, 2048);
    EXPECT_EQ(c.preferredFrames, 256);
    EXPECT_EQ(c.granularity, -1);
    EXPECT_EQ(c.outputs, 1);
    EXPECT_EQ(c.inputs, 2);
    EXPECT_TRUE(c.initFails);
    EXPECT_EQ(c.initError, "No hardware");
    EXPECT_TRUE(c.fails("start", 1));
    EXPECT_TRUE(c.fails("start", 2));
    EXPECT_FALSE(c.fails("createBuffers", 1));
    EXPECT_TRUE(c.fails("createBuffers", 2));
    EXPECT_FALSE(c.fails("createBuffers", 3));
    EXPECT_FALSE(c.fails("stop", 1));
    EXPECT_FALSE(c.hasPanel);
    EXPECT_FALSE(c.panelAsksReset);
    EXPECT_EQ(c.resetAfter, 5);
    EXPECT_EQ(c.sizeChangeAfter, 7);
    EXPECT_EQ(c.sizeChangeTo, 128);
    EXPECT_EQ(c.resetBurst, 20);
    EXPECT_TRUE(c.resetEveryInit);
    EXPECT_EQ(c.afterStop, 3);
    EXPECT_TRUE(c.callbackInStart);
    EXPECT_EQ(c.threadEvery, 9);
    EXPECT_TRUE(c.forceTimeInfo);
    EXPECT_EQ(c.wavPath, "C:\\out\\a.wav");
    EXPECT_EQ(c.statsPath, "C:\\out\\a.txt");
}

TEST(AsioTestConfig, BadLinesAreNamed)
{
    AsioTestConfig c;
    std::string error;
    EXPECT_FALSE(parseAsioTestConfig("type = 18\nmin 64\n", c, error));
    EXPECT_EQ(error, "line 2: no '='");
    EXPECT_FALSE(parseAsioTestConfig("colour = red\n", c, error));
    EXPECT_NE(error.find("unknown key"), std::string::npos);
    EXPECT_FALSE(parseAsioTestConfig("max = 12x\n", c, error));
    EXPECT_FALSE(parseAsioTestConfig("rates = 44100, -1\n", c, error));
    EXPECT_FALSE(parseAsioTestConfig("panel = maybe\n", c, error));
    EXPECT_FALSE(parseAsioTestConfig("fail = stop#0\n", c, error));
    EXPECT_EQ(error, "line 1: bad call number '0'");
    EXPECT_FALSE(parseAsioTestConfig("callback_in_start = often\n", c, error));
    ASSERT_TRUE(parseAsioTestConfig("panel = reset\n", c, error));
    EXPECT_TRUE(c.hasPanel && c.panelAsksReset);
    EXPECT_FALSE(parseAsioTestConfig("min = 512\nmax = 256\n", c, error));
}

TEST(AsioTestConfig, BufferSizesFollowTheGranularity)
{
    AsioTestConfig c;
    c.minFrames = 64;
    c.maxFrames = 2048;
    c.preferredFrames = 256;
    c.granularity = -1;
    EXPECT_TRUE(c.acceptsFrames(512));
    EXPECT_FALSE(c.acceptsFrames(480));
    EXPECT_FALSE(c.acceptsFrames(32));
    EXPECT_FALSE(c.acceptsFrames(4096));
    c.granularity = 16;
    EXPECT_TRUE(c.acceptsFrames(480));
    EXPECT_FALSE(c.acceptsFrames(490));
    c.granularity = 0;
    EXPECT_TRUE(c.acceptsFrames(256));
    EXPECT_FALSE(c.acceptsFrames(512));
}

namespace {

std::vector<unsigned char> readAll(const std::string& path)
{
    std::vector<unsigned char> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int ch;
        while ((ch = std::fgetc(f)) != EOF)
            bytes.push_back(static_cast<unsigned char>(ch));
        std::fclose(f);
    }
    return bytes;
}

uint32_t at32(const std::vector<unsigned char>& b, size_t i)
{
    return uint32_t(b[i]) | uint32_t(b[i + 1]) << 8 | uint32_t(b[i + 2]) << 16 | uint32_t(b[i + 3]) << 24;
}

uint16_t at16(const std::vector<unsigned char>& b, size_t i) { return uint16_t(b[i] | b[i + 1] << 8); }

std::string tempPath(const char* name)
{
    const char* dir = std::getenv("TEMP");
    if (!dir)
        dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

} // namespace

TEST(ChannelWavWriter, InterleavesChannelsAndKeepsTheHeaderCurrent)
{
    const std::string path = tempPath("pomaro-asio-wav-test.wav");
    ChannelWavWriter w;
    ASSERT_TRUE(w.attach(std::fopen(path.c_str(), "wb"), WavSampleKind::Int16, 48000, 4));
    const int16_t left[3] = {1, 2, 3};
    const int16_t right[3] = {-1, -2, -3};
    ASSERT_TRUE(w.append(left, right, 3));
    // Read while still open: the header must already cover what was written.
    auto b = readAll(path);
    ASSERT_EQ(b.size(), 44u + 12u);
    EXPECT_EQ(std::memcmp(b.data(), "RIFF", 4), 0);
    EXPECT_EQ(at32(b, 4), 36u + 12u);
    EXPECT_EQ(at16(b, 20), 1); // PCM
    EXPECT_EQ(at16(b, 22), 2); // stereo
    EXPECT_EQ(at32(b, 24), 48000u);
    EXPECT_EQ(at32(b, 28), 48000u * 4);
    EXPECT_EQ(at16(b, 34), 16);
    EXPECT_EQ(at32(b, 40), 12u);
    const int16_t expected[6] = {1, -1, 2, -2, 3, -3};
    EXPECT_EQ(std::memcmp(b.data() + 44, expected, sizeof expected), 0);
    EXPECT_FALSE(w.append(left, right, 5)) << "more frames than announced";
    EXPECT_EQ(w.frames(), 3u);
    w.close();
    std::remove(path.c_str());
}

TEST(ChannelWavWriter, FloatAndInt32KeepTheirFormat)
{
    const std::string path = tempPath("pomaro-asio-wav-float.wav");
    {
        ChannelWavWriter w;
        ASSERT_TRUE(w.attach(std::fopen(path.c_str(), "wb"), WavSampleKind::Float32, 44100, 2));
        const float left[2] = {0.5f, -0.25f};
        const float right[2] = {0.125f, 1.0f};
        ASSERT_TRUE(w.append(left, right, 2));
    }
    auto b = readAll(path);
    ASSERT_EQ(b.size(), 44u + 16u);
    EXPECT_EQ(at16(b, 20), 3); // IEEE float
    EXPECT_EQ(at16(b, 34), 32);
    EXPECT_EQ(at16(b, 32), 8);
    float samples[4];
    std::memcpy(samples, b.data() + 44, sizeof samples);
    EXPECT_EQ(samples[0], 0.5f);
    EXPECT_EQ(samples[1], 0.125f);
    EXPECT_EQ(samples[2], -0.25f);
    EXPECT_EQ(samples[3], 1.0f);

    ChannelWavWriter w;
    ASSERT_TRUE(w.attach(std::fopen(path.c_str(), "wb"), WavSampleKind::Int32, 96000, 1));
    const int32_t l = 0x7fffffff, r = -0x7fffffff - 1;
    ASSERT_TRUE(w.append(&l, &r, 1));
    b = readAll(path);
    EXPECT_EQ(at16(b, 20), 1);
    EXPECT_EQ(at16(b, 34), 32);
    EXPECT_EQ(at32(b, 44), 0x7fffffffu);
    EXPECT_EQ(at32(b, 48), 0x80000000u);
    w.close();
    std::remove(path.c_str());
}

TEST(ChannelWavWriter, RefusesWithoutFileOrBuffers)
{
    ChannelWavWriter w;
    EXPECT_FALSE(w.attach(nullptr, WavSampleKind::Int16, 48000, 16));
    int16_t s[1] = {0};
    EXPECT_FALSE(w.append(s, s, 1));
    const std::string path = tempPath("pomaro-asio-wav-null.wav");
    ASSERT_TRUE(w.attach(std::fopen(path.c_str(), "wb"), WavSampleKind::Int16, 48000, 16));
    EXPECT_FALSE(w.append(nullptr, s, 1));
    w.close();
    std::remove(path.c_str());
}
