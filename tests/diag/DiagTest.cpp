// The log and the crash report under Windows; ctest runs it under a Western locale (code page 1252).
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cwchar>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <thread>

#include "DiagTestSupport.h"
#include "diag/CrashReport.h"
#include "diag/CrashReportTesting.h"
#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"
#include "diag/SehGuard.h"

using namespace PomaroApp;

namespace {

using Lines = std::vector<std::string>;
const std::wstring kLead = L"Sorry, this application encountered fatal error.\n\n";
volatile int g_sink = 0; // read by nobody, so that no fault is optimised away

class Diag : public ::testing::Test
{
protected:
    void SetUp() override { restart(); }
    void TearDown() override { restart(false); }
    void restart(bool withLog = true)
    {
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
        BoxRecorder::Boxes().clear();
        DeleteFileW(folder.File(L"PomaroApp.log").c_str());
        ASSERT_TRUE(!withLog || DebugLog::Open(folder.Path().c_str()));
    }
    Lines lines(const std::wstring& name = L"PomaroApp.log") const { return LogBodies(folder.File(name)); }
    // The text of the one report box without its lead; the log's one line, if any, is the same text.
    std::wstring onlyReport(bool logged = true) const
    {
        const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
        if (shown.size() != 1 || shown[0].text.rfind(kLead, 0) != 0 || !shown[0].ownerNull ||
            shown[0].style != static_cast<unsigned>(MB_OK | MB_ICONERROR))
            return L"<not one report box>";
        const std::wstring report = shown[0].text.substr(kLead.size());
        return lines() == (logged ? Lines{Narrow(report)} : Lines{}) ? report : L"<log differs>";
    }

