#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "diag/CrashText.h"
#include "diag/LogText.h"
#include "diag/TextBuffer.h"

using namespace PomaroApp;

namespace {

constexpr std::uint64_t kMax = ~std::uint64_t(0);

// One call on a buffer and what it leaves: 'r' Reserve(n), 's' Assign(text), 'x' AppendRepeated('-', n),
// 't' Assign(own text + n), 'u' Append(own text + n), 'f' Reserve(n) on a block full of '#' without a
// terminator (what an overlong code-page conversion leaves). block 0: the same block as before.
struct Step
{
    char op;
    std::uint64_t n;
    const wchar_t* text;
    bool result;
    std::uint64_t capacity, block;
    const wchar_t* after;
};

const std::vector<std::vector<Step>> kSequences = {
    // The first block is 1024; above the recorded capacity a new block doubles from it, keeping what fits
    // the old room.
    {{'r', 1, nullptr, true, 1, 1024, L""},
     {'r', 1, nullptr, true, 1, 0, L""},
     {'r', 5, nullptr, true, 5, 8, L""},
     {'f', 1500, nullptr, true, 1500, 2560, L"####"}},
    // Appending a piece of its own text survives the block moving.
    {{'s', 0, L"0123456789", true, 11, 11, L"0123456789"},
     {'u', 5, nullptr, true, 16, 22, L"012345678956789"},
     {'x', 4, nullptr, true, 20, 32, L"012345678956789----"}},
    // Assign reallocates, exactly, only when the text does not fit; its own tail is an overlapping copy.
    {{'s', 0, L"hello", true, 6, 6, L"hello"},
     {'s', 0, L"hi", true, 6, 0, L"hi"},
     {'s', 0, L"hello!", true, 7, 7, L"hello!"},
     {'t', 2, nullptr, true, 7, 0, L"llo!"},
     {'s', 0, nullptr, true, 7, 0, L""}},
    // Sizes that overflow fail and keep the text.
    {{'s', 0, L"kept", true, 5, 5, L"kept"},
     {'r', kMax, nullptr, false, 5, 0, L"kept"},
     {'r', kMax / 2 + 3, nullptr, false, 5, 0, L"kept"},
     {'x', kMax / 2, nullptr, false, 5, 0, L"kept"}},
};

TEST(TextBuffer, CallsGrowTheBlockAsTheyNeed)
{
    for (size_t s = 0; s < kSequences.size(); ++s) {
        TextBuffer b;
        for (const Step& step : kSequences[s]) {
            SCOPED_TRACE(::testing::Message() << "sequence " << s << " " << step.op << " " << step.n);
            const wchar_t* before = b.Text();
            const bool result = step.op == 'r'   ? b.Reserve(step.n)
                                : step.op == 's' ? b.Assign(step.text)
                                : step.op == 'x' ? b.AppendRepeated(L'-', step.n)
                                : step.op == 't' ? b.Assign(b.Text() + step.n)
                                : step.op == 'f'
                                    ? (std::fill_n(b.Data(), b.BlockSize(), L'#'), b.Reserve(step.n))
                                    : b.Append(b.Text() + step.n);
            EXPECT_EQ(result, step.result);
            EXPECT_EQ(b.Capacity(), step.capacity);
            EXPECT_EQ(step.block ? b.BlockSize() : 0, step.block);
            EXPECT_TRUE(step.block || b.Text() == before);
            EXPECT_STREQ(b.Text(), step.after);
            b.Data()[b.BlockSize() - 1] = L'\0'; // the whole block is usable memory
        }
    }
}

// Only a CR LF at the end is the system's own line end.
TEST(LogText, SystemMessagesLoseTheirLineEnd)
{
    for (const auto& [message, kept] : {std::pair{L"Access denied.\r\n", 14u}, std::pair{L"x\n", 2u},
                                        std::pair{L"\r\n", 0u}, std::pair{L"x", 1u}})
        EXPECT_EQ(LogText::trimmedMessageLength(message, std::wcslen(message)), kept) << message;
}

// A record holds fifteen parameters, whatever its count says.
TEST(CrashText, ACorruptParameterCountPrintsTheFifteenARecordHolds)
{
    std::uintptr_t sixteen[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 14, 15};
    TextBuffer out;
    ASSERT_TRUE(CrashText::formatExceptionReport(out, {0xC0000094u, 0, 0, 16, sixteen}));
    EXPECT_EQ(std::wstring(out.Text()).substr(out.Length() - 10), L"0 0000000E") << out.Text();
}

} // namespace
