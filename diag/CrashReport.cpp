#include "diag/CrashReport.h"

#include <cstdint>

#include "diag/CrashText.h"
#include "diag/DebugLog.h"
#include "diag/TextBuffer.h"

EXCEPTION_RECORD lastExceptionRecord{};

namespace {
constexpr std::uint64_t kMessageStart = 1024;
constexpr std::uint64_t kWhatStart = 256;
}

LONG crashExceptionFilter(EXCEPTION_POINTERS* pointers)
{
    if (pointers && pointers->ExceptionRecord)
        lastExceptionRecord = *pointers->ExceptionRecord;
    return EXCEPTION_EXECUTE_HANDLER;
}

void reportStructuredException()
{
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
    if (CrashText::FormatExceptionReport(report, facts))
        reportFatalError(report.Text());
    else
        reportFatalError(CrashText::ExceptionName(facts.code));
}

void reportFatalError(const wchar_t* text)
{
    if (!text)
        text = L"";
    DebugLog::WriteLine(text);
    TextBuffer message(kMessageStart);
    DebugLog::ShowErrorBox(CrashText::ComposeFatalMessage(message, text) ? message.Text() : text);
}

void reportFatalException(const std::exception& error)
{
    TextBuffer text(kWhatStart);
    text.AssignFromAnsi(error.what());
    reportFatalError(text.Text());
}

void reportUnknownException()
{
    reportFatalError(CrashText::kUnknownThrownException);
}
