#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
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

    std::wstring LogPath() const { return folder.File(L"PomaroApp.log"); }
    std::vector<std::string> Lines() const { return ReadLines(LogPath()); }

    TempFolder folder;
};

HANDLE HoldForWriting(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

TEST_F(DebugLogTest, AClosedLogWritesNothingAndOpenRefusesAMissingFolder)
{
    BoxRecorder boxes;
    DebugLog::WriteLine(L"line", true);
    DebugLog::WriteSeparator();
    DebugLog::Write(L"S", L"M", true);
    DebugLog::WriteError(L"S", L"M", ERROR_ACCESS_DENIED, true);
    DebugLog::WriteErrorDetail(L"S", L"M", L"D", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(BoxRecorder::Boxes().empty());
    EXPECT_FALSE(DebugLog::Open(nullptr));
    EXPECT_FALSE(DebugLog::Open(L""));
    EXPECT_FALSE(DebugLog::Open((folder.Path() + L"no such folder\\").c_str()));
    EXPECT_FALSE(DebugLog::IsOpen());
    EXPECT_TRUE(folder.FileNames().empty());
}

TEST_F(DebugLogTest, LinesAreStampBodyAndCrLf)
{
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    EXPECT_TRUE(DebugLog::IsOpen());
    std::wstring longText;
    for (int i = 0; i < 5000; ++i)
        longText.push_back(static_cast<wchar_t>(L'a' + i % 26));
    DebugLog::WriteLine(L"plain text");
    DebugLog::WriteSeparator();
    DebugLog::Write(L"CHost::createFrameWindow()", L"CreateWindowEx()", false);
    DebugLog::WriteErrorDetail(L"CHost::loadVstPlugin()", L"LoadLibrary()", L"VST3\\Pomaro.vst3",
                               0x2000ABCDu);
    DebugLog::WriteError(L"S", L"M", 0x2000ABCDu, false);
    DebugLog::WriteLine(L"");
    DebugLog::WriteLine(longText.c_str());
    DebugLog::WriteError(L"S", L"M", ERROR_FILE_NOT_FOUND, false);
    DebugLog::WriteErrorDetail(L"S", L"M", L"D", ERROR_ACCESS_DENIED);

    const std::string bytes = ReadBytes(LogPath());
    const std::vector<std::string> lines = Lines();
    const std::vector<std::string> bodies = {
        "plain text", std::string(40, '-'), "CHost::createFrameWindow() : CreateWindowEx()",
        // A code the system has no text for ends the line with the code alone.
        "CHost::loadVstPlugin() : LoadLibrary() : VST3\\Pomaro.vst3 : 0x2000ABCD", "S : M : 0x2000ABCD", "",
        Narrow(longText),
        // Otherwise the system's text follows, without its own line end.
        "S : M : 0x00000002 : ", "S : M : D : 0x00000005 : "};
    ASSERT_EQ(lines.size(), bodies.size());
    size_t crlfs = 0;
    for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2))
        ++crlfs;
    EXPECT_EQ(crlfs, bodies.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(HasStamp(lines[i])) << lines[i];
        if (i < 7) {
            EXPECT_EQ(Body(lines[i]), bodies[i]);
        } else {
            EXPECT_EQ(Body(lines[i]).compare(0, bodies[i].size(), bodies[i]), 0) << lines[i];
            EXPECT_GT(Body(lines[i]).size(), bodies[i].size());
        }
    }
}

TEST_F(DebugLogTest, BoxShowsTheBodyWithItsLineEnd)
{
    BoxRecorder boxes;
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"no box");
    DebugLog::WriteErrorDetail(L"S", L"M", L"D", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(BoxRecorder::Boxes().empty());

    DebugLog::Write(L"CHost::loadVstPlugin()", L"VSTiプラグイン", true);
    DebugLog::WriteLine(L"line box", true);
    DebugLog::WriteError(L"CHost::createFrameWindow()", L"CreateWindowEx()", ERROR_ACCESS_DENIED, true);

    const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, L"CHost::loadVstPlugin() : VSTiプラグイン\r\n");
    EXPECT_EQ(shown[1].text, L"line box\r\n");
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Narrow(shown[2].text), Body(lines[4]) + "\r\n");
    for (const RecordedBox& box : shown) {
        EXPECT_TRUE(box.ownerNull);
        EXPECT_TRUE(box.captionNull); // no version resource read yet
        EXPECT_EQ(box.style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
    }
}

