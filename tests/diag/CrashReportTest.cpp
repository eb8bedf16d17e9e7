#include <gtest/gtest.h>

#include <windows.h>

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
    void SetUp() override { restart(); }
    void TearDown() override
    {
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
    }
    // A fresh run: no log line, no report, no box yet.
    void restart(bool withLog = true)
    {
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
        BoxRecorder::Boxes().clear();
        DeleteFileW(folder.File(L"PomaroApp.log").c_str());
        if (withLog) {
            ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
        }
    }
    std::vector<std::string> logLines() const
    {
        std::vector<std::string> out;
        for (const std::string& line : ReadLines(folder.File(L"PomaroApp.log")))
            out.push_back(HasStamp(line) ? Body(line) : "<no stamp> " + line);
        return out;
    }
    // The report of the one box shown, without the lead sentence; the log's one line is
    // the same text.
    std::wstring onlyReport() const
    {
        const std::vector<RecordedBox>& shown = BoxRecorder::Boxes();
        if (shown.size() != 1 || shown[0].text.rfind(kLead, 0) != 0 || !shown[0].ownerNull ||
            shown[0].style != static_cast<unsigned>(MB_OK | MB_ICONERROR))
            return L"<not one report box>";
        const std::wstring report = shown[0].text.substr(kLead.size());
        return logLines() == std::vector<std::string>{Narrow(report)} ? report : L"<log differs>";
    }

    BoxRecorder boxes;
    TempFolder folder;
};

int g_sink = 0;
bool g_catchAllRan = false, g_caughtInside = false, g_innerGuard = true;

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
    volatile int dividend = 7, zero = 0;
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
        g_caughtInside = std::string(error.what()) == "inner";
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
void FaultsTakenInside()
{
    // The system's own handlers take these before they could reach the guard.
    g_sink = IsBadReadPtr(reinterpret_cast<void*>(0x10), 4) ? 1 : 0;
    OutputDebugStringW(L"guard test\n");
    g_innerGuard = runGuarded(&ReadAddress0x10);
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
        restart();
        g_catchAllRan = false;
        EXPECT_FALSE(runGuarded(c.fault));
        EXPECT_FALSE(g_catchAllRan) << "a catch of anything takes thrown objects only";
        const std::wstring report = onlyReport();
        ASSERT_EQ(report.rfind(c.lead, 0), 0u) << Narrow(report);
        const auto address = reinterpret_cast<std::uintptr_t>(lastExceptionRecord.ExceptionAddress);
        if (c.tail) { // the address read back, so that the digits' layout stays CrashText's test
            const wchar_t* digits = report.c_str() + std::wcslen(c.lead);
            wchar_t* end = nullptr;
            EXPECT_EQ(std::wcstoull(digits, &end, 16), static_cast<unsigned long long>(address));
            EXPECT_EQ(std::wstring(end), c.tail);
        }
        if (c.fault == &FaultBehindCatchAll) { // the faulting instruction, inside the function that read
            EXPECT_GE(address, reinterpret_cast<std::uintptr_t>(&ReadAddress0x10));
            EXPECT_LT(address, reinterpret_cast<std::uintptr_t>(&ReadAddress0x10) + 64);
        }
    }
}

TEST_F(CrashReportTest, ThrownExceptionsAndFaultsHandledInsideAreNotTheGuards)
{
    g_caughtInside = false;
    EXPECT_TRUE(runGuarded(&ThrowAndCatchInside));
    EXPECT_TRUE(g_caughtInside);
    bool caughtOutside = false; // one that escapes passes through the guard
    try {
        runGuarded(&ThrowOut);
    } catch (const std::runtime_error& error) {
        caughtOutside = std::string(error.what()) == "escapes";
    }
    EXPECT_TRUE(caughtOutside);
    EXPECT_TRUE(BoxRecorder::Boxes().empty());
    EXPECT_EQ(lastExceptionRecord.ExceptionCode, 0u);

    g_innerGuard = true;
    EXPECT_TRUE(runGuarded(&FaultsTakenInside));
    EXPECT_EQ(g_sink, 1);             // IsBadReadPtr saw the bad address
    EXPECT_FALSE(g_innerGuard);       // the inner guard took the fault...
    EXPECT_EQ(logLines().size(), 1u); // ...and reported it, once
}

// Later faults are still taken by the guard and thrown errors still end the run, but only
// the first fatal error is reported: also one that comes from the report box's own message
// loop (the timer, the editor), and one kept from another thread.
TEST_F(CrashReportTest, OnlyTheFirstFatalErrorIsReported)
{
    EXPECT_FALSE(runGuarded(&ReadAddress0x10));
    EXPECT_FALSE(runGuarded(&RaiseUnknownCode));
    EXPECT_FALSE(reportFatalError(L"later"));
    EXPECT_FALSE(reportStructuredException());
    EXPECT_TRUE(runGuarded(&ThrowAndCatchInside));
    EXPECT_EQ(onlyReport().rfind(L"Access Violation", 0), 0u);
    EXPECT_EQ(lastExceptionRecord.ExceptionCode, 0xC0000005u);

    for (void (*fatal)() : {&ReadAddress0x10, &ThrowAndReport}) {
        restart();
        BoxRecorder faultingBox(&ReadAddress0x10);
        EXPECT_FALSE(runGuarded(fatal));
        EXPECT_EQ(BoxRecorder::Boxes().size(), 1u);
        EXPECT_EQ(logLines().size(), 1u);
    }

    restart();
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void*) -> DWORD { return callGuarded([](void*) { ReadAddress0x10(); }, nullptr) ? 1 : 0; },
        nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD guarded = 1;
    GetExitCodeThread(thread, &guarded);
    CloseHandle(thread);
    EXPECT_EQ(guarded, 0u) << "the guard took the fault";
    EXPECT_TRUE(fatalErrorRecorded());
    EXPECT_TRUE(BoxRecorder::Boxes().empty()) << "the faulting thread shows nothing";
    EXPECT_TRUE(logLines().empty());
    // A thrown error after it still reports the fault, which came first.
    EXPECT_TRUE(reportFatalError(L"thrown later"));
    EXPECT_FALSE(reportStructuredException());
    const std::wstring report = onlyReport();
    EXPECT_EQ(report.rfind(L"Access Violation : code=C0000005, flag=0, adr=", 0), 0u) << Narrow(report);
    EXPECT_EQ(report.substr(report.size() - 26), L", param= 00000000 00000010");
}

TEST_F(CrashReportTest, ThrownErrorsReportTheirTextWithOrWithoutALog)
{
    // A text longer than the 256 characters its buffer starts with.
    const std::string longText = "disk full: " + std::string(300, '#');
    try {
        throw std::runtime_error(longText);
    } catch (const std::exception& error) {
        reportFatalException(error);
    }
    EXPECT_EQ(onlyReport(), std::wstring(longText.begin(), longText.end()));
    restart();
    try {
        throw 42;
    } catch (...) {
        reportUnknownException();
    }
    EXPECT_EQ(onlyReport(), L"Unknown exception");
    restart(false);
    reportFatalError(L"no log");
    ASSERT_EQ(BoxRecorder::Boxes().size(), 1u);
    EXPECT_EQ(BoxRecorder::Boxes()[0].text, kLead + L"no log");
    EXPECT_TRUE(BoxRecorder::Boxes()[0].captionNull);
    EXPECT_TRUE(folder.FileNames().empty());
}
