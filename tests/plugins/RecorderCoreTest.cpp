// The recorder's platform-free pieces: the allocation-free line formatter, the
// lock-free record ring and the sine voice.
#include "plugins/recorder/LineWriter.h"
#include "plugins/recorder/SineVoice.h"
#include "plugins/recorder/SlotRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

using Recorder::LineWriter;
using Recorder::SineVoice;
using Recorder::SlotRing;

namespace {

std::string num(double v)
{
    char buf[64];
    LineWriter w(buf, sizeof(buf));
    w.number(v);
    return w.data();
}

} // namespace

TEST(LineWriter, NumbersAreShortAndExact)
{
    EXPECT_EQ(num(0.0), "0");
    EXPECT_EQ(num(48000.0), "48000");
    EXPECT_EQ(num(0.5), "0.5");
    EXPECT_EQ(num(8192.0 / 16256.0), "0.503937");
    EXPECT_EQ(num(-0.25), "-0.25");
    EXPECT_EQ(num(100.0 / 127.0), "0.787402");
    EXPECT_EQ(num(-1e-9), "0"); // rounds to zero without a stray sign
    EXPECT_EQ(num(0.9999996), "1");
    EXPECT_EQ(num(std::nan("")), "nan");
    EXPECT_EQ(num(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(num(1e13), "big");
}

TEST(LineWriter, IntegersHexAndPairs)
{
    char buf[128];
    LineWriter w(buf, sizeof(buf));
    w.integer(std::numeric_limits<int64_t>::min()).ch(' ').integer(0).ch(' ').hex(0x80004002u);
    w.kvInt("n", -7).kv("type", "HWND").kvNum("v", 0.75);
    EXPECT_STREQ(w.data(), "-9223372036854775808 0 0x80004002 n=-7 type=HWND v=0.75");
    EXPECT_FALSE(w.truncated());
}

TEST(LineWriter, ExternalTextCannotSplitAField)
{
    char buf[128];
    LineWriter w(buf, sizeof(buf));
    w.kv("name", "My Host 100%\t\x7f").kv("jp", "\xe9\x9f\xb3");
    EXPECT_STREQ(w.data(), " name=My%20Host%20100%25%09%7F jp=\xe9\x9f\xb3");
}

TEST(LineWriter, CutsAtCapacityAndSaysSo)
{
    char buf[8];
    std::memset(buf, 'x', sizeof(buf));
    LineWriter w(buf, sizeof(buf));
    w.text("abcdefghij");
    EXPECT_STREQ(w.data(), "abcdefg");
    EXPECT_EQ(w.size(), 7u);
    EXPECT_TRUE(w.truncated());
    w.integer(123456);
    EXPECT_STREQ(w.data(), "abcdefg");
}

TEST(SlotRing, KeepsOrderRejectsWhenFullAndWraps)
{
    SlotRing<4, 16> ring;
    auto pushText = [&](const char* s) {
        return ring.push([&](char* text, size_t cap) {
            size_t n = std::strlen(s);
            n = n < cap ? n : cap;
            std::memcpy(text, s, n);
            return n;
        });
    };
    std::vector<std::string> got;
    auto sink = [&](const char* t, size_t n) { got.emplace_back(t, n); };

    for (int round = 0; round < 3; ++round) {
        got.clear();
        EXPECT_TRUE(pushText("a"));
        EXPECT_TRUE(pushText("b"));
        EXPECT_TRUE(pushText("c"));
        EXPECT_TRUE(pushText("d"));
        EXPECT_FALSE(pushText("e")) << "a full ring must refuse, not overwrite";
        EXPECT_EQ(ring.drain(sink), 4u);
        EXPECT_EQ(got, (std::vector<std::string>{"a", "b", "c", "d"}));
        EXPECT_EQ(ring.drain(sink), 0u);
    }
    // A record longer than a slot is cut to the slot.
    EXPECT_TRUE(pushText("0123456789abcdefXYZ"));
    got.clear();
    ring.drain(sink);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "0123456789abcdef");
}

TEST(SlotRing, ConcurrentProducersLoseNothingAndKeepTheirOrder)
{
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 20000;
    static SlotRing<64, 32> ring;
    std::atomic<int> refused{0};
    std::atomic<bool> producing{true};
    std::vector<int> next(kProducers, 0);
    int received = 0;
    bool inOrder = true;
    auto sink = [&](const char* t, size_t n) {
        std::string s(t, n);
        int p = s[0] - '0';
        int i = std::stoi(s.substr(2));
        inOrder = inOrder && p >= 0 && p < kProducers && i == next[size_t(p)];
        if (p >= 0 && p < kProducers)
            next[size_t(p)] = i + 1;
        ++received;
    };
    std::thread consumer([&] {
        while (producing.load(std::memory_order_acquire))
            ring.drain(sink);
        ring.drain(sink);
    });
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                const std::string s = std::to_string(p) + ":" + std::to_string(i);
                while (!ring.push([&](char* text, size_t) {
                    std::memcpy(text, s.data(), s.size());
                    return s.size();
                })) {
                    refused.fetch_add(1, std::memory_order_relaxed);
                    std::this_thread::yield();
                }
            }
        });
    for (auto& t : producers)
        t.join();
    producing.store(false, std::memory_order_release);
    consumer.join();
    EXPECT_EQ(received, kProducers * kPerProducer);
    EXPECT_TRUE(inOrder);
}

