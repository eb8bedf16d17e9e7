#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "diag/TextBuffer.h"

using namespace PomaroApp;

TEST(AnsiText, ConvertsIntoAnEmptyBuffer)
{
    TextBuffer text;
    ASSERT_TRUE(text.AssignFromAnsi("bad_alloc"));
    EXPECT_STREQ(text.Text(), L"bad_alloc");
}

TEST(AnsiText, GrowsWhenTheTextDoesNotFit)
{
    TextBuffer text(8);
    // The block beyond the room holds what the heap held before, not zeros.
    for (std::uint64_t i = 0; i < text.BlockSize(); ++i)
        text.Data()[i] = L'#';
    const std::string what(3000, 'w');
    ASSERT_TRUE(text.AssignFromAnsi(what.c_str()));
    EXPECT_EQ(text.Length(), 3000u);
    EXPECT_EQ(std::wstring(text.Text()), std::wstring(3000, L'w'));

    ASSERT_TRUE(text.AssignFromAnsi("short"));
    EXPECT_STREQ(text.Text(), L"short");
}

TEST(AnsiText, NullEmptiesTheBuffer)
{
    TextBuffer text(16);
    ASSERT_TRUE(text.AssignFromAnsi("x"));
    ASSERT_TRUE(text.AssignFromAnsi(nullptr));
    EXPECT_STREQ(text.Text(), L"");
    ASSERT_TRUE(text.AssignFromAnsi(""));
    EXPECT_STREQ(text.Text(), L"");
}
