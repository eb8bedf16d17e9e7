#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "diag/CrashText.h"

using namespace PomaroApp;

TEST(CrashText, ExceptionReportsAndTheFatalMessage)
{
    std::uintptr_t many[20];
    for (std::uintptr_t i = 0; i < 20; ++i)
        many[i] = i;
    many[0] = static_cast<std::uintptr_t>(0x1234567890ABCDEFull & UINTPTR_MAX); // low 32 bits only
    const std::uintptr_t two[] = {0, 0x10};
    const wchar_t* fifteen =
        L"Divide by Zero (Integer) : code=C0000094, flag=0, adr=0000000000000000, param= 90ABCDEF 00000001"
        L" 00000002 00000003 00000004 00000005 00000006 00000007 00000008 00000009 0000000A 0000000B"
        L" 0000000C 0000000D 0000000E";
    const struct
    {
        CrashText::ExceptionFacts facts;
        const wchar_t* report;
    } cases[] = {
        {{0xC0000005u, 0, 0x1400015F5u, 2, two},
         L"Access Violation : code=C0000005, flag=0, adr=00000001400015F5, param= 00000000 00000010"},
        {{0xE0ABCDEFu, 1, 0x7B013D7Eu, 0, nullptr},
         L"Unknown Exception : code=E0ABCDEF, flag=1, adr=000000007B013D7E"},
        // A corrupt count: a record holds at most fifteen.
        {{0xC0000094u, 0, 0, 16, many}, fifteen},
        {{0xC0000094u, 0, 0, 20, many}, fifteen},
    };
    for (const auto& c : cases) {
        TextBuffer out;
        ASSERT_TRUE(CrashText::formatExceptionReport(out, c.facts));
        EXPECT_STREQ(out.Text(), c.report);
    }
    TextBuffer out;
    ASSERT_TRUE(CrashText::composeFatalMessage(out, L"disk full"));
    EXPECT_STREQ(out.Text(), L"Sorry, this application encountered fatal error.\n\ndisk full");
    ASSERT_TRUE(CrashText::composeFatalMessage(out, nullptr));
    EXPECT_STREQ(out.Text(), L"Sorry, this application encountered fatal error.\n\n");
}
