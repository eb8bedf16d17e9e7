#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "diag/LogText.h"

TEST(LogText, StampIsThirteenCharactersEndingInBlank)
{
    wchar_t stamp[16];
    ASSERT_TRUE(LogText::FormatStamp(stamp, 9, 5, 7, 42));
    EXPECT_STREQ(stamp, L"09:05:07.042 ");
    ASSERT_TRUE(LogText::FormatStamp(stamp, 23, 59, 59, 999));
    EXPECT_STREQ(stamp, L"23:59:59.999 ");
    EXPECT_EQ(std::wcslen(stamp), LogText::kStampLength);
}

TEST(LogText, FileNamesAndTheirLimit)
{
    wchar_t name[260];
    ASSERT_TRUE(LogText::FormatLogFileName(name, 260, 1));
    EXPECT_STREQ(name, L"PomaroApp.log");
    ASSERT_TRUE(LogText::FormatLogFileName(name, 260, 2));
    EXPECT_STREQ(name, L"PomaroApp(2).log");
    ASSERT_TRUE(LogText::FormatLogFileName(name, 260, 98));
    EXPECT_STREQ(name, L"PomaroApp(98).log");
    EXPECT_EQ(LogText::kLastFileCounter, 98);

    // A name that does not fit is a failure, never a cut name.
    wchar_t small[10];
    EXPECT_FALSE(LogText::FormatLogFileName(small, 10, 1));
    EXPECT_STREQ(small, L"");
}

TEST(LogText, SystemTextLosesOnlyItsCrLf)
{
    const wchar_t withEnd[] = L"Access denied.\r\n";
    EXPECT_EQ(LogText::TrimmedMessageLength(withEnd, std::wcslen(withEnd)), 14u);
    const wchar_t plain[] = L"Access denied.";
    EXPECT_EQ(LogText::TrimmedMessageLength(plain, std::wcslen(plain)), 14u);
    const wchar_t lfOnly[] = L"x\n";
    EXPECT_EQ(LogText::TrimmedMessageLength(lfOnly, 2), 2u);
    EXPECT_EQ(LogText::TrimmedMessageLength(L"\r\n", 2), 0u);
    EXPECT_EQ(LogText::TrimmedMessageLength(L"x", 1), 1u);
}

TEST(LogText, ModuleInfoLabelsLineUp)
{
    wchar_t line[LogText::kInfoLineSize];
    std::wstring lines[8];
    ASSERT_TRUE(LogText::Format(line, LogText::kInfoLineSize, LogText::kModuleFileNameFormat, L"Pomaro.exe"));
    lines[0] = line;
    ASSERT_TRUE(LogText::Format(line, LogText::kInfoLineSize, LogText::kModuleTypeFormat, 64));
    lines[1] = line;
    EXPECT_EQ(lines[1], L"Module type      : 64bit");
    ASSERT_TRUE(LogText::Format(line, LogText::kInfoLineSize, LogText::kModuleFileTimeFormat, 2024u, 3u, 7u, 8u, 9u, 5u));
    lines[2] = line;
    EXPECT_EQ(lines[2], L"Module file time : 2024/03/07 08:09:05");
    ASSERT_TRUE(LogText::Format(line, LogText::kInfoLineSize, LogText::kModuleNameFormat, L"Pomaro"));
    lines[3] = line;
    ASSERT_TRUE(LogText::Format(line, LogText::kInfoLineSize, LogText::kModuleVersionFormat, 0u, 4u, 0u, 0u));
    lines[4] = line;
    EXPECT_EQ(lines[4], L"Module version   : 0.04.0.0000");
    lines[5] = LogText::kBuildTypeLine;
    ASSERT_TRUE(LogText::Format(line, LogText::kInfoLineSize, LogText::kOsVersionFormat, 10, 0, 19045, L""));
    lines[6] = line;
    EXPECT_EQ(lines[6], L"OS version       : 10.0.19045 ");
    ASSERT_TRUE(LogText::Format(line, LogText::kInfoLineSize, LogText::kProcessorInfoFormat, 8, 6, 0x9e, 0x0a));
    lines[7] = line;
    EXPECT_EQ(lines[7], L"Processor info   : Processors=8 Level=6 Model=158 Stepping=10");
    for (const std::wstring& l : lines)
        EXPECT_EQ(l.find(L':'), 17u) << std::string(l.begin(), l.end());

    ASSERT_TRUE(LogText::Format(line, LogText::kInfoLineSize, LogText::kArchitectureFormat, L"x64"));
    EXPECT_STREQ(line, L"Processor architecture : x64");

    // A value too long for the line leaves the line out.
    std::wstring longName(600, L'n');
    EXPECT_FALSE(LogText::Format(line, LogText::kInfoLineSize, LogText::kModuleNameFormat, longName.c_str()));
}

TEST(LogText, ProductNameQueryUsesLanguageThenCodePage)
{
    wchar_t query[50];
    ASSERT_TRUE(LogText::Format(query, 50, LogText::kProductNameQueryFormat, 0x411u, 0x4b0u));
    EXPECT_STREQ(query, L"\\StringFileInfo\\041104b0\\ProductName");
}

TEST(LogText, ProcessorNames)
{
    EXPECT_STREQ(LogText::ArchitectureName(0), L"x86");
    EXPECT_STREQ(LogText::ArchitectureName(6), L"IA64");
    EXPECT_STREQ(LogText::ArchitectureName(9), L"x64");
    EXPECT_STREQ(LogText::ArchitectureName(12), L"UNKNOWN");   // ARM64 has no name here
    EXPECT_STREQ(LogText::ArchitectureName(0xFFFF), L"UNKNOWN");

    std::wstring all;
    for (const LogText::ProcessorFeature& f : LogText::kProcessorFeatures)
        all += f.text;
    EXPECT_EQ(all, L" MMX SSE SSE2 SSE3 3DNow! PAE RDTSC FLOATING_POINT_EMULATED");
    EXPECT_EQ(LogText::kProcessorFeatures[4].id, 7u);
    EXPECT_EQ(LogText::kProcessorFeatures[7].id, 1u);
}