namespace {
std::wstring g_boxLogPath;
std::size_t g_linesWhileShown = 0;
std::thread g_otherWriter;

void LogFromBox()
{
    // The same thread may log from inside its box; another thread waits for the box.
    DebugLog::WriteLine(L"from the box's thread");
    g_otherWriter = std::thread([] { DebugLog::WriteLine(L"from another thread"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_linesWhileShown = ReadLines(g_boxLogPath).size();
}
} // namespace

TEST_F(DebugLogTest, BoxKeepsOtherThreadsWaiting)
{
    BoxRecorder boxes(&LogFromBox);
    g_boxLogPath = LogPath();
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"with box", true);
    g_otherWriter.join();

    EXPECT_EQ(g_linesWhileShown, 2u);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Body(lines[0]), "with box");
    EXPECT_EQ(Body(lines[1]), "from the box's thread");
    EXPECT_EQ(Body(lines[2]), "from another thread");
}

TEST_F(DebugLogTest, ManyThreadsNeverInterleave)
{
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            const std::wstring text(300 + t, static_cast<wchar_t>(L'A' + t));
            for (int i = 0; i < 50; ++i)
                DebugLog::WriteLine(text.c_str());
        });
    for (std::thread& w : writers)
        w.join();
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 200u);
    for (const std::string& line : lines) {
        ASSERT_TRUE(HasStamp(line));
        const std::string body = Body(line);
        ASSERT_FALSE(body.empty());
        const int t = body[0] - 'A';
        EXPECT_EQ(body, std::string(300 + t, body[0]));
    }
}

TEST_F(DebugLogTest, SecondOpenWritesExactlyThreeLines)
{
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"first");
    EXPECT_TRUE(DebugLog::Open((folder.Path() + L"elsewhere\\").c_str()));

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Body(lines[1]), std::string(40, '-'));
    const std::string lead = "DebugLog::Open() : ";
    EXPECT_EQ(Body(lines[2]).compare(0, lead.size(), lead), 0) << lines[2];
    EXPECT_GT(Body(lines[2]).size(), lead.size());
    EXPECT_EQ(Body(lines[3]), std::string(40, '-'));
    EXPECT_EQ(folder.FileNames().size(), 1u);
}

TEST_F(DebugLogTest, TakenNameFallsBackToTheNextNumber)
{
    const HANDLE held = HoldForWriting(LogPath());
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"in the second file");
    CloseHandle(held);

    EXPECT_EQ(ReadBytes(LogPath()), "");
    const std::vector<std::string> lines = ReadLines(folder.File(L"PomaroApp(2).log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Body(lines[0]), "in the second file");
}

TEST_F(DebugLogTest, AllNinetyEightNamesTakenMeansNoLog)
{
    std::vector<HANDLE> held;
    held.push_back(HoldForWriting(LogPath()));
    for (int i = 2; i <= 98; ++i)
        held.push_back(HoldForWriting(folder.File(L"PomaroApp(" + std::to_wstring(i) + L").log")));
    for (HANDLE h : held)
        ASSERT_NE(h, INVALID_HANDLE_VALUE);

    {
        BoxRecorder boxes;
        EXPECT_FALSE(DebugLog::Open(folder.Path().c_str()));
        EXPECT_FALSE(DebugLog::IsOpen());
        DebugLog::WriteLine(L"lost", true);
        DebugLog::Write(L"S", L"M", true);
        EXPECT_TRUE(BoxRecorder::Boxes().empty());
    }
    EXPECT_FALSE(FileExists(folder.File(L"PomaroApp(99).log")));
    EXPECT_EQ(folder.FileNames().size(), 98u);
    for (HANDLE h : held)
        CloseHandle(h);
    for (const std::wstring& name : folder.FileNames())
        EXPECT_EQ(ReadBytes(folder.File(name)), "") << Narrow(name);

    // The failed attempt left nothing behind that spoils the next one.
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"now");
    ASSERT_EQ(Lines().size(), 1u);
}

TEST_F(DebugLogTest, OpenEmptiesAnOldLog)
{
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"old run");
    DebugLogTesting::Reset();
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"new run");
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Body(lines[0]), "new run");
}
