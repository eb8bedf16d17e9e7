// The ASIO layer's driver-free rules: registry text into fixed fields, power-of-two
// buffer sizes, and the answers to the driver's messages.
#include "audio/AsioRules.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace Kelvane;

TEST(RegistryText, CopiesWhatFitsAndNeverWritesPastTheField)
{
    // The value as the registry holds it (UTF-16LE, the terminator if terminated), how many of its bytes
    // the registry returned (-1: all), its type, the field's characters of room, what it holds after.
    const std::tuple<std::u16string, bool, int, uint32_t, size_t, bool, std::u16string> cases[] = {
        {u"ASIO Driver", true, -1, kRegistryTextType, 128, true, u"ASIO Driver"},
        {std::u16string(200, u'x'), true, -1, kRegistryTextType, 128, true, std::u16string(127, u'x')},
        {u"NameZZ", false, 8, kRegistryTextType, 16, true, u"Name"}, // no terminator: ends at the data
        {u"abc", false, 5, kRegistryTextType, 8, true, u"ab"},       // an odd byte count drops the half unit
        {u"1234", true, -1, 3 /* binary */, 16, false, u""},
        {u"", true, -1, kRegistryTextType, 16, false, u""},
        {u"abc", true, -1, kRegistryTextType, 1, false, u""}, // room for the terminator only
    };
    for (const auto& [text, terminated, valid, type, room, ok, expected] : cases) {
        const std::u16string data = text + (terminated ? std::u16string(1, u'\0') : u"");
        std::vector<char16_t> field(room + 8, u'#'); // a guard zone shows any write past it
        const size_t bytes = valid < 0 ? data.size() * 2 : size_t(valid);
        EXPECT_EQ(copyRegistryText(data.data(), bytes, type, field.data(), room), ok);
        EXPECT_EQ(std::u16string(field.data()), expected);
        EXPECT_EQ(std::u16string(field.begin() + room, field.end()), std::u16string(8, u'#'));
    }
}

TEST(PowerOfTwoFrames, NextPowerUpWithinTheRange)
{
    // Requested, minimum, maximum, expected; a range with powers to spare is the buffer-size choice's case.
    const long cases[][4] = {{1, 48, 2048, 64},
                             {1500, 64, 1500, 1024},
                             {0x7fffffff, 1, 0x7fffffff, 0x40000000},
                             {480, 300, 500, 300},  // no power in the range: the minimum
                             {480, 500, 300, 500}}; // inverted range
    for (const auto& [frames, minimum, maximum, expected] : cases)
        EXPECT_EQ(asioPowerOfTwoFrames(frames, minimum, maximum), expected) << frames << " in " << minimum;
}

TEST(AsioMessages, AnswersAndRestartRequests)
{
    // Selector, value, whether a device is prepared and its buffer size; the answer, whether a reset is asked.
    // Selectors not handled answer 0 and ask for nothing.
    const std::tuple<long, long, bool, long, long, bool> cases[] = {
        {3, 0, true, 512, 1, true},    // reset request
        {3, 0, false, 0, 1, false},    // answered also without a device, but nothing to reset
        {4, 512, true, 512, 0, false}, // buffer size change to the current size
        {4, 256, true, 512, 0, true},  // to another size: restart
        {4, 256, false, 0, 0, false},  //
        {2, 0, false, 0, 2, false},    // engine version
        {1, 3, true, 512, 1, false},   // selector supported: a reset is not asked for
        {0, 3, true, 512, 0, false},   {7, 3, true, 512, 0, false}, {1000, 3, true, 512, 0, false},
    };
    for (const auto& [selector, value, prepared, frames, answer, reset] : cases) {
        const AsioMessageAnswer a = asioMessageAnswer(selector, value, prepared, frames);
        EXPECT_EQ(std::make_pair(a.answer, a.requestReset), std::make_pair(answer, reset))
            << selector << "/" << value;
    }
    for (long value = -1; value <= 10; ++value) // supported: exactly the selectors handled
        EXPECT_EQ(asioMessageAnswer(1, value, true, 512).answer,
                  value == 2 || value == 3 || value == 4 || value == 7 || value == 8 ? 1 : 0)
            << value;
}
