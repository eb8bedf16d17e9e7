// Loads the resources linked into this very exe through the system's own loaders, under
// the numbers the program and the end-to-end tests address them by: the Japanese texts
// must arrive intact, the ids must resolve.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "res/PomaroVersion.h"

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
    EXPECT_EQ(text(dialog), L"オーディオドライバ設定");
    const struct
    {
        int id;
        const wchar_t *windowClass, *text;
    } kControls[] = {
        {IDOK, L"Button", L"OK"},
        {IDCANCEL, L"Button", L"キャンセル"},
        {1001, L"Button", L"Windowsドライバ"},
        {1002, L"Button", L"ASIOドライバ"},
        {1004, L"ComboBox", L""},
        {-1, L"Button", L"オーディオドライバの選択"},
        {-1, L"Button", L"現在のオーディオドライバ"},
        {1005, L"Static", L"スタティック"},
        {1008, L"msctls_trackbar32", L""},
        {-1, L"Static", L"バッファサイズ"},
        {1007, L"Static", L"0"},
        {1009, L"Button", L"ドライバ設定パネル"},
        {1010, L"Button", L"適用"},
    };
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const auto& want : kControls) {
        SCOPED_TRACE(want.id);
        ASSERT_TRUE(child);
        wchar_t windowClass[64] = {};
        GetClassNameW(child, windowClass, 64);
        EXPECT_EQ(CompareStringOrdinal(windowClass, -1, want.windowClass, -1, TRUE), CSTR_EQUAL);
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), want.id);
        EXPECT_EQ(text(child), want.text);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);
    DestroyWindow(dialog);
}

TEST(Resources, IconOfTrueColour16And32PixelImagesWithATransparentSurround)
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
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, px) << "an image of this size, not a scaled one";
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
        auto alpha = [&](int x, int y) { return pixels[static_cast<size_t>(y) * px + x] >> 24; };
        EXPECT_EQ(alpha(0, 0) | alpha(px - 1, 0) | alpha(0, px - 1) | alpha(px - 1, px - 1), 0u) << px;
        EXPECT_EQ(alpha(px / 2, px * 3 / 4), 255u) << px;
    }
}

// The log's box caption is the product name looked up through the first translation pair.
TEST(Resources, VersionBlockNamesTheProductAndCarriesTheProjectVersion)
{
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_TRUE(!block.empty() &&
                GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()));
    auto value = [&](const wchar_t* subBlock) -> const void* {
        void* v = nullptr;
        UINT length = 0;
        return VerQueryValueW(block.data(), subBlock, &v, &length) && length ? v : nullptr;
    };
    const auto* translation = static_cast<const WORD*>(value(L"\\VarFileInfo\\Translation"));
    ASSERT_NE(translation, nullptr);
    wchar_t name[64];
    swprintf(name, 64, L"\\StringFileInfo\\%04x%04x\\ProductName", translation[0], translation[1]);
    const auto* product = static_cast<const wchar_t*>(value(name));
    EXPECT_STREQ(product ? product : L"<missing>", L"Pomaro");
    // POMARO_PROJECT_VERSION comes straight from the build's project() call.
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value(L"\\"));
    ASSERT_NE(fixed, nullptr);
    char version[64];
    std::snprintf(version, sizeof version, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    EXPECT_STREQ(version, POMARO_PROJECT_VERSION);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flags";
}

} // namespace
