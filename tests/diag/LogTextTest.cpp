#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "diag/LogText.h"

using namespace PomaroApp;

TEST(LogText, StampIsThirteenCharactersEndingInBlank)
{
    wchar_t stamp[16];
    ASSERT_TRUE(LogText::formatStamp(stamp, 9, 5, 7, 42));
    EXPECT_STREQ(stamp, L"09:05:07.042 ");
    ASSERT_TRUE(LogText::formatStamp(stamp, 23, 59, 59, 999));
    EXPECT_STREQ(stamp, L"23:59:59.999 ");
    EXPECT_EQ(std::wcslen(stamp), LogText::kStampLength);
}

TEST(LogText, FileNamesAndTheirLimit)
{
    wchar_t name[260];
    ASSERT_TRUE(LogText::formatLogFileName(name, 260, 1));
    EXPECT_STREQ(name, L"PomaroApp.log");
    ASSERT_TRUE(LogText::formatLogFileName(name, 260, 2));
    EXPECT_STREQ(name, L"PomaroApp(2).log");
    ASSERT_TRUE(LogText::formatLogFileName(name, 260, 98));
    EXPECT_STREQ(name, L"PomaroApp(98).log");

    // A name that does not fit is a failure, never a cut name.
    wchar_t small[10];
    EXPECT_FALSE(LogText::formatLogFileName(small, 10, 1));
    EXPECT_STREQ(small, L"");
}

TEST(LogText, SystemTextLosesOnlyItsCrLf)
{
    const wchar_t withEnd[] = L"Access denied.\r\n";
    EXPECT_EQ(LogText::trimmedMessageLength(withEnd, std::wcslen(withEnd)), 14u);
    const wchar_t plain[] = L"Access denied.";
    EXPECT_EQ(LogText::trimmedMessageLength(plain, std::wcslen(plain)), 14u);
    const wchar_t lfOnly[] = L"x\n";
    EXPECT_EQ(LogText::trimmedMessageLength(lfOnly, 2), 2u);
    EXPECT_EQ(LogText::trimmedMessageLength(L"\r\n", 2), 0u);
    EXPECT_EQ(LogText::trimmedMessageLength(L"x", 1), 1u);
}

TEST(LogText, TextThatDoesNotFitIsAFailure)
{
    wchar_t line[LogText::kInfoLineSize];
    const std::wstring longName(600, L'n');
    EXPECT_FALSE(LogText::format(line, LogText::kInfoLineSize, LogText::kModuleNameFormat, longName.c_str()));
    EXPECT_STREQ(line, L"");
    ASSERT_TRUE(LogText::format(line, LogText::kInfoLineSize, LogText::kModuleVersionFormat, 0u, 4u, 0u, 0u));
    EXPECT_STREQ(line, L"Module version   : 0.04.0.0000");
}

TEST(LogText, ProductNameQueryUsesLanguageThenCodePage)
{
    wchar_t query[50];
    ASSERT_TRUE(LogText::format(query, 50, LogText::kProductNameQueryFormat, 0x411u, 0x4b0u));
    EXPECT_STREQ(query, L"\\StringFileInfo\\041104b0\\ProductName");
}
