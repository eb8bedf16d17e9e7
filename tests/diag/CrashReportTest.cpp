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
volatile int g_sink = 0; // read by nobody, so that no fault is optimised away
bool g_caught = false;

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
void ThrowOut() { throw std::runtime_error("escapes"); }
void NestedGuard() { g_caught = !runGuarded(&ReadAddress0x10); }

class CrashReportTest : public ::testing::Test
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
        DebugLogTesting::Reset();
        CrashReportTesting::Reset();
        BoxRecorder::Boxes().clear();
        DeleteFileW(folder.File(L"PomaroApp.log").c_str());
        g_caught = false;
        ASSERT_TRUE(!withLog || DebugLog::Open(folder.Path().c_str()));
    }
    std::vector<std::string> logLines() const { return LogBodies(folder.File(L"PomaroApp.log")); }
    // The text of the one report box without its lead; the log's one line is the same text.
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

} // namespace

// One box and one log line per fault, naming the record's own code, flags, address and
// parameters (their layout is the crash text's own test).
TEST_F(CrashReportTest, EachFaultIsReportedOnceFromItsRecord)
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
        {&DivideByZero, L"Divide by Zero (Integer) : code=C0000094, ", nullptr},
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
TEST_F(CrashReportTest, ThrowsAreNotTheGuardsAndTheInnermostGuardReports)
{
    EXPECT_THROW(runGuarded(&ThrowOut), std::runtime_error);
    EXPECT_FALSE(fatalErrorRecorded());
    EXPECT_TRUE(runGuarded(&NestedGuard));
    EXPECT_TRUE(g_caught);
    EXPECT_EQ(onlyReport().rfind(L"Access Violation", 0), 0u);
}

// Only the first fatal error is reported: later faults and throws, one raised from inside the
// report box's own message loop, and a thrown error after a fault kept from another thread.
TEST_F(CrashReportTest, OnlyTheFirstFatalErrorIsReported)
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
        EXPECT_EQ(BoxRecorder::Boxes().size() + logLines().size(), 2u);
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
    EXPECT_TRUE(BoxRecorder::Boxes().empty() && logLines().empty()) << "the faulting thread shows nothing";
    EXPECT_TRUE(reportFatalError(L"thrown later"));
    EXPECT_EQ(onlyReport().rfind(L"Access Violation : code=C0000005", 0), 0u);
}

TEST_F(CrashReportTest, ThrownErrorsReportTheirTextWithOrWithoutALog)
{
    const std::string longText = "disk full: " + std::string(300, '#'); // beyond the first 256
    try {
        throw std::runtime_error(longText);
    } catch (const std::exception& error) {
        reportFatalException(error);
    }
    EXPECT_EQ(onlyReport(), std::wstring(longText.begin(), longText.end()));
    restart();
    reportUnknownException();
    EXPECT_EQ(onlyReport(), L"Unknown exception");
    restart(false);
    reportFatalError(L"no log");
    ASSERT_EQ(BoxRecorder::Boxes().size(), 1u);
    EXPECT_EQ(BoxRecorder::Boxes()[0].text, kLead + L"no log");
    EXPECT_TRUE(folder.FileNames().empty());
}
