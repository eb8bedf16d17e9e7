#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "DiagTestSupport.h"
#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"

using namespace PomaroApp;

namespace {

class DebugLogTest : public ::testing::Test
{
protected:
    void SetUp() override { DebugLogTesting::Reset(); }
    void TearDown() override { DebugLogTesting::Reset(); }

    void open() { ASSERT_TRUE(DebugLog::Open(folder.Path().c_str())); }
    std::vector<std::string> bodies(const wchar_t* name = L"PomaroApp.log") const
    {
        return LogBodies(folder.File(name));
    }
    HANDLE hold(const std::wstring& name)
    {
        return CreateFileW(folder.File(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    TempFolder folder;
};

std::wstring g_boxLog;
std::size_t g_linesWhileShown = 0;
std::thread g_otherWriter;

void LogFromBox()
{
    // The same thread may log from inside its box; another thread waits for the box.
    DebugLog::WriteLine(L"from the box's thread");
    g_otherWriter = std::thread([] { DebugLog::WriteLine(L"from another thread"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_linesWhileShown = LogBodies(g_boxLog).size();
}

} // namespace

// Each line is a regular expression for its body; a box shows the body with its line end,
// with the product name as its caption once the version resource was read.
TEST_F(DebugLogTest, LinesAndBoxes)
{
    BoxRecorder boxes;
    open();
    DebugLog::WriteLine(L"plain text");
    DebugLog::WriteSeparator();
    DebugLog::Write(L"CHost::loadVstPlugin()", L"VSTiプラグイン", true); // its bytes: CodePageTest
    DebugLog::WriteErrorDetail(L"S", L"LoadLibrary()", L"VST3\\Pomaro.vst3", 0x2000ABCDu);
    DebugLog::WriteError(L"S", L"M", ERROR_FILE_NOT_FOUND, true);
    DebugLog::WriteErrorDetail(L"S", L"M", L"D", ERROR_ACCESS_DENIED);
    DebugLog::WriteLine(std::wstring(5000, L'x').c_str());
    DebugLog::WriteModuleInfo();
    DebugLog::WriteLine(L"line box", true);

    wchar_t exe[MAX_PATH];
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME local;
    SYSTEMTIME t;
    ASSERT_TRUE(GetModuleFileNameW(nullptr, exe, MAX_PATH) &&
                GetFileAttributesExW(exe, GetFileExInfoStandard, &data) &&
                FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &t));
    char fileTime[64];
    snprintf(fileTime, sizeof fileTime, "%u/%02u/%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond);
    const std::string want[] = {
        "plain text", std::string(40, '-'), "CHost::loadVstPlugin\\(\\) : VSTi.*",
        // A code the system has no text for ends the line with the code alone; otherwise the
        // system's text follows, without its own line end.
        "S : LoadLibrary\\(\\) : VST3\\\\Pomaro\\.vst3 : 0x2000ABCD", "S : M : 0x00000002 : [^\r\n]+",
        "S : M : D : 0x00000005 : [^\r\n]+", std::string(5000, 'x'),
        "Module file name : diag_log_tests\\.exe", "Module type      : 64bit",
        std::string("Module file time : ") + fileTime, "Module name      : Pomaro Diag Test",
        "Module version   : 0\\.04\\.0\\.0000", "Build type       : Release",
        "OS version       : [0-9]+\\.[0-9]+\\.[0-9]+ .*", "Processor architecture : x64",
        "Processor info   : Processors=[1-9][0-9]* Level=[0-9]+ Model=[0-9]+ Stepping=[0-9]+",
        "Processor features :( MMX)?( SSE)? SSE2( SSE3)?( 3DNow!)?( PAE)?( RDTSC)?( "
        "FLOATING_POINT_EMULATED)?",
        "line box"};
    const std::vector<std::string> lines = bodies();
    ASSERT_EQ(lines.size(), std::size(want));
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(want[i]))) << lines[i];

    const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, L"CHost::loadVstPlugin() : VSTiプラグイン\r\n");
    EXPECT_EQ(Narrow(shown[1].text), lines[4] + "\r\n");
    EXPECT_EQ(shown[2].text, L"line box\r\n");
    for (const RecordedBox& box : shown)
        EXPECT_TRUE(box.ownerNull && box.style == static_cast<unsigned>(MB_OK | MB_ICONERROR));
    EXPECT_TRUE(shown[0].captionNull && shown[1].captionNull);
    EXPECT_EQ(shown[2].caption, L"Pomaro Diag Test");
    DebugLogTesting::Reset(); // the caption is read even without a log
    EXPECT_EQ(DebugLog::Caption(), nullptr);
    DebugLog::WriteModuleInfo();
    EXPECT_STREQ(DebugLog::Caption(), L"Pomaro Diag Test");
}

TEST_F(DebugLogTest, BoxKeepsOtherThreadsWaitingAndManyThreadsNeverInterleave)
{
    {
        BoxRecorder boxes(&LogFromBox);
        g_boxLog = folder.File(L"PomaroApp.log");
        open();
        DebugLog::WriteLine(L"with box", true);
        g_otherWriter.join();
    }
    EXPECT_EQ(g_linesWhileShown, 2u);
    EXPECT_EQ(bodies(),
              (std::vector<std::string>{"with box", "from the box's thread", "from another thread"}));

    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            const std::wstring text(300 + t, static_cast<wchar_t>(L'A' + t));
            for (int i = 0; i < 50; ++i)
                DebugLog::WriteLine(text.c_str());
        });
    for (std::thread& w : writers)
        w.join();
    const std::vector<std::string> lines = bodies();
    ASSERT_EQ(lines.size(), 203u);
    for (size_t i = 3; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], std::string(300 + (lines[i][0] - 'A'), lines[i][0]));
}

