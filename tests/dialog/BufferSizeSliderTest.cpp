// Which sizes the settings dialog's trackbar positions stand for.

#include "audio/BufferSizeSlider.h"

#include "audio/AudioTypes.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

using namespace Kelvane;

TEST(BufferSizeSlider, FixedStepRunsFromMinimumToMaximum)
{
    const int32_t step = bufferSizeStep(64, 1024, 32);
    EXPECT_EQ(step, 32);
    EXPECT_EQ(bufferSizeLastPosition(64, 1024, step), 30);
    EXPECT_EQ(bufferSizePosition(256, 64, 1024, step), 6);
    EXPECT_EQ(bufferSizeAt(0, 64, 1024, step), 64);
    EXPECT_EQ(bufferSizeAt(6, 64, 1024, step), 256);
    EXPECT_EQ(bufferSizeAt(30, 64, 1024, step), 1024);
    // A range that is no multiple of the step ends on the last whole step.
    EXPECT_EQ(bufferSizeLastPosition(144, 960, 16 * 3), 17);
    EXPECT_EQ(bufferSizeAt(17, 144, 960, 48), 960);
    EXPECT_EQ(bufferSizeLastPosition(100, 1000, 64), 14);
    EXPECT_EQ(bufferSizeAt(14, 100, 1000, 64), 996);
    // A size in use below the minimum gives a position before the first (the trackbar clamps).
    EXPECT_EQ(bufferSizePosition(0, 64, 1024, 32), -2);
}

TEST(BufferSizeSlider, AnySizeDriverGetsEightStepsOfAtLeastOneFrame)
{
    EXPECT_EQ(bufferSizeStep(64, 576, 0), 64);
    EXPECT_EQ(bufferSizeLastPosition(64, 576, 64), 8);
    EXPECT_EQ(bufferSizeAt(8, 64, 576, 64), 576);
    EXPECT_EQ(bufferSizeStep(64, 71, 0), 1); // an eighth of 7 frames is 0
    EXPECT_EQ(bufferSizeLastPosition(64, 71, 1), 7);
    EXPECT_EQ(bufferSizeStep(64, 100, 0), 4);
    // A maximum below the minimum must not turn into a negative ("powers of two") step.
    EXPECT_EQ(bufferSizeStep(1024, 64, 0), 1);
    EXPECT_EQ(bufferSizeLastPosition(1024, 64, 1), 0);
    EXPECT_EQ(bufferSizeAt(0, 1024, 64, 1), 1024);
}

TEST(BufferSizeSlider, NegativeGranularityOffersEveryPowerOfTwoInRangeAndNothingElse)
{
    struct Case
    {
        int32_t minFrames, maxFrames;
        std::vector<int32_t> sizes;
    };
    const std::vector<Case> cases = {
        {64, 1024, {64, 128, 256, 512, 1024}},
        {48, 1000, {64, 128, 256, 512}}, // neither end a power of two
        {256, 256, {256}},
        {1, 8, {1, 2, 4, 8}},
        {0, 4, {1, 2, 4}},
    };
    for (const Case& c : cases) {
        const int32_t step = bufferSizeStep(c.minFrames, c.maxFrames, -1);
        EXPECT_EQ(step, -1);
        const int32_t last = bufferSizeLastPosition(c.minFrames, c.maxFrames, step);
        std::vector<int32_t> sizes;
        for (int32_t p = 0; p <= last; ++p) {
            sizes.push_back(bufferSizeAt(p, c.minFrames, c.maxFrames, step));
            // Every offered size is shown at its own position.
            EXPECT_EQ(bufferSizePosition(sizes.back(), c.minFrames, c.maxFrames, step), p);
        }
        EXPECT_EQ(sizes, c.sizes) << c.minFrames << ".." << c.maxFrames;
    }
    // A size between two powers shows the lower one; outside the range the nearest end.
    EXPECT_EQ(bufferSizePosition(300, 64, 1024, -1), 2);
    EXPECT_EQ(bufferSizePosition(32, 64, 1024, -1), 0);
    EXPECT_EQ(bufferSizePosition(8192, 64, 1024, -1), 4);
    // Other negative granularities mean the same.
    EXPECT_EQ(bufferSizeLastPosition(64, 1024, -8), 4);
}

TEST(BufferSizeSlider, RangeWithoutPowerOfTwoOffersItsMinimumOnly)
{
    EXPECT_EQ(bufferSizeLastPosition(100, 120, -1), 0);
    EXPECT_EQ(bufferSizeAt(0, 100, 120, -1), 100);
    EXPECT_EQ(bufferSizeAt(3, 100, 120, -1), 100);
    EXPECT_EQ(bufferSizePosition(110, 100, 120, -1), 0);
    EXPECT_EQ(bufferSizeLastPosition(1024, 64, -1), 0); // reversed range
}

TEST(BufferSizeSlider, PositionsOutsideTheTrackbarCountAsItsEnds)
{
    EXPECT_EQ(bufferSizeAt(-5, 64, 1024, 32), 64);
    EXPECT_EQ(bufferSizeAt(31, 64, 1024, 32), 1024);
    EXPECT_EQ(bufferSizeAt(INT32_MAX, 64, 1024, 32), 1024);
    EXPECT_EQ(bufferSizeAt(99, 64, 1024, -1), 1024);
    EXPECT_EQ(bufferSizeAt(-1, 64, 1024, -1), 64);
}

TEST(BufferSizeSlider, ExtremeRangesStayWithinIntegers)
{
    EXPECT_EQ(bufferSizeLastPosition(INT32_MIN, INT32_MAX, 1), INT32_MAX);
    EXPECT_EQ(bufferSizeAt(INT32_MAX, 0, INT32_MAX, 1), INT32_MAX);
    EXPECT_EQ(bufferSizeAt(INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX), INT32_MAX - 1); // 2 whole steps
    EXPECT_EQ(bufferSizePosition(INT32_MAX, INT32_MIN, INT32_MAX, 1), INT32_MAX);
    EXPECT_EQ(bufferSizeStep(INT32_MIN, INT32_MAX, 0), 536870911);
    EXPECT_EQ(bufferSizeLastPosition(1, INT32_MAX, -1), 30);
    EXPECT_EQ(bufferSizeAt(30, 1, INT32_MAX, -1), 1 << 30);
    EXPECT_EQ(bufferSizeLastPosition(INT32_MAX, INT32_MAX, -1), 0); // 2^31 is out of reach
    EXPECT_EQ(bufferSizeAt(0, INT32_MAX, INT32_MAX, -1), INT32_MAX);
}

TEST(BufferSizeSlider, CurrentDriverTexts)
{
    EXPECT_EQ(currentDriverText(DriverWasapi, L"Speakers"), L"Windowsドライバ：Speakers");
    EXPECT_EQ(currentDriverText(DriverAsio, L"Test ASIO"), L"ASIOドライバ：Test ASIO");
    EXPECT_EQ(currentDriverText(DriverAsio, nullptr), L"ASIOドライバ：");
    EXPECT_EQ(currentDriverText(DriverAuto, L"Speakers"), L"（なし）");
    EXPECT_EQ(currentDriverText(7, L"x"), L"（なし）");
    const std::wstring longName(400, L'n');
    const std::wstring text = currentDriverText(DriverWasapi, longName.c_str());
    EXPECT_EQ(text.size(), 255u);
    EXPECT_EQ(text.substr(0, 12), L"Windowsドライバ：");
}
