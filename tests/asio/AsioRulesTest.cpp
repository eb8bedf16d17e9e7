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
        std::u16string text, expected;
        bool terminated, ok;
        int valid;
        uint32_t type;
        size_t field;
    } cases[] = {
        {u"ASIO Driver", u"ASIO Driver", true, true, -1, kRegistryTextType, 128},
        {std::u16string(200, u'x'), std::u16string(127, u'x'), true, true, -1, kRegistryTextType, 128},
        {u"NameZZ", u"Name", false, true, 8, kRegistryTextType, 16}, // no terminator: ends at the data
        {u"abc", u"ab", false, true, 5, kRegistryTextType, 8},       // an odd byte count drops the half unit
        {u"1234", u"", true, false, -1, 3 /* binary */, 16},
        {u"", u"", true, false, -1, kRegistryTextType, 16},
        {u"", u"", false, false, -1, kRegistryTextType, 16},
        {u"abc", u"", true, false, -1, kRegistryTextType, 1}, // room for the terminator only
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> bytes;
        for (char16_t ch : c.text + (c.terminated ? std::u16string(1, u'\0') : u""))
            bytes.insert(bytes.end(),
                         {static_cast<unsigned char>(ch & 0xff), static_cast<unsigned char>(ch >> 8)});
        const size_t valid = c.valid < 0 ? bytes.size() : size_t(c.valid);
        std::vector<char16_t> field(c.field + 8, u'#'); // a guard zone shows any write past it
        EXPECT_EQ(copyRegistryText(bytes.data(), valid, c.type, field.data(), c.field), c.ok);
        EXPECT_EQ(std::u16string(field.data()), c.expected);
        EXPECT_EQ(std::u16string(field.begin() + c.field, field.end()), std::u16string(8, u'#'));
    }
    char16_t none[1] = {u'#'};
    EXPECT_FALSE(copyRegistryText(nullptr, 10, kRegistryTextType, none, 1));
    EXPECT_EQ(none[0], 0);
    EXPECT_FALSE(copyRegistryText(nullptr, 0, kRegistryTextType, static_cast<char16_t*>(nullptr), 4));
}

TEST(PowerOfTwoFrames, NextPowerUpWithinTheRange)
{
    // Requests inside a range with powers to spare are the buffer-size choice's cases.
    const struct
    {
        long frames, minimum, maximum, expected;
    } cases[] = {{1, 48, 2048, 64},
                 {1500, 64, 1500, 1024},
                 {0x7fffffff, 1, 0x7fffffff, 0x40000000},
                 {480, 300, 500, 300},  // no power in the range: the minimum
                 {480, 500, 300, 500}}; // inverted range
    for (const auto& c : cases)
        EXPECT_EQ(asioPowerOfTwoFrames(c.frames, c.minimum, c.maximum), c.expected)
            << c.frames << " in " << c.minimum << ".." << c.maximum;
}

TEST(AsioMessages, AnswersAndRestartRequests)
{
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
        {1, 3, true, 512, 1, false},   // selector supported: a reset is not asked for
        {0, 3, true, 512, 0, false},    {7, 3, true, 512, 0, false},  {5, 3, true, 512, 0, false},
        {1000, 3, true, 512, 0, false}, {-3, 3, true, 512, 0, false}, // everything else: 0, nothing asked
    };
    for (const auto& c : cases) {
        const AsioMessageAnswer a = asioMessageAnswer(c.selector, c.value, c.prepared, c.frames);
        EXPECT_EQ(a.answer, c.answer) << c.selector << "/" << c.value;
        EXPECT_EQ(a.requestReset, c.reset) << c.selector << "/" << c.value;
    }
    for (long value = -1; value <= 10; ++value) // supported: exactly the selectors handled
        EXPECT_EQ(asioMessageAnswer(1, value, true, 512).answer,
                  value == 2 || value == 3 || value == 4 || value == 7 || value == 8 ? 1 : 0)
            << value;
}
