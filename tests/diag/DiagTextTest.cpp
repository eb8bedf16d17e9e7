#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "diag/CrashText.h"
#include "diag/LogText.h"
#include "diag/TextBuffer.h"

using namespace PomaroApp;

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
const std::wstring kLong(5000, L'q');

// One call on a buffer and what it leaves: 'r' Reserve(n), 'a' Append(text), 's' Assign(text),
// 'x' AppendRepeated('-', n), 't' Assign(own text + n), 'u' Append(own text + n).
// block 0: the same block as before the call; after null: no block at all.
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
    // The first block is 1024; above the recorded capacity a new block doubles from it.
    {{'r', 1, nullptr, true, 1, 1024, L""},
     {'r', 1, nullptr, true, 1, 0, L""},
     {'r', 5, nullptr, true, 5, 8, L""},
     {'r', 1500, nullptr, true, 1500, 2560, L""}},
    // Append grows by length plus one, also from its own text, which moves.
    {{'a', 0, L"ab", true, 3, 1024, L"ab"},
     {'a', 0, kLong.c_str(), true, 5003, 6144, nullptr},
     {'s', 0, L"0123456789", true, 5003, 0, L"0123456789"}},
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
                                : step.op == 'a' ? b.Append(step.text)
                                : step.op == 's' ? b.Assign(step.text)
                                : step.op == 'x' ? b.AppendRepeated(L'-', step.n)
                                : step.op == 't' ? b.Assign(b.Text() + step.n)
                                                 : b.Append(b.Text() + step.n);
            EXPECT_EQ(result, step.result);
            EXPECT_EQ(b.Capacity(), step.capacity);
            if (step.block)
                EXPECT_EQ(b.BlockSize(), step.block);
            else
                EXPECT_EQ(b.Text(), before);
            EXPECT_EQ(std::wstring(b.Text()), step.after ? step.after : L"ab" + kLong);
            b.Data()[b.BlockSize() - 1] = L'\0'; // the whole block is usable memory
        }
    }
    EXPECT_EQ(textBlockBytes(kMax, sizeof(wchar_t)), std::numeric_limits<std::size_t>::max());

    // A code-page conversion that runs out of room fills the buffer without a terminator; the
    // rest of the block is not zero. Growing keeps what fits the old room, never reading past it.
    TextBuffer full(8);
    for (std::uint64_t i = 0; i < full.BlockSize(); ++i)
        full.Data()[i] = L'#';
    ASSERT_TRUE(full.Reserve(3001));
    EXPECT_EQ(std::wstring(full.Text()), L"#######");
}

TEST(LogText, StampsFileNamesLinesAndSystemTexts)
{
    wchar_t stamp[16], text[LogText::kInfoLineSize], small[10];
    ASSERT_TRUE(LogText::formatStamp(stamp, 9, 5, 7, 42));
    EXPECT_STREQ(stamp, L"09:05:07.042 ");
    for (const auto& [counter, name] :
         {std::pair{1, L"PomaroApp.log"}, std::pair{98, L"PomaroApp(98).log"}}) {
        ASSERT_TRUE(LogText::formatLogFileName(text, 260, counter));
        EXPECT_STREQ(text, name);
    }
    ASSERT_TRUE(LogText::format(text, LogText::kInfoLineSize, LogText::kModuleVersionFormat, 0u, 4u, 0u, 0u));
    EXPECT_STREQ(text, L"Module version   : 0.04.0.0000");
    // Text that does not fit is a failure, never a cut text.
    EXPECT_FALSE(LogText::formatLogFileName(small, 10, 1));
    EXPECT_STREQ(small, L"");
    for (const auto& [message, kept] : {std::pair{L"Access denied.\r\n", 14u}, std::pair{L"x\n", 2u},
                                        std::pair{L"\r\n", 0u}, std::pair{L"x", 1u}})
        EXPECT_EQ(LogText::trimmedMessageLength(message, std::wcslen(message)), kept) << message;
}

TEST(CrashText, ExceptionReportsAndTheFatalMessage)
{
    std::uintptr_t many[20];
    for (std::uintptr_t i = 0; i < 20; ++i)
        many[i] = i;
    many[0] = static_cast<std::uintptr_t>(0x1234567890ABCDEFull & UINTPTR_MAX); // low 32 bits only
    const std::uintptr_t two[] = {0, 0x10};
    const wchar_t* fifteen =
        L"Divide by Zero (Integer) : code=C0000094, flag=0, adr=0000000000000000, param= 90ABCDEF 00000001"
        L" 00000002 00000003 00000004 00000005 00000006 00000007 00000008 00000009 0000000A 0000000B"
        L" 0000000C 0000000D 0000000E";
    const std::pair<CrashText::ExceptionFacts, const wchar_t*> cases[] = {
        {{0xC0000005u, 0, 0x1400015F5u, 2, two},
         L"Access Violation : code=C0000005, flag=0, adr=00000001400015F5, param= 00000000 00000010"},
        {{0xE0ABCDEFu, 1, 0x7B013D7Eu, 0, nullptr},
         L"Unknown Exception : code=E0ABCDEF, flag=1, adr=000000007B013D7E"},
        {{0xC0000094u, 0, 0, 16, many}, fifteen}, // a corrupt count: a record holds at most fifteen
    };
    TextBuffer out;
    for (const auto& [facts, report] : cases) {
        ASSERT_TRUE(CrashText::formatExceptionReport(out, facts));
        EXPECT_STREQ(out.Text(), report);
    }
    for (const wchar_t* what : {L"disk full", static_cast<const wchar_t*>(nullptr)}) {
        ASSERT_TRUE(CrashText::composeFatalMessage(out, what));
        EXPECT_EQ(std::wstring(out.Text()),
                  L"Sorry, this application encountered fatal error.\n\n" + std::wstring(what ? what : L""));
    }
}

} // namespace
