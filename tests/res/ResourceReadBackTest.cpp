// The menu and dialog linked into this very exe, through the system's loaders under the numbers the
// program and the end-to-end tests address them by: the Japanese texts arrive intact, the ids resolve.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring text(HWND window)
{
    wchar_t buffer[128] = {};
    GetWindowTextW(window, buffer, 128);
    return buffer;
}

TEST(Resources, MenuCommandsAndDialogControlsResolveWithTheirJapaneseTexts)
{
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(103));
    ASSERT_TRUE(menu);
    std::wstring got = std::to_wstring(GetMenuItemCount(menu));
    for (int p = 0; p < GetMenuItemCount(menu); ++p) {
        wchar_t popup[64] = {}, item[64] = {};
        HMENU sub = GetSubMenu(menu, p);
        GetMenuStringW(menu, p, popup, 64, MF_BYPOSITION);
        GetMenuStringW(sub, 0, item, 64, MF_BYPOSITION);
        got += L"\n" + std::wstring(popup) + L" " + std::to_wstring(GetMenuItemCount(sub)) + L" " +
               std::to_wstring(GetMenuItemID(sub, 0)) + L" " + item;
    }
    DestroyMenu(menu);

    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    HWND dialog = CreateDialogParamW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(104), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_TRUE(dialog);
    got += L"\n" + text(dialog);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t windowClass[64] = {};
        GetClassNameW(child, windowClass, 64);
        CharLowerW(windowClass);
        got += L"\n" + std::to_wstring(static_cast<short>(GetDlgCtrlID(child))) + L" " + windowClass + L" " +
               text(child);
    }
    DestroyWindow(dialog);
    EXPECT_EQ(got, L"2\n"
                   L"ファイル(&F) 1 40001 終了(&X)\n"
                   L"設定(&C) 1 40002 オーディオドライバ(&A)...\n"
                   L"オーディオドライバ設定\n"
                   L"1 button OK\n"
                   L"2 button キャンセル\n"
                   L"1001 button Windowsドライバ\n"
                   L"1002 button ASIOドライバ\n"
                   L"1004 combobox \n"
                   L"-1 button オーディオドライバの選択\n"
                   L"-1 button 現在のオーディオドライバ\n"
                   L"1005 static スタティック\n"
                   L"1008 msctls_trackbar32 \n"
                   L"-1 static バッファサイズ\n"
                   L"1007 static 0\n"
                   L"1009 button ドライバ設定パネル\n"
                   L"1010 button 適用");
}

} // namespace
