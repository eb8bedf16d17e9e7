#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "diag/TextBuffer.h"

using namespace PomaroApp;

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// One call on a buffer and what it leaves: 'r' Reserve(n), 'a' Append(text), 's'
// Assign(text), 'x' AppendRepeated('-', n), 't' Assign(its own text + n), 'u'
// Append(its own text + n). block 0: the same block as before the call.
struct Step
{
    char op;
    std::uint64_t n;
    const wchar_t* text;
    bool result;
    std::uint64_t capacity, block;
    const wchar_t* after; // null: no block at all
};

const std::wstring kLong(5000, L'q');

const std::vector<std::vector<Step>> kSequences = {
    // The first block is 1024; above the recorded capacity a new block doubles from it.
    {{'r', 1, nullptr, true, 1, 1024, L""},
     {'r', 0, nullptr, true, 1, 0, L""},
     {'r', 1, nullptr, true, 1, 0, L""},
     {'r', 5, nullptr, true, 5, 8, L""},
     {'r', 1500, nullptr, true, 1500, 2560, L""}},
    // Append grows by length plus one, also from its own text, which moves.
    {{'a', 0, L"", true, 1, 1024, L""},
     {'a', 0, L"ab", true, 3, 4, L"ab"},
     {'a', 0, L"cde", true, 6, 6, L"abcde"},
     {'a', 0, nullptr, true, 6, 0, L"abcde"},
     {'a', 0, kLong.c_str(), true, 5006, 6144, nullptr},
     {'s', 0, L"0123456789", true, 5006, 0, L"0123456789"}},
    {{'s', 0, L"0123456789", true, 11, 11, L"0123456789"},
     {'u', 5, nullptr, true, 16, 22, L"012345678956789"},
     {'u', 0, nullptr, true, 31, 32, L"012345678956789012345678956789"}},
    {{'x', 0, nullptr, true, 1, 1024, L""},
     {'s', 0, L"ab", true, 3, 3, L"ab"},
     {'x', 40, nullptr, true, 43, 48, L"ab----------------------------------------"}},
    // Assign reallocates, exactly, only when the text does not fit; its own tail is an
    // overlapping copy.
    {{'s', 0, L"hello", true, 6, 6, L"hello"},
     {'s', 0, L"hi", true, 6, 0, L"hi"},
     {'s', 0, L"hello!", true, 7, 7, L"hello!"}, // one more than the capacity holds
     {'s', 0, L"longer text", true, 12, 12, L"longer text"},
     {'t', 7, nullptr, true, 12, 0, L"text"},
     {'s', 0, nullptr, true, 12, 0, L""}},
    {{'s', 0, nullptr, true, 0, 0, nullptr}},
    // Sizes that overflow fail and keep the text.
    {{'s', 0, L"kept", true, 5, 5, L"kept"},
     {'r', kMax, nullptr, false, 5, 0, L"kept"},
     {'r', kMax / 2 + 3, nullptr, false, 5, 0, L"kept"},
     {'x', kMax, nullptr, false, 5, 0, L"kept"},
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
            EXPECT_EQ(step.block ? b.BlockSize() : std::uint64_t(b.Text() == before),
                      step.block ? step.block : 1)
                << "0: the same block";
            if (step.after || step.op == 'a') {
                EXPECT_EQ(std::wstring(b.Text()), step.after ? step.after : L"abcde" + kLong);
            }
            if (b.Text())
                b.Data()[b.BlockSize() - 1] = L'\0'; // the whole block is usable memory
        }
    }
    EXPECT_EQ(textBlockBytes(kMax, sizeof(wchar_t)), std::numeric_limits<std::size_t>::max());
}

TEST(TextBuffer, DoublingStartsAtTheCapacityOr1024AndKeepsTheText)
{
    BasicTextBuffer<char> bytes;
    ASSERT_TRUE(bytes.Reserve(3000));
    EXPECT_EQ(bytes.BlockSize(), 4096u);
    ASSERT_TRUE(bytes.Reserve(3001));
    EXPECT_EQ(bytes.BlockSize(), 6000u);
    TextBuffer wide(1024);
    ASSERT_TRUE(wide.Reserve(1025));
    EXPECT_EQ(wide.BlockSize(), 2048u);

    // A code-page conversion that runs out of room fills the buffer and leaves no
    // terminator; the rest of the block holds what the heap held before (here: not
    // zero). Growing keeps what fits the old room and never reads past it.
    for (std::uint64_t room : {8u, 1024u}) {
        SCOPED_TRACE(room);
        TextBuffer full(room);
        ByteTextBuffer narrow(room);
        for (std::uint64_t i = 0; i < full.BlockSize(); ++i)
            full.Data()[i] = L'#';
        std::memset(narrow.Data(), '#', narrow.BlockSize());
        ASSERT_TRUE(full.Reserve(3001));
        ASSERT_TRUE(narrow.Reserve(3001));
        EXPECT_EQ(std::wstring(full.Text()), std::wstring(room - 1, L'#'));
        EXPECT_EQ(std::string(narrow.Text()), std::string(room - 1, '#'));
    }
}

} // namespace
