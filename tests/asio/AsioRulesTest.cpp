// The ASIO layer's driver-free rules: registry text into fixed fields, power-of-two
// buffer sizes, and the answers to the driver's messages.
#include "audio/AsioRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Kelvane;

namespace {

std::vector<unsigned char> utf16(const std::u16string& s, bool terminator)
{
    std::vector<unsigned char> bytes;
    for (char16_t c : s) {
        bytes.push_back(static_cast<unsigned char>(c & 0xff));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    }
    if (terminator) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

std::u16string copied(const std::vector<unsigned char>& bytes, uint32_t type, size_t outChars,
                      bool* ok = nullptr)
{
    // A guard zone after the field shows any write past it.
    std::vector<char16_t> field(outChars + 8, u'#');
    const bool result = copyRegistryText(bytes.data(), bytes.size(), type, field.data(), outChars);
    if (ok)
        *ok = result;
    for (size_t i = outChars; i < field.size(); ++i)
        EXPECT_EQ(field[i], u'#') << "written past the field at " << i;
    return std::u16string(field.data());
}

} // namespace

TEST(RegistryText, TerminatedTextIsCopiedWhole)
{
    bool ok = false;
    EXPECT_EQ(copied(utf16(u"ASIO Driver", true), kRegistryTextType, 128, &ok), u"ASIO Driver");
    EXPECT_TRUE(ok);
}

TEST(RegistryText, LongTextIsCutToTheFieldAndTerminated)
{
    const std::u16string longText(200, u'x');
    bool ok = false;
    const std::u16string result = copied(utf16(longText, true), kRegistryTextType, 128, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(result.size(), 127u);
}

TEST(RegistryText, ValueWithoutTerminatorEndsAtItsData)
{
    // Text followed by bytes the registry did not return must not be read.
    auto bytes = utf16(u"Name", false);
    const size_t valid = bytes.size();
    auto padded = bytes;
    padded.insert(padded.end(), {'Z', 0, 'Z', 0});
    std::vector<char16_t> field(16, u'#');
    EXPECT_TRUE(copyRegistryText(padded.data(), valid, kRegistryTextType, field.data(), field.size()));
    EXPECT_EQ(std::u16string(field.data()), u"Name");
}

TEST(RegistryText, RefusedValuesLeaveTheFieldEmpty)
{
    bool ok = true;
    EXPECT_EQ(copied(utf16(u"1234", true), 3 /* binary */, 16, &ok), u"");
    EXPECT_FALSE(ok);
    EXPECT_EQ(copied(utf16(u"1234", true), 4 /* dword */, 16, &ok), u"");
    EXPECT_FALSE(ok);
    EXPECT_EQ(copied(utf16(u"", true), kRegistryTextType, 16, &ok), u"");
    EXPECT_FALSE(ok);
    EXPECT_EQ(copied({}, kRegistryTextType, 16, &ok), u"");
    EXPECT_FALSE(ok);
    char16_t none[1] = {u'#'};
    EXPECT_FALSE(copyRegistryText(nullptr, 10, kRegistryTextType, none, 1));
    EXPECT_EQ(none[0], 0);
    EXPECT_FALSE(copyRegistryText(nullptr, 0, kRegistryTextType, static_cast<char16_t*>(nullptr), 4));
}

TEST(RegistryText, OddByteCountDropsTheHalfUnit)
{
    auto bytes = utf16(u"ab", false);
    bytes.push_back('c');
    EXPECT_EQ(copied(bytes, kRegistryTextType, 8), u"ab");
}

TEST(RegistryText, OneCharacterFieldHoldsOnlyTheTerminator)
{
    bool ok = true;
    EXPECT_EQ(copied(utf16(u"abc", true), kRegistryTextType, 1, &ok), u"");
    EXPECT_FALSE(ok);
}

TEST(PowerOfTwoFrames, RoundsUpWithinTheRange)
{
    EXPECT_EQ(asioPowerOfTwoFrames(480, 64, 2048), 512); // the 10 ms floor at 48 kHz
    EXPECT_EQ(asioPowerOfTwoFrames(441, 64, 2048), 512);
    EXPECT_EQ(asioPowerOfTwoFrames(256, 64, 2048), 256); // already a power
    EXPECT_EQ(asioPowerOfTwoFrames(960, 64, 2048), 1024);
    EXPECT_EQ(asioPowerOfTwoFrames(1, 64, 2048), 64);  // below the minimum
    EXPECT_EQ(asioPowerOfTwoFrames(20, 48, 2048), 64); // minimum itself no power
}

TEST(PowerOfTwoFrames, AboveTheRangeTakesTheLargestAllowed)
{
    EXPECT_EQ(asioPowerOfTwoFrames(5000, 64, 2048), 2048);
    EXPECT_EQ(asioPowerOfTwoFrames(5000, 64, 3000), 2048);
    EXPECT_EQ(asioPowerOfTwoFrames(1500, 64, 1500), 1024);
    EXPECT_EQ(asioPowerOfTwoFrames(0x7fffffff, 1, 0x7fffffff), 0x40000000);
}

TEST(PowerOfTwoFrames, RangeWithoutPowerGivesTheMinimum)
{
    EXPECT_EQ(asioPowerOfTwoFrames(480, 300, 500), 300);
    EXPECT_EQ(asioPowerOfTwoFrames(480, 500, 300), 500); // inverted range
}

TEST(AsioMessages, SelectorSupportedAnswersExactlyTheHandledSelectors)
{
    for (long value = -1; value <= 10; ++value) {
        const bool handled = value == 2 || value == 3 || value == 4 || value == 7 || value == 8;
        const AsioMessageAnswer a = asioMessageAnswer(1, value, true, 512);
        EXPECT_EQ(a.answer, handled ? 1 : 0) << value;
        EXPECT_FALSE(a.requestReset);
    }
}

TEST(AsioMessages, ResetRequestIsAnsweredAlsoWithoutDevice)
{
    EXPECT_EQ(asioMessageAnswer(3, 0, true, 512).answer, 1);
    EXPECT_TRUE(asioMessageAnswer(3, 0, true, 512).requestReset);
    EXPECT_EQ(asioMessageAnswer(3, 0, false, 0).answer, 1);
    EXPECT_FALSE(asioMessageAnswer(3, 0, false, 0).requestReset);
}

TEST(AsioMessages, BufferSizeChangeRestartsOnlyForAnotherSize)
{
    EXPECT_FALSE(asioMessageAnswer(4, 512, true, 512).requestReset);
    EXPECT_TRUE(asioMessageAnswer(4, 256, true, 512).requestReset);
    EXPECT_FALSE(asioMessageAnswer(4, 256, false, 0).requestReset);
    EXPECT_EQ(asioMessageAnswer(4, 256, true, 512).answer, 0);
    EXPECT_EQ(asioMessageAnswer(4, 512, true, 512).answer, 0);
}

TEST(AsioMessages, OtherSelectorsAnswerZeroAndAskNothing)
{
    EXPECT_EQ(asioMessageAnswer(2, 0, false, 0).answer, 2);
    for (long selector : {0L, 5L, 6L, 7L, 8L, 9L, 1000L, -3L}) {
        EXPECT_EQ(asioMessageAnswer(selector, 3, true, 512).answer, 0) << selector;
        EXPECT_FALSE(asioMessageAnswer(selector, 3, true, 512).requestReset) << selector;
    }
}
