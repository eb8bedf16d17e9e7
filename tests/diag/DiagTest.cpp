// The log and the crash report under Windows. ctest runs the code-page case twice more, under a
// Japanese locale (code page 932) and a Western one (1252).
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "DiagTestSupport.h"
#include "diag/CrashReport.h"
#include "diag/CrashReportTesting.h"
#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"
#include "diag/SehGuard.h"
#include "diag/TextBuffer.h"

using namespace PomaroApp;

namespace {

using Lines = std::vector<std::string>;
const std::wstring kLead = L"Sorry, this application encountered fatal error.\n\n";
volatile int g_sink = 0; // read by nobody, so that no fault is optimised away
bool g_caught = false;

class Diag : public ::testing::Test
{
protected:
    void SetUp() override { restart(); }
    void TearDown() override
    {
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
    }
    void restart(bool withLog = true)
    {
        TearDown();
        BoxRecorder::Boxes().clear();
        DeleteFileW(folder.File(L"PomaroApp.log").c_str());
        g_caught = false;
        ASSERT_TRUE(!withLog || DebugLog::Open(folder.Path().c_str()));
    }
    Lines lines(const std::wstring& name = L"PomaroApp.log") const { return LogBodies(folder.File(name)); }
    // The text of the one report box without its lead; the log's one line is the same text.
    std::wstring onlyReport() const
    {
        const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
        if (shown.size() != 1 || shown[0].text.rfind(kLead, 0) != 0 || !shown[0].ownerNull ||
            shown[0].style != static_cast<unsigned>(MB_OK | MB_ICONERROR))
            return L"<not one report box>";
        const std::wstring report = shown[0].text.substr(kLead.size());
        return lines() == Lines{Narrow(report)} ? report : L"<log differs>";
    }