// A second Open keeps the file and marks itself; a new run empties an old log.
TEST_F(DebugLogTest, SecondOpenWritesThreeLinesAndANewRunEmptiesTheOldLog)
{
    open();
    DebugLog::WriteLine(L"first");
    EXPECT_TRUE(DebugLog::Open((folder.Path() + L"elsewhere\\").c_str()));
    const std::vector<std::string> lines = bodies();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1] + lines[3], std::string(80, '-'));
    EXPECT_TRUE(lines[2].rfind("DebugLog::Open() : ", 0) == 0 && lines[2].size() > 19) << lines[2];
    EXPECT_EQ(folder.FileNames().size(), 1u);
    DebugLogTesting::Reset();
    open();
    DebugLog::WriteLine(L"new run");
    EXPECT_EQ(bodies(), std::vector<std::string>{"new run"});
}

TEST_F(DebugLogTest, TakenNamesFallBackToTheNextNumberUpTo98AndAClosedLogWritesNothing)
{
    std::vector<HANDLE> held{hold(L"PomaroApp.log")};
    open();
    DebugLog::WriteLine(L"in the second file");
    EXPECT_EQ(ReadBytes(folder.File(L"PomaroApp.log")), "");
    EXPECT_EQ(bodies(L"PomaroApp(2).log"), std::vector<std::string>{"in the second file"});

    DebugLogTesting::Reset();
    DeleteFileW(folder.File(L"PomaroApp(2).log").c_str());
    for (int i = 2; i <= 98; ++i)
        held.push_back(hold(L"PomaroApp(" + std::to_wstring(i) + L").log"));
    for (HANDLE h : held)
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        BoxRecorder boxes;
        for (const std::wstring& where : {std::wstring(), folder.Path() + L"no such folder\\", folder.Path()})
            EXPECT_FALSE(DebugLog::Open(where.c_str()));
        EXPECT_FALSE(DebugLog::Open(nullptr) || DebugLog::IsOpen());
        DebugLog::WriteLine(L"lost", true); // a closed log writes nothing and shows nothing
        DebugLog::WriteError(L"S", L"M", ERROR_ACCESS_DENIED, true);
        EXPECT_TRUE(BoxRecorder::Boxes().empty());
    }
    for (HANDLE h : held)
        CloseHandle(h);
    EXPECT_EQ(folder.FileNames().size(), 98u);
    for (const std::wstring& name : folder.FileNames())
        EXPECT_EQ(ReadBytes(folder.File(name)), "") << Narrow(name);
    open(); // the failed attempt left nothing behind that spoils the next one
    DebugLog::WriteLine(L"now");
    EXPECT_EQ(bodies(), std::vector<std::string>{"now"});
}
