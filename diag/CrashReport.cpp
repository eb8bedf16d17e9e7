#include "diag/CrashReport.h"

#include <atomic>
#include <cstdint>

#include "diag/CrashReportTesting.h"
#include "diag/CrashText.h"
#include "diag/DebugLog.h"
#include "diag/TextBuffer.h"

namespace PomaroApp {

EXCEPTION_RECORD lastExceptionRecord{};

namespace {
constexpr std::uint64_t kMessageStart = 1024;
constexpr std::uint64_t kWhatStart = 256;

// None -> Keeping (one thread copies the record) -> Kept -> Reported; or None ->
// Reported for a thrown exception. Faults on two threads at once keep the first.
enum ReportState : int
{
    None,
    Keeping,
    Kept,
    Reported
};
std::atomic<int> g_state{None};

void showReport(const wchar_t* text)
{
    DebugLog::WriteLine(text);
    TextBuffer message(kMessageStart);
    DebugLog::ShowErrorBox(CrashText::composeFatalMessage(message, text) ? message.Text() : text);
}

// Takes the report for the kept record; false when there is none or it was given.
bool takeKeptRecord()
{
    int state = g_state.load(std::memory_order_acquire);
    while (state == Keeping) {
        // Another thread is copying its record: a few stores.
        YieldProcessor();
        state = g_state.load(std::memory_order_acquire);
    }
    return state == Kept && g_state.compare_exchange_strong(state, Reported, std::memory_order_acq_rel);
}
} // namespace

LONG crashExceptionFilter(EXCEPTION_POINTERS* pointers)
{
    int expected = None;
    if (g_state.compare_exchange_strong(expected, Keeping, std::memory_order_acq_rel)) {
        if (pointers && pointers->ExceptionRecord)
            lastExceptionRecord = *pointers->ExceptionRecord;
        g_state.store(Kept, std::memory_order_release);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

bool fatalErrorRecorded() { return g_state.load(std::memory_order_acquire) != None; }

bool reportStructuredException()
{
    if (!takeKeptRecord())
        return false;
    const EXCEPTION_RECORD& record = lastExceptionRecord;
    std::uintptr_t parameters[CrashText::kMaximumParameters] = {};
    for (std::size_t i = 0; i < CrashText::kMaximumParameters; ++i)
        parameters[i] = static_cast<std::uintptr_t>(record.ExceptionInformation[i]);

    CrashText::ExceptionFacts facts;
    facts.code = static_cast<std::uint32_t>(record.ExceptionCode);
    facts.flags = static_cast<std::uint32_t>(record.ExceptionFlags);
    facts.address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    facts.parameterCount = static_cast<std::uint32_t>(record.NumberParameters);
    facts.parameters = parameters;

    TextBuffer report;
    showReport(CrashText::formatExceptionReport(report, facts) ? report.Text()
                                                               : CrashText::exceptionName(facts.code));
    return true;
}

bool reportFatalError(const wchar_t* text)
{
    // A fault on the audio thread that is still waiting for its report came first.
    if (reportStructuredException())
        return true;
    int expected = None;
    if (!g_state.compare_exchange_strong(expected, Reported, std::memory_order_acq_rel))
        return false;
    showReport(text ? text : L"");
    return true;
}

void reportFatalException(const std::exception& error)
{
    TextBuffer text(kWhatStart);
    text.AssignFromAnsi(error.what());
    reportFatalError(text.Text());
}

void reportUnknownException() { reportFatalError(CrashText::kUnknownThrownException); }

void CrashReportTesting::Reset()
{
    lastExceptionRecord = EXCEPTION_RECORD{};
    g_state.store(None, std::memory_order_release);
}

} // namespace PomaroApp
