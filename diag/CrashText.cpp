#include "diag/CrashText.h"

#include "diag/LogText.h"

namespace PomaroApp {

namespace CrashText {

namespace {
struct NamedCode
{
    std::uint32_t code;
    const wchar_t* name;
};

constexpr NamedCode kNames[] = {
    {0x80000001u, L"Guard Page"},
    {0x80000002u, L"Datatype Misalignment"},
    {0x80000003u, L"Breakpoint"},
    {0x80000004u, L"Single Step"},
    {0xC0000005u, L"Access Violation"},
    {0xC0000006u, L"In Page Error"},
    {0xC0000008u, L"Invalid Handle"},
    {0xC000001Du, L"Illegal Instruction"},
    {0xC0000025u, L"Noncontinuable Exception"},
    {0xC0000026u, L"Invalid Disposition"},
    {0xC000008Cu, L"Array Bounds Exceeded"},
    {0xC000008Du, L"Denormal Floating-point Operand"},
    {0xC000008Eu, L"Divide by Zero (floating-point)"},
    {0xC000008Fu, L"Inexact Result (floating-point)"},
    {0xC0000090u, L"Invalid Operation (floating-point)"},
    {0xC0000091u, L"Overflow (floating-point)"},
    {0xC0000092u, L"Stack Check (floating-point)"},
    {0xC0000093u, L"Underflow (floating-point)"},
    {0xC0000094u, L"Divide by Zero (Integer)"},
    {0xC0000095u, L"Overflow (Integer)"},
    {0xC0000096u, L"Privileged Instruction"},
    {0xC00000FDu, L"Stack Overflow"},
};

constexpr std::size_t kReportStart = 256;
} // namespace

const wchar_t* exceptionName(std::uint32_t code) noexcept
{
    for (const NamedCode& entry : kNames)
        if (entry.code == code)
            return entry.name;
    return L"Unknown Exception";
}

bool formatExceptionReport(TextBuffer& out, const ExceptionFacts& facts) noexcept
{
    const wchar_t* name = exceptionName(facts.code);
    if (!out.Reserve(kReportStart))
        return false;
    if (!LogText::format(out.Data(), kReportStart, L"%ls : code=%08X, flag=%d, adr=%0*llX", name,
                         static_cast<unsigned>(facts.code), static_cast<int>(facts.flags),
                         static_cast<int>(2 * sizeof(void*)), static_cast<unsigned long long>(facts.address)))
        return false;
    // A record never holds more than 15 parameters; a larger count is corrupt.
    std::uint32_t count = facts.parameterCount;
    if (count > kMaximumParameters)
        count = kMaximumParameters;
    if (count == 0 || !facts.parameters)
        return true;
    if (!out.Append(L", param="))
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        wchar_t one[16];
        if (!LogText::format(one, 16, L" %08X", static_cast<unsigned>(facts.parameters[i] & 0xFFFFFFFFu)) ||
            !out.Append(one))
            return false;
    }
    return true;
}

bool composeFatalMessage(TextBuffer& out, const wchar_t* text) noexcept
{
    return out.Assign(kFatalErrorLead) && out.Append(text);
}

} // namespace CrashText

} // namespace PomaroApp
