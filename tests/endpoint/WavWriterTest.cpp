#include "testdrivers/endpoint/WavWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace PomaroTestEndpoint;

namespace {
std::vector<uint8_t> readAll(const std::string& path)
{
    std::vector<uint8_t> v;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t b[4096];
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
std::string tempPath(const char* name) { return ::testing::TempDir() + name; }
} // namespace

TEST(WavWriter, HeaderDescribes16BitStereoAndGrowsWithTheData)
{
    std::string path = tempPath("wavwriter-grow.wav");
    {
        WavWriter w;
        ASSERT_TRUE(w.attach(std::fopen(path.c_str(), "wb"), 44100));
        std::vector<uint8_t> empty = readAll(path);
        ASSERT_EQ(empty.size(), 44u) << "an empty but valid file from the start";
        EXPECT_EQ(std::memcmp(empty.data(), "RIFF", 4), 0);
        EXPECT_EQ(le32(empty, 4), 36u);
        EXPECT_EQ(std::memcmp(empty.data() + 8, "WAVEfmt ", 8), 0);
        EXPECT_EQ(le32(empty, 16), 16u);
        EXPECT_EQ(le32(empty, 20), 0x00020001u) << "PCM, two channels";
        EXPECT_EQ(le32(empty, 24), 44100u);
        EXPECT_EQ(le32(empty, 28), 176400u);
        EXPECT_EQ(le32(empty, 32), 0x00100004u) << "block 4, 16 bits";
        EXPECT_EQ(std::memcmp(empty.data() + 36, "data", 4), 0);
        EXPECT_EQ(le32(empty, 40), 0u);

        int16_t frames[6] = {1, -1, 0x1234, -0x1234, 32767, -32768};
        ASSERT_TRUE(w.append(frames, 3));
        ASSERT_TRUE(w.updateHeader());
        std::vector<uint8_t> v = readAll(path);
        ASSERT_EQ(v.size(), 56u) << "header updates reach the disk without closing";
        EXPECT_EQ(le32(v, 4), 48u);
        EXPECT_EQ(le32(v, 40), 12u);
        EXPECT_EQ(std::memcmp(v.data() + 44, frames, 12), 0);
        EXPECT_EQ(w.frames(), 3u);
        ASSERT_TRUE(w.append(frames, 2));
    }
    std::vector<uint8_t> v = readAll(path);
    ASSERT_EQ(v.size(), 64u);
    EXPECT_EQ(le32(v, 40), 20u) << "closing brings the sizes up to date";
    EXPECT_EQ(le32(v, 4), 56u);
    std::remove(path.c_str());
}

TEST(WavWriter, HeaderNeverClaimsMoreThanTheFileHolds)
{
    std::string path = tempPath("wavwriter-claim.wav");
    WavWriter w;
    ASSERT_TRUE(w.attach(std::fopen(path.c_str(), "wb"), 48000));
    std::vector<int16_t> block(2 * 480, 7);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(w.append(block.data(), 480));
        if (i % 3 == 0) {
            ASSERT_TRUE(w.updateHeader());
        }
        // What a reader sees at any moment, as if the process died right now.
        std::vector<uint8_t> v = readAll(path);
        ASSERT_GE(v.size(), 44u);
        EXPECT_LE(le32(v, 40), v.size() - 44) << "after block " << i;
        EXPECT_EQ(le32(v, 40) % 4, 0u);
    }
    w.close();
    EXPECT_EQ(le32(readAll(path), 40), 20u * 480 * 4);
    std::remove(path.c_str());
}

TEST(WavWriter, NoFileNoWrites)
{
    WavWriter w;
    EXPECT_FALSE(w.attach(nullptr, 48000));
    int16_t f[2] = {};
    EXPECT_FALSE(w.append(f, 1));
    EXPECT_FALSE(w.updateHeader());
}
