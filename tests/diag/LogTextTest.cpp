#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <utility>

#include "diag/LogText.h"

using namespace PomaroApp;

TEST(LogText, StampsFileNamesAndFormattedLines)
{
    wchar_t stamp[16], text[LogText::kInfoLineSize];
    ASSERT_TRUE(LogText::formatStamp(stamp, 9, 5, 7, 42));
    EXPECT_STREQ(stamp, L"09:05:07.042 ");
    ASSERT_TRUE(LogText::formatStamp(stamp, 23, 59, 59, 999));
    EXPECT_STREQ(stamp, L"23:59:59.999 ");
    EXPECT_EQ(std::wcslen(stamp), LogText::kStampLength);
    for (const auto& [counter, name] : {std::pair{1, L"PomaroApp.log"}, std::pair{2, L"PomaroApp(2).log"},
                                        std::pair{98, L"PomaroApp(98).log"}}) {
        ASSERT_TRUE(LogText::formatLogFileName(text, 260, counter));
        EXPECT_STREQ(text, name);
    }
    ASSERT_TRUE(LogText::format(text, LogText::kInfoLineSize, LogText::kModuleVersionFormat, 0u, 4u, 0u, 0u));
    EXPECT_STREQ(text, L"Module version   : 0.04.0.0000");
    ASSERT_TRUE(LogText::format(text, 50, LogText::kProductNameQueryFormat, 0x411u, 0x4b0u));
    EXPECT_STREQ(text, L"\\StringFileInfo\\041104b0\\ProductName");

    // Text that does not fit is a failure, never a cut text.
    wchar_t small[10];
    EXPECT_FALSE(LogText::formatLogFileName(small, 10, 1));
    EXPECT_STREQ(small, L"");
    const std::wstring longName(600, L'n');
    EXPECT_FALSE(LogText::format(text, LogText::kInfoLineSize, LogText::kModuleNameFormat, longName.c_str()));
    EXPECT_STREQ(text, L"");
}

TEST(LogText, SystemTextLosesOnlyItsCrLf)
{
    for (const auto& [message, kept] :
         {std::pair{L"Access denied.\r\n", 14u}, std::pair{L"Access denied.", 14u}, std::pair{L"x\n", 2u},
          std::pair{L"\r\n", 0u}, std::pair{L"x", 1u}})
        EXPECT_EQ(LogText::trimmedMessageLength(message, std::wcslen(message)), kept) << message;
}
