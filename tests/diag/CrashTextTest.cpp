#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "diag/CrashText.h"

using namespace PomaroApp;

namespace {
std::wstring Report(const CrashText::ExceptionFacts& facts)
{
    TextBuffer out;
    EXPECT_TRUE(CrashText::formatExceptionReport(out, facts));
    return out.Text() ? out.Text() : L"<null>";
}
} // namespace

TEST(CrashText, AccessViolationReport)
{
    const std::uintptr_t params[] = {0, 0x10};
    CrashText::ExceptionFacts facts;
    facts.code = 0xC0000005u;
    facts.address = 0x1400015F5u;
    facts.parameterCount = 2;
    facts.parameters = params;
    EXPECT_EQ(Report(facts),
              L"Access Violation : code=C0000005, flag=0, adr=00000001400015F5, param= 00000000 00000010");
}

TEST(CrashText, NoParametersMeansNoParamPart)
{
    CrashText::ExceptionFacts facts;
    facts.code = 0xE0ABCDEFu;
    facts.flags = 1;
    facts.address = 0x7B013D7Eu;
    EXPECT_EQ(Report(facts), L"Unknown Exception : code=E0ABCDEF, flag=1, adr=000000007B013D7E");
}

TEST(CrashText, ParametersPrintTheirLow32BitsAndAtMostFifteen)
{
    std::uintptr_t params[20];
    for (std::uintptr_t i = 0; i < 20; ++i)
        params[i] = i;
    params[0] = static_cast<std::uintptr_t>(0x1234567890ABCDEFull & UINTPTR_MAX);
    CrashText::ExceptionFacts facts;
    facts.code = 0xC0000094u;
    facts.parameterCount = 20; // corrupt: a record holds 15
    facts.parameters = params;
    const std::wstring expected =
        L"Divide by Zero (Integer) : code=C0000094, flag=0, adr=0000000000000000, param="
        L" 90ABCDEF 00000001 00000002 00000003 00000004 00000005 00000006 00000007"
        L" 00000008 00000009 0000000A 0000000B 0000000C 0000000D 0000000E";
    EXPECT_EQ(Report(facts), expected);
}

TEST(CrashText, FatalMessageLeadsWithTheFixedSentence)
{
    TextBuffer out;
    ASSERT_TRUE(CrashText::composeFatalMessage(out, L"disk full"));
    EXPECT_STREQ(out.Text(), L"Sorry, this application encountered fatal error.\n\ndisk full");
    ASSERT_TRUE(CrashText::composeFatalMessage(out, nullptr));
    EXPECT_STREQ(out.Text(), L"Sorry, this application encountered fatal error.\n\n");
}
