#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "DiagTestSupport.h"
#include "diag/CrashReport.h"
#include "diag/CrashReportTesting.h"
#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"
#include "diag/SehGuard.h"

using namespace PomaroApp;

namespace {

const std::wstring kLead = L"Sorry, this application encountered fatal error.\n\n";

class CrashReportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
    }
    void TearDown() override
    {
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
    }

    void OpenLog() { ASSERT_TRUE(DebugLog::Open(folder.Path().c_str())); }
    std::vector<std::string> LogLines() const { return ReadLines(folder.File(L"PomaroApp.log")); }

    // The report text of the one box shown, without the lead sentence.
    std::wstring OnlyReport() const
    {
        const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
        EXPECT_EQ(shown.size(), 1u);
        if (shown.size() != 1)
            return L"";
        EXPECT_EQ(shown[0].text.compare(0, kLead.size(), kLead), 0);
        EXPECT_TRUE(shown[0].ownerNull);
        EXPECT_EQ(shown[0].style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
        return shown[0].text.substr(kLead.size());
    }

    BoxRecorder boxes;
    TempFolder folder;
};

int g_sink = 0;
bool g_catchAllRan = false;
bool g_runtimeCaught = false;
bool g_intCaught = false;
bool g_innerGuardResult = true;

__attribute__((noinline)) void ReadAddress0x10()
{
    int* volatile address = reinterpret_cast<int*>(0x10);
    g_sink = *address;
}

void FaultBehindCatchAll()
{
    // A catch of anything takes thrown objects only, never a hardware fault.
    try {
        ReadAddress0x10();
    } catch (...) {
        g_catchAllRan = true;
    }
}

void RaiseUnknownCode() { RaiseException(0xE0ABCDEFu, 0, 0, nullptr); }

void RaiseWithParameters()
{
    const ULONG_PTR parameters[3] = {1, 0xFFFFFFFFu, static_cast<ULONG_PTR>(0x1234567890ABCDEFull)};
    RaiseException(0xC0000094u, EXCEPTION_NONCONTINUABLE, 3, parameters);
}

void DivideByZero()
{
    volatile int dividend = 7;
    volatile int zero = 0;
    g_sink = dividend / zero;
}

__attribute__((noinline)) int Recurse(int depth)
{
    volatile char page[4096];
    page[0] = static_cast<char>(depth);
    return depth > 1000000 ? page[0] : Recurse(depth + 1) + page[0];
}

void OverflowTheStack() { g_sink = Recurse(0); }

void ThrowAndCatchInside()
{
    try {
        throw std::runtime_error("inner");
    } catch (const std::runtime_error& error) {
        g_runtimeCaught = std::string(error.what()) == "inner";
    }
    try {
        throw 7;
    } catch (int value) {
        g_intCaught = value == 7;
    }
}

void ThrowOut() { throw std::runtime_error("escapes"); }

void ThrowAndReport()
{
    try {
        throw std::runtime_error("disk full");
    } catch (const std::exception& error) {
        reportFatalException(error);
    }
}

DWORD WINAPI FaultOnAnotherThread(void*)
{
    return callGuarded([](void*) { ReadAddress0x10(); }, nullptr) ? 1 : 0;
}

void FaultsTakenInside()
{
    // The system's own handlers take these before they could reach the guard.
    g_sink = IsBadReadPtr(reinterpret_cast<void*>(0x10), 4) ? 1 : 0;
    OutputDebugStringW(L"guard test\n");
    g_innerGuardResult = runGuarded(&ReadAddress0x10);
}

} // namespace

// Each fault through the guard: one box and one log line, with the record's own code,
// flags, address and parameters (how they are written out is CrashText's test).
TEST_F(CrashReportTest, EachFaultIsReportedOnceFromItsRecord)
{
    const struct
    {
        void (*fault)();
        const wchar_t* lead;
        const wchar_t* tail; // after the address; null: the system's parameters vary
    } cases[] = {
        {&FaultBehindCatchAll, L"Access Violation : code=C0000005, flag=0, adr=",
         L", param= 00000000 00000010"},
        {&RaiseUnknownCode, L"Unknown Exception : code=E0ABCDEF, flag=0, adr=", L""},
        {&RaiseWithParameters, L"Divide by Zero (Integer) : code=C0000094, flag=1, adr=",
         L", param= 00000001 FFFFFFFF 90ABCDEF"},
        {&DivideByZero, L"Divide by Zero (Integer) : code=C0000094, ", nullptr},
        {&OverflowTheStack, L"Stack Overflow : code=C00000FD, ", nullptr}, // last: it spends the guard page
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.lead));
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
        BoxRecorder::Boxes().clear();
        OpenLog();
        g_catchAllRan = false;
        EXPECT_FALSE(runGuarded(c.fault));
        EXPECT_FALSE(g_catchAllRan); // a catch of anything takes thrown objects only
        const std::wstring report = OnlyReport();
        ASSERT_EQ(report.compare(0, std::wcslen(c.lead), c.lead), 0) << Narrow(report);
        const auto address = reinterpret_cast<std::uintptr_t>(lastExceptionRecord.ExceptionAddress);
        if (c.tail) {
            const std::wstring rest = report.substr(std::wcslen(c.lead));
            EXPECT_EQ(std::wcstoull(rest.substr(0, 16).c_str(), nullptr, 16), address);
            EXPECT_EQ(rest.substr(std::min<size_t>(16, rest.size())), c.tail);
        }
        if (c.fault == &FaultBehindCatchAll) { // the faulting instruction, inside the function that read
            EXPECT_GE(address, reinterpret_cast<std::uintptr_t>(&ReadAddress0x10));
            EXPECT_LT(address, reinterpret_cast<std::uintptr_t>(&ReadAddress0x10) + 64);
        }
        const std::vector<std::string> lines = LogLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(HasStamp(lines[0]));
        EXPECT_EQ(Body(lines[0]), Narrow(report));
    }
}

