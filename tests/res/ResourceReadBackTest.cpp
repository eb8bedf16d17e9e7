// Loads the resources linked into this very exe through the system's own loaders, under the
// numbers the program and the end-to-end tests address them by: the Japanese texts must arrive
// intact, the ids must resolve.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

HINSTANCE self() { return GetModuleHandleW(nullptr); }

std::wstring text(HWND window)
{
    wchar_t buffer[128] = {};
    GetWindowTextW(window, buffer, 128);
    return buffer;
}

TEST(Resources, MenuCommandsAndDialogControlsResolveWithTheirJapaneseTexts)
{
    HMENU menu = LoadMenuW(self(), MAKEINTRESOURCEW(103));
    ASSERT_TRUE(menu);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    const wchar_t* kMenu[2][2] = {{L"ファイル(&F)", L"終了(&X)"},
                                  {L"設定(&C)", L"オーディオドライバ(&A)..."}};
    for (UINT p = 0; p < 2; ++p) {
        wchar_t popup[64] = {}, item[64] = {};
        HMENU sub = GetSubMenu(menu, static_cast<int>(p));
        GetMenuStringW(menu, p, popup, 64, MF_BYPOSITION);
        GetMenuStringW(sub, 0, item, 64, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(popup) + L"|" + item, std::wstring(kMenu[p][0]) + L"|" + kMenu[p][1]);
        EXPECT_TRUE(GetMenuItemCount(sub) == 1 && GetMenuItemID(sub, 0) == 40001 + p);
    }
    DestroyMenu(menu);

    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    HWND dialog = CreateDialogParamW(
        self(), MAKEINTRESOURCEW(104), nullptr, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; },
        0);
    ASSERT_TRUE(dialog);
    std::wstring got = text(dialog);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t windowClass[64] = {};
        GetClassNameW(child, windowClass, 64);
        CharLowerW(windowClass);
        got += L"\n" + std::to_wstring(static_cast<short>(GetDlgCtrlID(child))) + L" " + windowClass + L" " +
               text(child);
    }
    DestroyWindow(dialog);
    EXPECT_EQ(got, L"オーディオドライバ設定\n"
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

TEST(Resources, IconOfTrueColourImagesWithATransparentSurround)
{
    for (const int px : {16, 32}) {
        HICON icon = static_cast<HICON>(LoadImageW(self(), MAKEINTRESOURCEW(106), IMAGE_ICON, px, px, 0));
        ASSERT_TRUE(icon);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof bi.bmiHeader, px, -px, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<DWORD> pixels(static_cast<size_t>(px) * px);
        HDC dc = GetDC(nullptr);
        EXPECT_EQ(GetDIBits(dc, info.hbmColor, 0, px, pixels.data(), &bi, DIB_RGB_COLORS), px);
        ReleaseDC(nullptr, dc);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
        auto alpha = [&](int x, int y) { return pixels[static_cast<size_t>(y) * px + x] >> 24; };
        EXPECT_EQ(alpha(0, 0) | alpha(px - 1, 0) | alpha(0, px - 1) | alpha(px - 1, px - 1), 0u) << px;
        EXPECT_EQ(alpha(px / 2, px * 3 / 4), 255u) << px;
    }
}

// The version is the build's project() version, padded to four parts. (The product name is the
// caption of every box the end-to-end tests see.)
TEST(Resources, VersionBlockCarriesTheProjectVersion)
{
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_TRUE(!block.empty() &&
                GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    char version[64];
    std::snprintf(version, sizeof version, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    std::string project = POMARO_PROJECT_VERSION;
    while (std::count(project.begin(), project.end(), '.') < 3)
        project += ".0";
    EXPECT_EQ(version, project);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flags";
}

} // namespace
