#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "diag/CrashText.h"

namespace {
std::wstring Report(const CrashText::ExceptionFacts& facts)
{
    TextBuffer out;
    EXPECT_TRUE(CrashText::FormatExceptionReport(out, facts));
    return out.Text() ? out.Text() : L"<null>";
}

std::wstring PointerDigits(std::uintptr_t value)
{
    const wchar_t* hex = L"0123456789ABCDEF";
    std::wstring digits(2 * sizeof(void*), L'0');
    for (std::size_t i = digits.size(); i-- > 0; value >>= 4)
        digits[i] = hex[value & 0xF];
    return digits;
}
}

TEST(CrashText, AccessViolationReport)
{
    const std::uintptr_t params[] = {0, 0x10};
    CrashText::ExceptionFacts facts;
    facts.code = 0xC0000005u;
    facts.address = 0x1400015F5u;
    facts.parameterCount = 2;
    facts.parameters = params;
    EXPECT_EQ(Report(facts), L"Access Violation : code=C0000005, flag=0, adr=" + PointerDigits(0x1400015F5u)
                                 + L", param= 00000000 00000010");
}

TEST(CrashText, NoParametersMeansNoParamPart)
{
    CrashText::ExceptionFacts facts;
    facts.code = 0xE0ABCDEFu;
    facts.flags = 1;
    facts.address = 0x7B013D7Eu;
    EXPECT_EQ(Report(facts), L"Unknown Exception : code=E0ABCDEF, flag=1, adr=" + PointerDigits(0x7B013D7Eu));
}

TEST(CrashText, ParametersPrintTheirLow32BitsAndAtMostFifteen)
{
    std::uintptr_t params[20];
    for (std::uintptr_t i = 0; i < 20; ++i)
        params[i] = i;
    params[0] = static_cast<std::uintptr_t>(0x1234567890ABCDEFull & UINTPTR_MAX);
    CrashText::ExceptionFacts facts;
    facts.code = 0xC0000094u;
    facts.parameterCount = 20;   // corrupt: a record holds 15
    facts.parameters = params;
    std::wstring expected = L"Divide by Zero (Integer) : code=C0000094, flag=0, adr=" + PointerDigits(0) + L", param=";
    expected += L" 90ABCDEF";
    for (int i = 1; i < 15; ++i) {
        wchar_t one[16];
        std::swprintf(one, 16, L" %08X", i);
        expected += one;
    }
    EXPECT_EQ(Report(facts), expected);
}

TEST(CrashText, FatalMessageLeadsWithTheFixedSentence)
{
    TextBuffer out;
    ASSERT_TRUE(CrashText::ComposeFatalMessage(out, L"disk full"));
    EXPECT_STREQ(out.Text(), L"Sorry, this application encountered fatal error.\n\ndisk full");
    ASSERT_TRUE(CrashText::ComposeFatalMessage(out, nullptr));
    EXPECT_STREQ(out.Text(), L"Sorry, this application encountered fatal error.\n\n");
}
