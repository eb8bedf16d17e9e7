#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "diag/TextBuffer.h"

using namespace PomaroApp;

TEST(AnsiText, ConvertsGrowingWhenTheTextDoesNotFitAndNullEmpties)
{
    TextBuffer empty;
    ASSERT_TRUE(empty.AssignFromAnsi("bad_alloc"));
    EXPECT_STREQ(empty.Text(), L"bad_alloc");

    TextBuffer text(8);
    // The block beyond the room holds what the heap held before, not zeros.
    for (std::uint64_t i = 0; i < text.BlockSize(); ++i)
        text.Data()[i] = L'#';
    const std::string what(3000, 'w');
    ASSERT_TRUE(text.AssignFromAnsi(what.c_str()));
    EXPECT_EQ(std::wstring(text.Text()), std::wstring(3000, L'w'));
    for (const char* shorter : {"short", "", static_cast<const char*>(nullptr)}) {
        ASSERT_TRUE(text.AssignFromAnsi(shorter));
        EXPECT_EQ(std::wstring(text.Text()),
                  shorter ? std::wstring(shorter, shorter + std::strlen(shorter)) : L"");
    }
}