TEST_F(CrashReportTest, ThrownExceptionsAreLeftToTheirOwnCatch)
{
    g_runtimeCaught = g_intCaught = false;
    EXPECT_TRUE(runGuarded(&ThrowAndCatchInside));
    EXPECT_TRUE(g_runtimeCaught);
    EXPECT_TRUE(g_intCaught);
    bool caughtOutside = false; // one that escapes passes through the guard
    try {
        runGuarded(&ThrowOut);
    } catch (const std::runtime_error& error) {
        caughtOutside = std::string(error.what()) == "escapes";
    }
    EXPECT_TRUE(caughtOutside);
    EXPECT_TRUE(BoxRecorder::Boxes().empty());
    EXPECT_EQ(lastExceptionRecord.ExceptionCode, 0u);
}

TEST_F(CrashReportTest, FaultsHandledInsideNeverReachTheOuterGuard)
{
    g_innerGuardResult = true;
    EXPECT_TRUE(runGuarded(&FaultsTakenInside));
    EXPECT_EQ(g_sink, 1);                       // IsBadReadPtr saw the bad address
    EXPECT_FALSE(g_innerGuardResult);           // the inner guard took the fault...
    EXPECT_EQ(BoxRecorder::Boxes().size(), 1u); // ...and reported it, once
}

TEST_F(CrashReportTest, OnlyTheFirstFatalErrorIsReported)
{
    OpenLog();
    EXPECT_FALSE(runGuarded(&ReadAddress0x10));
    // Later faults are still taken by the guard, and thrown errors still end the run,
    // but neither is reported again.
    EXPECT_FALSE(runGuarded(&RaiseUnknownCode));
    EXPECT_FALSE(reportFatalError(L"later"));
    EXPECT_FALSE(reportStructuredException());
    EXPECT_TRUE(runGuarded(&ThrowAndCatchInside));
    ASSERT_EQ(BoxRecorder::Boxes().size(), 1u);
    EXPECT_EQ(lastExceptionRecord.ExceptionCode, 0xC0000005u);
    EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(CrashReportTest, AFaultWhileTheReportIsOnScreenMakesNoSecondReport)
{
    // The box's message loop runs the timer and the editor: one of them faults.
    const struct
    {
        const char* name;
        void (*fatal)();
    } cases[] = {{"structured", &ReadAddress0x10}, {"thrown", &ThrowAndReport}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
        OpenLog();
        BoxRecorder faultingBox(&ReadAddress0x10);
        EXPECT_FALSE(runGuarded(c.fatal));
        EXPECT_EQ(BoxRecorder::Boxes().size(), 1u);
        EXPECT_EQ(LogLines().size(), 1u);
    }
}

TEST_F(CrashReportTest, AFaultOnAnotherThreadIsKeptAndReportedByThisOne)
{
    OpenLog();
    HANDLE thread = CreateThread(nullptr, 0, &FaultOnAnotherThread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD guarded = 1;
    GetExitCodeThread(thread, &guarded);
    CloseHandle(thread);
    EXPECT_EQ(guarded, 0u) << "the guard took the fault";
    EXPECT_TRUE(fatalErrorRecorded());
    EXPECT_TRUE(BoxRecorder::Boxes().empty()) << "the faulting thread shows nothing";
    EXPECT_TRUE(LogLines().empty());

    // A thrown error after it still reports the fault, which came first.
    EXPECT_TRUE(reportFatalError(L"thrown later"));
    EXPECT_FALSE(reportStructuredException());
    const std::wstring report = OnlyReport();
    EXPECT_EQ(report.rfind(L"Access Violation : code=C0000005, flag=0, adr=", 0), 0u) << Narrow(report);
    EXPECT_EQ(report.substr(report.size() - 26), L", param= 00000000 00000010");
    EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(CrashReportTest, ThrownExceptionReports)
{
    // An exception text longer than the 256 characters its buffer starts with.
    const std::string longText = "disk full: " + std::string(300, '#');
    const struct
    {
        void (*thrower)(const std::string&);
        std::wstring text;
    } cases[] = {{[](const std::string& what) { throw std::runtime_error(what); },
                  std::wstring(longText.begin(), longText.end())},
                 {[](const std::string&) { throw 42; }, L"Unknown exception"}};
    for (const auto& c : cases) {
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
        BoxRecorder::Boxes().clear();
        OpenLog();
        try {
            c.thrower(longText);
        } catch (const std::exception& error) {
            reportFatalException(error);
        } catch (...) {
            reportUnknownException();
        }
        const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, kLead + c.text);
        const std::vector<std::string> lines = LogLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(Body(lines[0]), Narrow(c.text));
    }
}

TEST_F(CrashReportTest, ReportWithoutLogStillShowsTheBox)
{
    reportFatalError(L"no log");
    ASSERT_EQ(BoxRecorder::Boxes().size(), 1u);
    EXPECT_EQ(BoxRecorder::Boxes()[0].text, kLead + L"no log");
    EXPECT_TRUE(BoxRecorder::Boxes()[0].captionNull);
    EXPECT_TRUE(folder.FileNames().empty());
}
