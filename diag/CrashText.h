#pragma once
// Texts of the crash report, built from the fields of an exception record.
#include <cstddef>
#include <cstdint>

#include "diag/TextBuffer.h"

namespace PomaroApp {

namespace CrashText {

constexpr wchar_t kFatalErrorLead[] = L"Sorry, this application encountered fatal error.\n\n";
constexpr wchar_t kUnknownThrownException[] = L"Unknown exception";
constexpr std::size_t kMaximumParameters = 15; // EXCEPTION_MAXIMUM_PARAMETERS

struct ExceptionFacts
{
    std::uint32_t code = 0;
    std::uint32_t flags = 0;
    std::uintptr_t address = 0;
    std::uint32_t parameterCount = 0;
    const std::uintptr_t* parameters = nullptr;
};

// The English name of a structured exception code; "Unknown Exception" for any other.
const wchar_t* exceptionName(std::uint32_t code) noexcept;

// "<name> : code=XXXXXXXX, flag=d, adr=<pointer>[, param= XXXXXXXX ...]". The address
// is printed as the Microsoft runtime prints %p: all digits of a pointer, upper case.
bool formatExceptionReport(TextBuffer& out, const ExceptionFacts& facts) noexcept;

// The text of the fatal error box: the fixed lead sentence, then the report text.
bool composeFatalMessage(TextBuffer& out, const wchar_t* text) noexcept;

} // namespace CrashText

} // namespace PomaroApp
