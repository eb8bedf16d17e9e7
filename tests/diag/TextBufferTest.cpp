#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>

#include "diag/TextBuffer.h"

using namespace PomaroApp;

namespace {
constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max() / 2;
}

TEST(TextBufferGrowth, FirstBlockIs1024AndCapacityIsTheRequest)
{
    TextBuffer buffer;
    EXPECT_EQ(buffer.Text(), nullptr);
    EXPECT_EQ(buffer.Capacity(), 0u);

    ASSERT_TRUE(buffer.Reserve(1));
    EXPECT_EQ(buffer.Capacity(), 1u);
    EXPECT_EQ(buffer.BlockSize(), 1024u);
    ASSERT_NE(buffer.Text(), nullptr);
    EXPECT_EQ(buffer.Text()[0], L'\0');

    // Requests within the recorded capacity keep the block.
    const wchar_t* block = buffer.Text();
    ASSERT_TRUE(buffer.Reserve(0));
    ASSERT_TRUE(buffer.Reserve(1));
    EXPECT_EQ(buffer.Text(), block);

    // Above the recorded capacity a new block is made, doubling from that capacity.
    ASSERT_TRUE(buffer.Reserve(5));
    EXPECT_EQ(buffer.Capacity(), 5u);
    EXPECT_EQ(buffer.BlockSize(), 8u);

    ASSERT_TRUE(buffer.Reserve(1500));
    EXPECT_EQ(buffer.Capacity(), 1500u);
    EXPECT_EQ(buffer.BlockSize(), 2560u); // 5 doubled until it holds 1500

    // The whole block is usable memory even beyond the recorded capacity.
    buffer.Data()[buffer.BlockSize() - 1] = L'x';
}

TEST(TextBufferGrowth, DoublingStartsAtCapacityOr1024)
{
    BasicTextBuffer<char> bytes;
    ASSERT_TRUE(bytes.Reserve(3000));
    EXPECT_EQ(bytes.BlockSize(), 4096u);
    EXPECT_EQ(bytes.Capacity(), 3000u);

    ASSERT_TRUE(bytes.Reserve(3001));
    EXPECT_EQ(bytes.BlockSize(), 6000u);
    EXPECT_EQ(bytes.Capacity(), 3001u);

    TextBuffer wide(1024);
    EXPECT_EQ(wide.BlockSize(), 1024u);
    ASSERT_TRUE(wide.Reserve(1025));
    EXPECT_EQ(wide.BlockSize(), 2048u);
}

TEST(TextBufferGrowth, GrowingKeepsTheText)
{
    TextBuffer buffer(4);
    ASSERT_TRUE(buffer.Assign(L"abc"));
    ASSERT_TRUE(buffer.Reserve(100000));
    EXPECT_STREQ(buffer.Text(), L"abc");
    EXPECT_EQ(buffer.Length(), 3u);

    // A code-page conversion that runs out of room fills the buffer and leaves no
    // terminator; the rest of the block holds what the heap held before (here: not
    // zero). Growing keeps what fits the old room and never reads past it.
    for (std::uint64_t room : {8u, 1024u}) {
        SCOPED_TRACE(room);
        TextBuffer full(room);
        ByteTextBuffer bytes(room);
        for (std::uint64_t i = 0; i < full.BlockSize(); ++i)
            full.Data()[i] = L'#';
        std::memset(bytes.Data(), '#', bytes.BlockSize());
        ASSERT_TRUE(full.Reserve(3001));
        ASSERT_TRUE(bytes.Reserve(3001));
        EXPECT_EQ(std::wstring(full.Text()), std::wstring(room - 1, L'#'));
        EXPECT_EQ(std::string(bytes.Text()), std::string(room - 1, '#'));
    }
}

