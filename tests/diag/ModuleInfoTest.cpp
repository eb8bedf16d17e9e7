#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "DiagTestSupport.h"
#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"

using namespace PomaroApp;

namespace {
class ModuleInfoTest : public ::testing::Test
{
protected:
    void SetUp() override { DebugLogTesting::Reset(); }
    void TearDown() override { DebugLogTesting::Reset(); }
    TempFolder folder;
};

bool Matches(const std::string& text, const char* pattern)
{
    return std::regex_match(text, std::regex(pattern));
}
} // namespace

TEST_F(ModuleInfoTest, CaptionComesFromTheVersionResource)
{
    BoxRecorder boxes;
    EXPECT_EQ(DebugLog::Caption(), nullptr);
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"before", true);
    DebugLog::WriteModuleInfo();
    ASSERT_NE(DebugLog::Caption(), nullptr);
    EXPECT_STREQ(DebugLog::Caption(), L"Pomaro Diag Test");
    DebugLog::WriteLine(L"after", true);

    const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[0].captionNull);
    EXPECT_FALSE(shown[1].captionNull);
    EXPECT_EQ(shown[1].caption, L"Pomaro Diag Test");
}

TEST_F(ModuleInfoTest, CaptionIsReadEvenWithoutALog)
{
    DebugLog::WriteModuleInfo();
    EXPECT_STREQ(DebugLog::Caption(), L"Pomaro Diag Test");
    EXPECT_TRUE(folder.FileNames().empty());
}

TEST_F(ModuleInfoTest, TenLinesWithAlignedLabels)
{
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteModuleInfo();
    const std::vector<std::string> lines = ReadLines(folder.File(L"PomaroApp.log"));
    ASSERT_EQ(lines.size(), 10u);
    std::vector<std::string> body;
    for (const std::string& line : lines) {
        EXPECT_TRUE(HasStamp(line)) << line;
        body.push_back(Body(line));
    }

    EXPECT_EQ(body[0], "Module file name : diag_log_tests.exe");
    EXPECT_EQ(body[1], "Module type      : 64bit");
    EXPECT_EQ(body[3], "Module name      : Pomaro Diag Test");
    EXPECT_EQ(body[4], "Module version   : 0.04.0.0000");
    EXPECT_EQ(body[5], "Build type       : Release");
    EXPECT_TRUE(Matches(body[6], R"(OS version       : [0-9]+\.[0-9]+\.[0-9]+ .*)")) << body[6];
    EXPECT_EQ(body[7], "Processor architecture : x64");
    EXPECT_TRUE(Matches(
        body[8], R"(Processor info   : Processors=[1-9][0-9]* Level=[0-9]+ Model=[0-9]+ Stepping=[0-9]+)"))
        << body[8];
    EXPECT_TRUE(Matches(
        body[9],
        R"(Processor features :( MMX)?( SSE)?( SSE2)?( SSE3)?( 3DNow!)?( PAE)?( RDTSC)?( FLOATING_POINT_EMULATED)?)"))
        << body[9];
    // Every x64 processor has SSE2.
    EXPECT_NE(body[9].find(" SSE2"), std::string::npos);

    // The file time is the exe's own last write time, in local time (body[2]).
    wchar_t exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(exe, GetFileExInfoStandard, &data));
    FILETIME local;
    SYSTEMTIME t;
    ASSERT_TRUE(FileTimeToLocalFileTime(&data.ftLastWriteTime, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &t));
    char expected[64];
    snprintf(expected, sizeof expected, "Module file time : %u/%02u/%02u %02u:%02u:%02u", t.wYear, t.wMonth,
             t.wDay, t.wHour, t.wMinute, t.wSecond);
    EXPECT_EQ(body[2], expected);
}
