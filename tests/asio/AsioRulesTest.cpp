// The ASIO layer's driver-free rules: registry text into fixed fields, power-of-two
// buffer sizes, and the answers to the driver's messages.
#include "audio/AsioRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Kelvane;

TEST(RegistryText, CopiesWhatFitsAndNeverWritesPastTheField)
{
    // text: the value as UTF-16LE, with a terminator if terminated; valid: how many of
    // its bytes the registry returned (-1: all); field: the characters of room.
    const struct
    {
        std::u16string text;
        bool terminated;
        int valid;
        uint32_t type;
        size_t field;
        std::u16string expected;
        bool ok;
    } cases[] = {
        {u"ASIO Driver", true, -1, kRegistryTextType, 128, u"ASIO Driver", true},
        {std::u16string(200, u'x'), true, -1, kRegistryTextType, 128, std::u16string(127, u'x'), true},
        {u"NameZZ", false, 8, kRegistryTextType, 16, u"Name", true}, // no terminator: ends at the data
        {u"abc", false, 5, kRegistryTextType, 8, u"ab", true},       // an odd byte count drops the half unit
        {u"1234", true, -1, 3 /* binary */, 16, u"", false},
        {u"1234", true, -1, 4 /* dword */, 16, u"", false},
        {u"", true, -1, kRegistryTextType, 16, u"", false},
        {u"", false, -1, kRegistryTextType, 16, u"", false},
        {u"abc", true, -1, kRegistryTextType, 1, u"", false}, // room for the terminator only
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> bytes;
        for (char16_t ch : c.text + (c.terminated ? std::u16string(1, u'\0') : u"")) {
            bytes.push_back(static_cast<unsigned char>(ch & 0xff));
            bytes.push_back(static_cast<unsigned char>(ch >> 8));
        }
        const size_t valid = c.valid < 0 ? bytes.size() : size_t(c.valid);
        std::vector<char16_t> field(c.field + 8, u'#'); // a guard zone shows any write past it
        EXPECT_EQ(copyRegistryText(bytes.data(), valid, c.type, field.data(), c.field), c.ok);
        EXPECT_EQ(std::u16string(field.data()), c.expected);
        for (size_t i = c.field; i < field.size(); ++i)
            EXPECT_EQ(field[i], u'#') << "written past the field at " << i;
    }
    char16_t none[1] = {u'#'};
    EXPECT_FALSE(copyRegistryText(nullptr, 10, kRegistryTextType, none, 1));
    EXPECT_EQ(none[0], 0);
    EXPECT_FALSE(copyRegistryText(nullptr, 0, kRegistryTextType, static_cast<char16_t*>(nullptr), 4));
}

TEST(PowerOfTwoFrames, NextPowerUpWithinTheRange)
{
    const struct
    {
        long frames, minimum, maximum, expected;
    } cases[] = {
        {480, 64, 2048, 512},                           // the 10 ms floor at 48 kHz
        {441, 64, 2048, 512},   {256, 64, 2048, 256},   // already a power
        {960, 64, 2048, 1024},                          //
        {1, 64, 2048, 64},                              // below the minimum
        {20, 48, 2048, 64},                             // the minimum itself no power
        {5000, 64, 2048, 2048}, {5000, 64, 3000, 2048}, // above the range: the largest power allowed
        {1500, 64, 1500, 1024}, {0x7fffffff, 1, 0x7fffffff, 0x40000000},
        {480, 300, 500, 300}, // no power in the range: the minimum
        {480, 500, 300, 500}, // inverted range
    };
    for (const auto& c : cases)
        EXPECT_EQ(asioPowerOfTwoFrames(c.frames, c.minimum, c.maximum), c.expected)
            << c.frames << " in " << c.minimum << ".." << c.maximum;
}

TEST(AsioMessages, AnswersAndRestartRequests)
{
    // selectorSupported (1) answers 1 for exactly the handled selectors, and asks nothing.
    for (long value = -1; value <= 10; ++value) {
        const AsioMessageAnswer a = asioMessageAnswer(1, value, true, 512);
        EXPECT_EQ(a.answer, value == 2 || value == 3 || value == 4 || value == 7 || value == 8 ? 1 : 0)
            << value;
        EXPECT_FALSE(a.requestReset);
    }
    const struct
    {
        long selector, value;
        bool prepared;
        long frames, answer;
        bool reset;
    } cases[] = {
        {3, 0, true, 512, 1, true},    // reset request
        {3, 0, false, 0, 1, false},    // answered also without a device, but nothing to reset
        {4, 512, true, 512, 0, false}, // buffer size change to the current size
        {4, 256, true, 512, 0, true},  // to another size: restart
        {4, 256, false, 0, 0, false},  //
        {2, 0, false, 0, 2, false},    // engine version
        {0, 3, true, 512, 0, false},    {5, 3, true, 512, 0, false},  {6, 3, true, 512, 0, false},
        {7, 3, true, 512, 0, false},    {8, 3, true, 512, 0, false},  {9, 3, true, 512, 0, false},
        {1000, 3, true, 512, 0, false}, {-3, 3, true, 512, 0, false}, // everything else: 0, nothing asked
    };
    for (const auto& c : cases) {
        const AsioMessageAnswer a = asioMessageAnswer(c.selector, c.value, c.prepared, c.frames);
        EXPECT_EQ(a.answer, c.answer) << c.selector << "/" << c.value;
        EXPECT_EQ(a.requestReset, c.reset) << c.selector << "/" << c.value;
    }
}