TEST(TextBufferGrowth, OverflowingSizesFailAndKeepTheText)
{
    EXPECT_EQ(textBlockBytes(std::numeric_limits<std::uint64_t>::max(), sizeof(wchar_t)),
              std::numeric_limits<std::size_t>::max());
    EXPECT_EQ(textBlockBytes(10, sizeof(wchar_t)), 10 * sizeof(wchar_t));

    TextBuffer buffer;
    ASSERT_TRUE(buffer.Assign(L"kept"));
    const std::uint64_t capacity = buffer.Capacity();
    EXPECT_FALSE(buffer.Reserve(std::numeric_limits<std::uint64_t>::max()));
    EXPECT_FALSE(buffer.Reserve(kHuge + 3));
    EXPECT_FALSE(buffer.AppendRepeated(L'x', std::numeric_limits<std::uint64_t>::max()));
    EXPECT_FALSE(buffer.AppendRepeated(L'x', kHuge));
    EXPECT_STREQ(buffer.Text(), L"kept");
    EXPECT_EQ(buffer.Capacity(), capacity);
}

TEST(TextBufferText, AppendGrowsByLengthPlusOne)
{
    TextBuffer buffer;
    ASSERT_TRUE(buffer.Append(L""));
    EXPECT_EQ(buffer.Capacity(), 1u);
    EXPECT_STREQ(buffer.Text(), L"");

    ASSERT_TRUE(buffer.Append(L"ab"));
    ASSERT_TRUE(buffer.Append(L"cde"));
    EXPECT_STREQ(buffer.Text(), L"abcde");
    EXPECT_EQ(buffer.Capacity(), 6u);
    ASSERT_TRUE(buffer.Append(nullptr));
    EXPECT_STREQ(buffer.Text(), L"abcde");

    std::wstring longText(5000, L'q');
    ASSERT_TRUE(buffer.Append(longText.c_str()));
    EXPECT_EQ(buffer.Length(), 5005u);
    EXPECT_EQ(buffer.Capacity(), 5006u);
    EXPECT_EQ(std::wstring(buffer.Text()), L"abcde" + longText);
}

TEST(TextBufferText, AppendingOwnTextSurvivesTheMove)
{
    TextBuffer buffer;
    ASSERT_TRUE(buffer.Assign(L"0123456789")); // capacity exactly 11
    ASSERT_TRUE(buffer.Append(buffer.Text() + 5));
    EXPECT_STREQ(buffer.Text(), L"012345678956789");
    ASSERT_TRUE(buffer.Append(buffer.Text()));
    EXPECT_STREQ(buffer.Text(), L"012345678956789012345678956789");
}

TEST(TextBufferText, AppendRepeated)
{
    TextBuffer buffer;
    ASSERT_TRUE(buffer.AppendRepeated(L'-', 0));
    EXPECT_EQ(buffer.Capacity(), 1u);
    EXPECT_STREQ(buffer.Text(), L"");

    ASSERT_TRUE(buffer.Assign(L"ab"));
    ASSERT_TRUE(buffer.AppendRepeated(L'-', 40));
    EXPECT_EQ(std::wstring(buffer.Text()), L"ab" + std::wstring(40, L'-'));
    EXPECT_EQ(buffer.Capacity(), 43u);
}

TEST(TextBufferText, AssignReallocatesExactlyOnlyWhenTooSmall)
{
    TextBuffer buffer;
    ASSERT_TRUE(buffer.Assign(L"hello"));
    EXPECT_EQ(buffer.Capacity(), 6u);
    EXPECT_EQ(buffer.BlockSize(), 6u);

    const wchar_t* block = buffer.Text();
    ASSERT_TRUE(buffer.Assign(L"hi"));
    EXPECT_EQ(buffer.Text(), block);
    EXPECT_EQ(buffer.Capacity(), 6u);
    EXPECT_STREQ(buffer.Text(), L"hi");

    ASSERT_TRUE(buffer.Assign(L"longer text"));
    EXPECT_EQ(buffer.Capacity(), 12u);
    EXPECT_STREQ(buffer.Text(), L"longer text");

    // Assigning a tail of itself is an overlapping copy.
    ASSERT_TRUE(buffer.Assign(buffer.Text() + 7));
    EXPECT_STREQ(buffer.Text(), L"text");

    ASSERT_TRUE(buffer.Assign(nullptr));
    EXPECT_STREQ(buffer.Text(), L"");
    EXPECT_EQ(buffer.Capacity(), 12u);

    TextBuffer empty;
    ASSERT_TRUE(empty.Assign(nullptr));
    EXPECT_EQ(empty.Text(), nullptr);
}
