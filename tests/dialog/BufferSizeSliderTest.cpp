// Which sizes the settings dialog's trackbar positions stand for.
#include "audio/BufferSizeSlider.h"

#include "audio/AudioTypes.h"

#include <gtest/gtest.h>

#include <climits>

using namespace Kelvane;

TEST(BufferSizeSlider, StepsLastPositionsAndSizes)
{
    // granularity as the driver reports it, step and last as derived from it, a position and
    // its size, a size and the position it shows at.
    const struct
    {
        int32_t minFrames, maxFrames, granularity, step, last, position, size, shown, shownAt;
    } cases[] = {
        {64, 1024, 32, 32, 30, 6, 256, 256, 6},
        {64, 1024, 32, 32, 30, 30, 1024, 0, -2},  // a size in use below the minimum: before the first
        {100, 1000, 64, 64, 14, 14, 996, 100, 0}, // a range no multiple of the step ends on a whole step
        {64, 1024, 32, 32, 30, -5, 64, 64, 0},    // positions outside the trackbar count as its ends
        {64, 576, 0, 64, 8, 8, 576, 256, 3},      // any size: eight steps of an eighth
        {64, 71, 0, 1, 7, 7, 71, 64, 0},          // of at least one frame
        {1024, 64, 0, 1, 0, 0, 1024, 1024, 0},    // a maximum below the minimum is no "powers of two" step
        {64, 1024, -1, -1, 4, 99, 1024, 300, 2},  // powers of two: between two, the lower one shows
        {64, 1024, -1, -1, 4, -1, 64, 32, 0},
        {64, 1024, -1, -1, 4, 3, 512, 8192, 4},
        {48, 1000, -8, -8, 3, 0, 64, 512, 3},  // neither end a power; other negative granularities alike
        {100, 120, -1, -1, 0, 3, 100, 110, 0}, // a range without a power of two offers its minimum only
        // Extremes stay within integers.
        {INT32_MIN, INT32_MAX, 1, 1, INT32_MAX, 0, INT32_MIN, INT32_MAX, INT32_MAX},
        {INT32_MIN, INT32_MAX, 0, 536870911, 8, 8, INT32_MAX - 7, INT32_MIN, 0},
        {INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, 2, INT32_MAX, INT32_MAX - 1, INT32_MAX, 2},
        {1, INT32_MAX, -1, -1, 30, 30, 1 << 30, 1 << 30, 30},
        {INT32_MAX, INT32_MAX, -1, -1, 0, 0, INT32_MAX, INT32_MAX, 0}, // 2^31 is out of reach
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.minFrames << ".." << c.maxFrames << " granularity " << c.granularity);
        EXPECT_EQ(bufferSizeStep(c.minFrames, c.maxFrames, c.granularity), c.step);
        EXPECT_EQ(bufferSizeLastPosition(c.minFrames, c.maxFrames, c.step), c.last);
        EXPECT_EQ(bufferSizeAt(c.position, c.minFrames, c.maxFrames, c.step), c.size) << c.position;
        EXPECT_EQ(bufferSizePosition(c.shown, c.minFrames, c.maxFrames, c.step), c.shownAt) << c.shown;
    }
    EXPECT_EQ(currentDriverText(DriverAsio, nullptr), L"ASIOドライバ：");
    EXPECT_EQ(currentDriverText(7, L"x"), L"（なし）");
    EXPECT_EQ(currentDriverText(DriverWasapi, std::wstring(400, L'n').c_str()),
              L"Windowsドライバ：" + std::wstring(255 - 12, L'n'));
}