    BoxRecorder boxes;
    TempFolder folder;
};

// A code the system has no text for ends the line with the code alone; otherwise the system's text
// follows, without its own line end. A box shows the line's body with its line end, with the product
// name as its caption once the version resource was read, also without a log.
TEST_F(Diag, LogLinesAndBoxes)
{
    DebugLog::WriteErrorDetail(L"S", L"LoadLibrary()", L"VST3\\Pomaro.vst3", 0x2000ABCDu);
    DebugLog::WriteError(L"S", L"M", ERROR_FILE_NOT_FOUND, true);
    DebugLog::WriteLine(std::wstring(5000, L'x').c_str());
    DebugLog::WriteModuleInfo();
    DebugLog::WriteLine(L"line box", true);
    const std::string want[] = {
        "S : LoadLibrary\\(\\) : VST3\\\\Pomaro\\.vst3 : 0x2000ABCD",
        "S : M : 0x00000002 : [^\r\n]+",
        std::string(5000, 'x'),
        "Module file name : diag_tests\\.exe",
        "Module type      : 64bit",
        "Module file time : 20[0-9]{2}/[01][0-9]/[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]",
        "Module name      : Pomaro Diag Test",
        "Module version   : 0\\.04\\.0\\.0000",
        "Build type       : Release",
        "OS version       : [0-9]+\\.[0-9]+\\.[0-9]+ .*",
        "Processor architecture : x64",
        "Processor info   : Processors=[1-9][0-9]* Level=[0-9]+ Model=[0-9]+ Stepping=[0-9]+",
        "Processor features :( MMX)?( SSE)? SSE2( SSE3)?( 3DNow!)?( PAE)?( RDTSC)?( "
        "FLOATING_POINT_EMULATED)?",
        "line box"};
    const Lines got = lines();
    ASSERT_EQ(got.size(), std::size(want));
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(std::regex_match(got[i], std::regex(want[i]))) << got[i];

    const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(Narrow(shown[0].text), got[1] + "\r\n");
    EXPECT_EQ(shown[1].text, L"line box\r\n");
    for (const RecordedBox& box : shown)
        EXPECT_TRUE(box.ownerNull && box.style == static_cast<unsigned>(MB_OK | MB_ICONERROR));
    EXPECT_TRUE(shown[0].captionNull);
    EXPECT_EQ(shown[1].caption, L"Pomaro Diag Test");
    restart(false);
    EXPECT_EQ(DebugLog::Caption(), nullptr);
    DebugLog::WriteModuleInfo();
    EXPECT_STREQ(DebugLog::Caption(), L"Pomaro Diag Test");
}

std::thread g_otherWriter;
std::size_t g_linesWhileShown = 0;
std::wstring g_logPath;

// The same thread may log from inside its box; another thread waits for the box.
void LogFromBox()
{
    DebugLog::WriteLine(L"from the box's thread");
    g_otherWriter = std::thread([] { DebugLog::WriteLine(L"from another thread"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_linesWhileShown = LogBodies(g_logPath).size();
}

TEST_F(Diag, ABoxKeepsOtherThreadsWaitingAndLinesNeverInterleave)
{
    g_logPath = folder.File(L"PomaroApp.log");
    {
        BoxRecorder logging(&LogFromBox);
        DebugLog::WriteLine(L"with box", true);
        g_otherWriter.join();
    }
    EXPECT_EQ(g_linesWhileShown, 2u);
    EXPECT_EQ(lines(), (Lines{"with box", "from the box's thread", "from another thread"}));

    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                DebugLog::WriteLine(std::wstring(300 + t, static_cast<wchar_t>(L'A' + t)).c_str());
        });
    for (std::thread& w : writers)
        w.join();
    const Lines got = lines();
    ASSERT_EQ(got.size(), 203u);
    for (size_t i = 3; i < got.size(); ++i)
        ASSERT_EQ(got[i], std::string(300 + (got[i][0] - 'A'), got[i][0]));
}

// Taken names fall back to the next number up to 98; with all taken nothing opens, and a closed
// log writes and shows nothing. A new run empties an old log.
TEST_F(Diag, TheLogTakesTheFirstFreeNameUpTo98)
{
    DebugLogTesting::Reset();
    auto hold = [&](int n) {
        const std::wstring name = n == 1 ? L"PomaroApp.log" : L"PomaroApp(" + std::to_wstring(n) + L").log";
        return CreateFileW(folder.File(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    std::vector<HANDLE> held;
    for (int n = 1; n < 98; ++n)
        held.push_back(hold(n));
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteLine(L"in the last file");
    EXPECT_EQ(lines(L"PomaroApp(98).log"), Lines{"in the last file"});
    DebugLogTesting::Reset();
    held.push_back(hold(98));
    for (HANDLE h : held)
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    for (const std::wstring& where : {std::wstring(), folder.Path() + L"no such folder\\", folder.Path()})
        EXPECT_FALSE(DebugLog::Open(where.c_str()));
    EXPECT_FALSE(DebugLog::Open(nullptr) || DebugLog::IsOpen());
    DebugLog::WriteLine(L"lost", true);
    DebugLog::WriteError(L"S", L"M", ERROR_ACCESS_DENIED, true);
    EXPECT_TRUE(BoxRecorder::Boxes().empty());
    for (HANDLE h : held)
        CloseHandle(h);
    EXPECT_EQ(folder.FileNames().size(), 98u);
    for (const std::wstring& name : folder.FileNames())
        EXPECT_EQ(ReadBytes(folder.File(name)), "") << Narrow(name);
    for (const wchar_t* run : {L"an older and longer run", L"new run"}) {
        DebugLogTesting::Reset();
        ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
        DebugLog::WriteLine(run);
        EXPECT_EQ(lines(), Lines{Narrow(run)});
    }
}

// Unmappable characters become one '?' each and keep the line's shape. An exception's text comes
// in the same code page: the buffer grows when it does not fit, whatever the heap left beyond its
// room, and null empties it.
TEST_F(Diag, CodePageOfTheLogAndOfAnsiTexts)
{
    const char* expected = std::getenv("POMARO_EXPECT_CODEPAGE");
    if (!expected)
        GTEST_SKIP() << "needs the locale set by ctest (diag_codepage_tests, diag_codepage_western_tests)";
    const bool japanese = std::atoi(expected) == 932;
    ASSERT_EQ(GetACP(), static_cast<unsigned>(std::atoi(expected)))
        << "Wine did not take the code page from the locale; is the locale generated (locale -a)?";
    EXPECT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteError(L"CHost::loadVstPlugin()", L"VSTiプラグインを読み込めませんでした", 0x2000ABCDu,
                         false);
    const char* called = "\x95\xa1\x90\x94\x89\xf1\x8c\xc4\x82\xce\x82\xea\x82\xdc\x82\xb5\x82\xbd";
    EXPECT_EQ(lines(),
              (Lines{std::string(40, '-'),
                     "DebugLog::Open() : " + std::string(japanese ? called : std::string(9, '?')),
                     std::string(40, '-'),
                     "CHost::loadVstPlugin() : VSTi" +
                         std::string(japanese ? "\x83\x76\x83\x89\x83\x4f\x83\x43\x83\x93\x82\xf0\x93\xc7"
                                                "\x82\xdd\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1\x82\xc5"
                                                "\x82\xb5\x82\xbd"
                                              : std::string(16, '?')) +
                         " : 0x2000ABCD"}));

    TextBuffer text(8);
    for (std::uint64_t i = 0; i < text.BlockSize(); ++i)
        text.Data()[i] = L'#';
    ASSERT_TRUE(text.AssignFromAnsi(std::string(3000, 'w').c_str()));
    EXPECT_EQ(std::wstring(text.Text()), std::wstring(3000, L'w'));
    ASSERT_TRUE(text.AssignFromAnsi(japanese ? called : "caf\xe9"));
    EXPECT_STREQ(text.Text(), japanese ? L"複数回呼ばれました" : L"caf\u00e9");
    ASSERT_TRUE(text.AssignFromAnsi(nullptr));
    EXPECT_STREQ(text.Text(), L"");
    TextBuffer empty;
    ASSERT_TRUE(empty.AssignFromAnsi("bad_alloc"));
    EXPECT_STREQ(empty.Text(), L"bad_alloc");
}

__attribute__((noinline)) void ReadAddress0x10()
{
    int* volatile address = reinterpret_cast<int*>(0x10);
    g_sink = *address;
}
void FaultBehindCatchAll()
{
    try {
        ReadAddress0x10();
    } catch (...) {
        g_caught = true;
    }
}
void RaiseUnknownCode() { RaiseException(0xE0ABCDEFu, 0, 0, nullptr); }
void RaiseWithParameters()
{
    const ULONG_PTR parameters[3] = {1, 0xFFFFFFFFu, static_cast<ULONG_PTR>(0x1234567890ABCDEFull)};
    RaiseException(0xC0000094u, EXCEPTION_NONCONTINUABLE, 3, parameters);
}
__attribute__((noinline)) int Recurse(int depth)
{
    volatile char page[4096];
    page[0] = static_cast<char>(depth);
    return depth > 1000000 ? page[0] : Recurse(depth + 1) + page[0];
}
void OverflowTheStack() { g_sink = Recurse(0); }
void ThrowOut() { throw std::runtime_error("escapes"); }
void NestedGuard() { g_caught = !runGuarded(&ReadAddress0x10); }

// One box and one log line per fault, naming the record's own code, flags, address and parameters.
TEST_F(Diag, EachFaultIsReportedOnceFromItsRecord)
{
    const struct
    {
        void (*fault)();
        const wchar_t *lead, *tail; // tail after the address; null: the system's parameters vary
    } cases[] = {
        {&FaultBehindCatchAll, L"Access Violation : code=C0000005, flag=0, adr=",
         L", param= 00000000 00000010"},
        {&RaiseUnknownCode, L"Unknown Exception : code=E0ABCDEF, flag=0, adr=", L""},
        {&RaiseWithParameters, L"Divide by Zero (Integer) : code=C0000094, flag=1, adr=",
         L", param= 00000001 FFFFFFFF 90ABCDEF"},
        {&OverflowTheStack, L"Stack Overflow : code=C00000FD, ", nullptr}, // last: it spends the guard page
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.lead));
        restart();
        EXPECT_FALSE(runGuarded(c.fault));
        EXPECT_FALSE(g_caught) << "a catch of anything takes thrown objects only";
        const std::wstring report = onlyReport();
        ASSERT_EQ(report.rfind(c.lead, 0), 0u) << Narrow(report);
        if (!c.tail)
            continue;
        wchar_t* end = nullptr;
        EXPECT_EQ(std::wcstoull(report.c_str() + std::wcslen(c.lead), &end, 16),
                  reinterpret_cast<std::uintptr_t>(lastExceptionRecord.ExceptionAddress));
        EXPECT_EQ(std::wstring(end), c.tail);
    }
}

// A throw passes through the guard; a guard inside another takes its fault and reports it.
TEST_F(Diag, ThrowsAreNotTheGuardsAndTheInnermostGuardReports)
{
    EXPECT_THROW(runGuarded(&ThrowOut), std::runtime_error);
    EXPECT_FALSE(fatalErrorRecorded());
    EXPECT_TRUE(runGuarded(&NestedGuard));
    EXPECT_TRUE(g_caught);
    EXPECT_EQ(onlyReport().rfind(L"Access Violation", 0), 0u);
}

// Only the first fatal error is reported: later faults and throws, one raised from inside the
// report box's own message loop, and a thrown error after a fault kept from another thread.
TEST_F(Diag, OnlyTheFirstFatalErrorIsReported)
{
    EXPECT_FALSE(runGuarded(&ReadAddress0x10));
    EXPECT_FALSE(runGuarded(&RaiseUnknownCode));
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
    HANDLE thread = CreateThread(
        nullptr, 0, [](void*) -> DWORD { return callGuarded([](void*) { ReadAddress0x10(); }, nullptr); },
        nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD guarded = 1;
    GetExitCodeThread(thread, &guarded);
    CloseHandle(thread);
    EXPECT_EQ(guarded, 0u) << "the guard took the fault";
    EXPECT_TRUE(fatalErrorRecorded());
    EXPECT_TRUE(BoxRecorder::Boxes().empty() && lines().empty()) << "the faulting thread shows nothing";
    EXPECT_TRUE(reportFatalError(L"thrown later"));
    EXPECT_EQ(onlyReport().rfind(L"Access Violation : code=C0000005", 0), 0u);
}

TEST_F(Diag, ThrownErrorsReportTheirTextWithOrWithoutALog)
{
    try {
        throw std::runtime_error("disk full");
    } catch (const std::exception& error) {
        reportFatalException(error);
    }
    EXPECT_EQ(onlyReport(), L"disk full");
    restart();
    reportUnknownException();
    EXPECT_EQ(onlyReport(), L"Unknown exception");
    restart(false);
    reportFatalError(L"no log");
    ASSERT_EQ(BoxRecorder::Boxes().size(), 1u);
    EXPECT_EQ(BoxRecorder::Boxes()[0].text, kLead + L"no log");
    EXPECT_TRUE(folder.FileNames().empty());
}

} // namespace