namespace {

struct Rendered
{
    std::vector<float> left, right;
};

Rendered render(SineVoice& v, int frames, float level)
{
    Rendered r{std::vector<float>(size_t(frames), 9.f), std::vector<float>(size_t(frames), 9.f)};
    v.render(r.left.data(), r.right.data(), frames, level);
    return r;
}

float peak(const std::vector<float>& x)
{
    float p = 0;
    for (float s : x)
        p = std::fmax(p, std::fabs(s));
    return p;
}

} // namespace

TEST(SineVoice, PlaysThePitchAtVelocityTimesLevel)
{
    SineVoice v;
    v.setSampleRate(48000);
    v.noteOn(69, 0.8f);
    Rendered r = render(v, 48000, 0.5f);
    EXPECT_NEAR(peak(r.left), 0.4f, 1e-3f);
    EXPECT_EQ(r.left, r.right);
    int crossings = 0;
    for (size_t i = 1; i < r.left.size(); ++i)
        crossings += (r.left[i - 1] < 0) != (r.left[i] < 0);
    EXPECT_NEAR(crossings, 880, 2); // 440 Hz for one second
    // An octave up doubles the frequency.
    v.noteOn(81, 1.f);
    r = render(v, 4800, 1.f);
    crossings = 0;
    for (size_t i = 1; i < r.left.size(); ++i)
        crossings += (r.left[i - 1] < 0) != (r.left[i] < 0);
    EXPECT_NEAR(crossings, 176, 2);
}

TEST(SineVoice, SilentUntilNoteOnAndAfterItsNoteOff)
{
    SineVoice v;
    v.setSampleRate(44100);
    EXPECT_EQ(peak(render(v, 256, 1.f).left), 0.f) << "idle writes silence over whatever was there";
    v.noteOn(60, 1.f);
    v.noteOff(61); // another key's release leaves the note alone
    EXPECT_GT(peak(render(v, 256, 1.f).left), 0.5f);
    v.noteOff(60);
    EXPECT_FALSE(v.active());
    EXPECT_EQ(peak(render(v, 256, 1.f).left), 0.f);
}

TEST(SineVoice, StopsByItselfAfterTheLengthCap)
{
    SineVoice v;
    v.setSampleRate(1000);
    v.noteOn(69, 1.f);
    const int cap = int(SineVoice::kMaxSeconds * 1000);
    Rendered r = render(v, cap + 10, 1.f);
    EXPECT_FALSE(v.active());
    EXPECT_GT(peak(std::vector<float>(r.left.begin(), r.left.begin() + cap)), 0.9f);
    EXPECT_EQ(peak(std::vector<float>(r.left.begin() + cap, r.left.end())), 0.f);
}
