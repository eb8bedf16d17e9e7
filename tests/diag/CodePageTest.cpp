// Run by ctest twice: under a Japanese locale (code page 932) and a Western one (1252).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "DiagTestSupport.h"
#include "diag/DebugLog.h"
#include "diag/DebugLogTesting.h"
#include "diag/TextBuffer.h"

using namespace PomaroApp;

TEST(CodePage, LogLinesAndAnsiTextFollowTheAnsiCodePage)
{
    const char* expected = std::getenv("POMARO_EXPECT_CODEPAGE");
    if (!expected)
        GTEST_SKIP() << "needs the locale set by ctest (diag_codepage_tests, diag_codepage_western_tests)";
    const bool japanese = std::atoi(expected) == 932;
    ASSERT_EQ(GetACP(), static_cast<unsigned>(std::atoi(expected)))
        << "Wine did not take the code page from the locale; is the locale generated (locale -a)?";
    DebugLogTesting::Reset();
    {
        TempFolder folder;
        ASSERT_TRUE(DebugLog::Open(folder.Path().c_str()));
        EXPECT_TRUE(DebugLog::Open(folder.Path().c_str())); // its line is in Japanese
        DebugLog::WriteError(L"CHost::loadVstPlugin()", L"VSTiプラグインを読み込めませんでした", 0x2000ABCDu,
                             false);
        DebugLog::WriteLine(L"next");
        DebugLogTesting::Reset();
        const std::vector<std::string> lines = LogBodies(folder.File(L"PomaroApp.log"));
        // Unmappable characters become one '?' each and keep the line's shape.
        const std::vector<std::string> want = {
            std::string(40, '-'),
            std::string("DebugLog::Open() : ") +
                (japanese ? "\x95\xa1\x90\x94\x89\xf1\x8c\xc4\x82\xce\x82\xea\x82\xdc\x82\xb5\x82\xbd"
                          : std::string(9, '?')),
            std::string(40, '-'),
            "CHost::loadVstPlugin() : VSTi" +
                std::string(japanese
                                ? "\x83\x76\x83\x89\x83\x4f\x83\x43\x83\x93\x82\xf0\x93\xc7\x82\xdd\x8d\x9e"
                                  "\x82\xdf\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd"
                                : std::string(16, '?')) +
                " : 0x2000ABCD",
            "next"};
        EXPECT_EQ(lines, want);
    }

    // An exception's text comes in the same code page: the buffer grows when it does not
    // fit, whatever the heap left beyond its room, and null empties it.
    TextBuffer text(8);
    for (std::uint64_t i = 0; i < text.BlockSize(); ++i)
        text.Data()[i] = L'#';
    const std::string what(3000, 'w');
    ASSERT_TRUE(text.AssignFromAnsi(what.c_str()));
    EXPECT_EQ(std::wstring(text.Text()), std::wstring(3000, L'w'));
    const char* native =
        japanese ? "\x95\xa1\x90\x94\x89\xf1\x8c\xc4\x82\xce\x82\xea\x82\xdc\x82\xb5\x82\xbd" : "caf\xe9";
    ASSERT_TRUE(text.AssignFromAnsi(native));
    EXPECT_EQ(std::wstring(text.Text()), japanese ? L"複数回呼ばれました" : L"caf\u00e9");
    ASSERT_TRUE(text.AssignFromAnsi(nullptr));
    EXPECT_STREQ(text.Text(), L"");
    TextBuffer empty;
    ASSERT_TRUE(empty.AssignFromAnsi("bad_alloc"));
    EXPECT_STREQ(empty.Text(), L"bad_alloc");
}