    BoxRecorder boxes;
    TempFolder folder;
};

// A second Open marks itself in the same file. A code the system has no text for ends the line
// with the code alone; otherwise the system's text follows, without its own line end. The box
// caption is the product name once the version resource was read.
TEST_F(Diag, LogLinesAndBoxes)
{
    EXPECT_TRUE(DebugLog::Open((folder.Path() + L"elsewhere\\").c_str()));
    DebugLog::WriteErrorDetail(L"S", L"LoadLibrary()", L"VST3\\Pomaro.vst3", 0x2000ABCDu);
    DebugLog::WriteError(L"S", L"M", ERROR_FILE_NOT_FOUND, true);
    DebugLog::WriteModuleInfo();
    DebugLog::WriteLine(L"line box", true);
    const std::string want[] = {
        "-{40}",
        R"(DebugLog::Open\(\) : .+)",
        "-{40}",
        R"(S : LoadLibrary\(\) : VST3\\Pomaro\.vst3 : 0x2000ABCD)",
        "S : M : 0x00000002 : [^\r\n]+",
        R"(Module file name : diag_tests\.exe)",
        "Module type      : 64bit",
        "Module file time : 20[0-9]{2}/[01][0-9]/[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]",
        "Module name      : Pomaro Diag Test",
        R"(Module version   : 1\.02\.3\.0004)",
        "Build type       : Release",
        R"(OS version       : [0-9]+\.[0-9]+\.[0-9]+ .*)",
        "Processor architecture : x64",
        "Processor info   : Processors=[1-9][0-9]* Level=[0-9]+ Model=[0-9]+ Stepping=[0-9]+",
        "Processor features :( [0-9A-Za-z_!]+)+",
        "line box"};
    const Lines got = lines();
    ASSERT_EQ(got.size(), std::size(want));
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(std::regex_match(got[i], std::regex(want[i]))) << got[i];
    ASSERT_EQ(BoxRecorder::Boxes().size(), 2u);
    EXPECT_EQ(Narrow(BoxRecorder::Boxes()[0].text), got[4] + "\r\n");
    EXPECT_EQ(BoxRecorder::Boxes()[1].caption, L"Pomaro Diag Test");
}

std::vector<std::thread> g_writers;
std::wstring g_logPath;

// The same thread may log from inside its box; other threads wait for the box, and their lines
// never interleave.
TEST_F(Diag, ABoxKeepsOtherThreadsWaitingAndLinesNeverInterleave)
{
    g_logPath = folder.File(L"PomaroApp.log");
    {
        BoxRecorder logging([] {
            DebugLog::WriteLine(L"from the box's thread");
            for (int t = 0; t < 4; ++t)
                g_writers.emplace_back([t] {
                    for (int i = 0; i < 50; ++i)
                        DebugLog::WriteLine(std::wstring(300 + t, static_cast<wchar_t>(L'A' + t)).c_str());
                });
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            g_sink = int(LogBodies(g_logPath).size());
        });
        DebugLog::WriteLine(L"with box", true);
    }
    for (std::thread& w : g_writers)
        w.join();
    EXPECT_EQ(g_sink, 2);
    const Lines got = lines();
    ASSERT_EQ(got.size(), 202u);
    EXPECT_EQ(Lines(got.begin(), got.begin() + 2), (Lines{"with box", "from the box's thread"}));
    for (size_t i = 2; i < got.size(); ++i)
        ASSERT_EQ(got[i], std::string(300 + (got[i][0] - 'A'), got[i][0]));
}

// Taken names fall back to the next number up to 98; with all taken nothing opens, a closed log
// writes and shows nothing, and a report still shows its box. A new run empties an old log.
TEST_F(Diag, TheLogTakesTheFirstFreeNameUpTo98)
{
    DebugLogTesting::Reset();
    std::vector<HANDLE> held;
    for (int n = 1; n <= 98; ++n) {
        const std::wstring name = n == 1 ? L"PomaroApp.log" : L"PomaroApp(" + std::to_wstring(n) + L").log";
        if (n == 98) {
            ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
            DebugLog::WriteLine(L"in the last file");
            EXPECT_EQ(lines(name), Lines{"in the last file"});
            DebugLogTesting::Reset();
        }
        held.push_back(CreateFileW(folder.File(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(held.back(), INVALID_HANDLE_VALUE);
    }
    for (const std::wstring& where : {std::wstring(), folder.Path() + L"no such folder\\", folder.Path()})
        EXPECT_FALSE(DebugLog::Open(where.c_str()));
    EXPECT_FALSE(DebugLog::Open(nullptr) || DebugLog::IsOpen());
    DebugLog::WriteLine(L"lost", true);
    reportFatalError(L"no log");
    EXPECT_EQ(onlyReport(false), L"no log");
    for (HANDLE h : held)
        CloseHandle(h);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 98);
    for (const std::wstring run : {L"an older and longer run", L"new run"}) {
        DebugLogTesting::Reset();
        ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
        DebugLog::WriteLine(run.c_str());
        EXPECT_EQ(lines(), Lines{Narrow(run)});
    }
}

// A thrown error's text comes in the ANSI code page (1252 under the locale ctest sets); the log
// writes it back in the same bytes.
TEST_F(Diag, CodePageOfThrownTexts)
{
    ASSERT_EQ(GetACP(), 1252u) << "Wine did not take the code page from the locale; is it generated?";
    const std::string what = "caf\xe9" + std::string(3000, 'w'); // longer than the first room for it
    reportFatalException(std::runtime_error(what));
    ASSERT_EQ(BoxRecorder::Boxes().size(), 1u);
    EXPECT_EQ(BoxRecorder::Boxes()[0].text, kLead + L"caf\u00e9" + std::wstring(3000, L'w'));
    EXPECT_EQ(lines(), Lines{what});
}

__attribute__((noinline)) void ReadAddress0x10()
{
    int* volatile address = reinterpret_cast<int*>(0x10);
    g_sink = *address;
}

// One box and one log line per fault, naming the record's code, flags, address and parameters (low 32
// bits). A throw passes the guard; a guard inside another takes its fault. Only the first fatal error is
// reported, also against one raised inside the report box's loop; a fault on another thread is kept
// and reported by the next thrown error.
TEST_F(Diag, GuardsReportTheFirstFaultFromItsRecordAndLetThrowsPass)
{
    EXPECT_FALSE(runGuarded([] {
        const ULONG_PTR parameters[3] = {1, 0xFFFFFFFFu, static_cast<ULONG_PTR>(0x1234567890ABCDEFull)};
        RaiseException(0xC0000094u, EXCEPTION_NONCONTINUABLE, 3, parameters);
    }));
    wchar_t want[128];
    std::swprintf(
        want, 128,
        L"Divide by Zero (Integer) : code=C0000094, flag=1, adr=%016llX, param= 00000001 FFFFFFFF 90ABCDEF",
        static_cast<unsigned long long>(
            reinterpret_cast<std::uintptr_t>(lastExceptionRecord.ExceptionAddress)));
    EXPECT_EQ(onlyReport(), want);

    restart();
    EXPECT_THROW(runGuarded([] { throw std::runtime_error("escapes"); }), std::runtime_error);
    EXPECT_FALSE(fatalErrorRecorded());
    EXPECT_TRUE(runGuarded([] { g_sink = !runGuarded(&ReadAddress0x10); }) && g_sink == 1);
    EXPECT_FALSE(runGuarded([] { RaiseException(0xE0ABCDEFu, 0, 0, nullptr); }));
    EXPECT_FALSE(reportFatalError(L"later"));
    EXPECT_FALSE(reportStructuredException());
    EXPECT_EQ(onlyReport().rfind(L"Access Violation", 0), 0u);

    restart();
    {
        BoxRecorder faultingBox(&ReadAddress0x10);
        EXPECT_FALSE(runGuarded(&ReadAddress0x10));
        EXPECT_EQ(BoxRecorder::Boxes().size() + lines().size(), 2u);
    }

    restart();
    bool guarded = true;
    std::thread([&] { guarded = callGuarded([](void*) { ReadAddress0x10(); }, nullptr); }).join();
    EXPECT_FALSE(guarded) << "the guard took the fault";
    EXPECT_TRUE(fatalErrorRecorded());
    EXPECT_TRUE(BoxRecorder::Boxes().empty() && lines().empty()) << "the faulting thread shows nothing";
    EXPECT_TRUE(reportFatalError(L"thrown later"));
    EXPECT_EQ(onlyReport().rfind(L"Access Violation : code=C0000005", 0), 0u);
}

} // namespace
