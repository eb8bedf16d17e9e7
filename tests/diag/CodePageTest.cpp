// Run by ctest twice: under a Japanese locale (code page 932) and a Western one (1252).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "DiagTestSupport.h"
#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"
#include "diag/TextBuffer.h"

using namespace PomaroApp;

namespace {

const char kShiftJis[] = "\x95\xa1\x90\x94\x89\xf1\x8c\xc4\x82\xce\x82\xea\x82\xdc\x82\xb5\x82\xbd";
const wchar_t kCalledAgain[] = L"複数回呼ばれました";

class CodePageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* expected = std::getenv("POMARO_EXPECT_CODEPAGE");
        if (!expected)
            GTEST_SKIP()
                << "needs the locale set by ctest (diag_codepage_tests, diag_codepage_western_tests)";
        expectedCodePage = static_cast<unsigned>(std::atoi(expected));
        ASSERT_EQ(GetACP(), expectedCodePage)
            << "Wine did not take the code page from the locale; is the locale generated (locale -a)?";
        DebugLogTesting::Reset();
    }
    void TearDown() override { DebugLogTesting::Reset(); }

    std::string SecondOpenBody()
    {
        EXPECT_TRUE(DebugLog::Open(folder.Path().c_str()));
        EXPECT_TRUE(DebugLog::Open(folder.Path().c_str()));
        const std::vector<std::string> lines = ReadLines(folder.File(L"PomaroApp.log"));
        EXPECT_EQ(lines.size(), 3u);
        return lines.size() == 3 ? Body(lines[1]) : std::string();
    }

    unsigned expectedCodePage = 0;
    TempFolder folder;
};

} // namespace

TEST_F(CodePageTest, JapaneseReachesTheFileInTheAnsiCodePage)
{
    const std::string body = SecondOpenBody();
    if (expectedCodePage == 932)
        EXPECT_EQ(body, std::string("DebugLog::Open() : ") + kShiftJis);
    else
        EXPECT_EQ(body, "DebugLog::Open() : " + std::string(9, '?'));
}

TEST_F(CodePageTest, UnmappableCharactersKeepTheLineShape)
{
    ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
    DebugLog::WriteError(L"CHost::loadVstPlugin()", L"VSTiプラグインを読み込めませんでした", 0x2000ABCDu,
                         false);
    DebugLog::WriteLine(L"next");
    const std::vector<std::string> lines = ReadLines(folder.File(L"PomaroApp.log"));
    ASSERT_EQ(lines.size(), 2u);
    if (expectedCodePage == 932) {
        EXPECT_EQ(Body(lines[0]), "CHost::loadVstPlugin() : VSTi"
                                  "\x83\x76\x83\x89\x83\x4f\x83\x43\x83\x93\x82\xf0\x93\xc7\x82\xdd\x8d\x9e"
                                  "\x82\xdf\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd : 0x2000ABCD");
    } else {
        EXPECT_EQ(Body(lines[0]), "CHost::loadVstPlugin() : VSTi" + std::string(16, '?') + " : 0x2000ABCD");
    }
    EXPECT_EQ(Body(lines[1]), "next");
}

TEST_F(CodePageTest, AnsiTextConvertsFromTheCodePage)
{
    TextBuffer text;
    if (expectedCodePage == 932) {
        ASSERT_TRUE(text.AssignFromAnsi(kShiftJis));
        EXPECT_STREQ(text.Text(), kCalledAgain);
    } else {
        ASSERT_TRUE(text.AssignFromAnsi("caf\xe9"));
        EXPECT_STREQ(text.Text(), L"caf\u00e9");
    }
}
