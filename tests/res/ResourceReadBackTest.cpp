// Reads the resources linked into this very exe back through the system's own loaders,
// under the numbers other programs and the end-to-end tests address them by: the
// frame's menu, the audio driver dialog template, the icon group and the version block,
// each in Japanese.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "res/PomaroVersion.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

HINSTANCE self() { return GetModuleHandleW(nullptr); }

std::u16string u16(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

// The bytes of one Japanese resource of this module; null when it is missing.
std::pair<const unsigned char*, DWORD> findResource(const wchar_t* type, WORD id)
{
    HRSRC info = FindResourceExW(self(), type, MAKEINTRESOURCEW(id), kJapanese);
    HGLOBAL handle = info ? LoadResource(self(), info) : nullptr;
    return {handle ? static_cast<const unsigned char*>(LockResource(handle)) : nullptr,
            info ? SizeofResource(self(), info) : 0};
}

TEST(MainMenu, HasTheTwoPopupsWithTheirCommandsInOrder)
{
    ASSERT_NE(findResource(RT_MENU, 103).first, nullptr);
    const char16_t* kMenu[2][2] = {{u"ファイル(&F)", u"終了(&X)"},
                                   {u"設定(&C)", u"オーディオドライバ(&A)..."}};
    HMENU menu = LoadMenuW(self(), MAKEINTRESOURCEW(103));
    ASSERT_TRUE(menu);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    for (UINT p = 0; p < 2; ++p) {
        wchar_t popup[64] = {}, item[64] = {};
        HMENU sub = GetSubMenu(menu, static_cast<int>(p));
        ASSERT_NE(sub, nullptr);
        GetMenuStringW(menu, p, popup, 64, MF_BYPOSITION);
        GetMenuStringW(sub, 0, item, 64, MF_BYPOSITION);
        EXPECT_EQ(u16(popup), kMenu[p][0]);
        EXPECT_EQ(u16(item), kMenu[p][1]);
        EXPECT_EQ(GetMenuItemCount(sub), 1);
        EXPECT_EQ(GetMenuItemID(sub, 0), 40001 + p);
    }
    DestroyMenu(menu);
}

// Reads a template's fields in order, bounds-checked: a truncated template fails instead
// of reading past the resource.
struct TemplateReader
{
    const unsigned char* p;
    size_t size, pos = 0;
    bool ok = true;
    template <class T> T get()
    {
        T v{};
        ok = ok && size - pos >= sizeof v;
        if (ok)
            std::memcpy(&v, p + pos, sizeof v), pos += sizeof v;
        return v;
    }
    std::u16string text()
    {
        std::u16string s;
        for (char16_t c = get<char16_t>(); ok && c != 0; c = get<char16_t>())
            s.push_back(c);
        return s;
    }
    // An ordinal after 0xFFFF, shown as "#<n>", or a string.
    std::u16string nameOrOrdinal()
    {
        const char16_t first = get<char16_t>();
        if (first != 0xFFFF)
            return first == 0 ? std::u16string() : first + text();
        const std::string n = "#" + std::to_string(get<uint16_t>());
        return std::u16string(n.begin(), n.end());
    }
};

struct Control
{
    int id;
    const char16_t *windowClass, *text; // "#<atom>" for the system's predefined classes
    uint32_t style;
    std::vector<int> rect;
};

const Control kControls[] = {
    {1, u"#128", u"OK", 0x50010001, {139, 182, 50, 14}},
    {2, u"#128", u"キャンセル", 0x50010000, {199, 182, 50, 14}},
    {1001, u"#128", u"Windowsドライバ", 0x50000009, {17, 21, 69, 10}},
    {1002, u"#128", u"ASIOドライバ", 0x50000009, {17, 37, 57, 10}},
    {1004, u"#133", u"", 0x50210003, {21, 56, 207, 300}},
    {-1, u"#128", u"オーディオドライバの選択", 0x50000007, {7, 7, 303, 77}},
    {-1, u"#128", u"現在のオーディオドライバ", 0x50000007, {7, 90, 303, 83}},
    {1005, u"#130", u"スタティック", 0x5002008C, {22, 106, 276, 8}},
    {1008, u"msctls_trackbar32", u"", 0x50010018, {93, 121, 176, 15}}, // by name, any case
    {-1, u"#130", u"バッファサイズ", 0x50020000, {22, 124, 42, 8}},
    {1007, u"#130", u"0", 0x50020001, {74, 124, 21, 8}},
    {1009, u"#128", u"ドライバ設定パネル", 0x50010000, {20, 145, 87, 14}},
    {1010, u"#128", u"適用", 0x50010000, {260, 182, 50, 14}},
};

TEST(AudioDriverDialog, TemplateIsTheJapaneseDialogExFieldByField)
{
    const auto [data, size] = findResource(RT_DIALOG, 104);
    ASSERT_NE(data, nullptr);
    TemplateReader r{data, size};
    // DIALOGEX version and signature, help id, extended style, then WS_POPUP | WS_CAPTION |
    // WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS.
    EXPECT_EQ((std::vector<uint32_t>{r.get<uint16_t>(), r.get<uint16_t>(), r.get<uint32_t>(),
                                     r.get<uint32_t>(), r.get<uint32_t>()}),
              (std::vector<uint32_t>{1, 0xFFFF, 0, 0, 0x80C800C8u}));
    const uint16_t count = r.get<uint16_t>();
    EXPECT_EQ((std::vector<int>{r.get<int16_t>(), r.get<int16_t>(), r.get<int16_t>(), r.get<int16_t>()}),
              (std::vector<int>{0, 0, 317, 203}));
    // No menu, the system's dialog class, the caption.
    EXPECT_EQ((std::vector<std::u16string>{r.nameOrOrdinal(), r.nameOrOrdinal(), r.text()}),
              (std::vector<std::u16string>{u"", u"", u"オーディオドライバ設定"}));
    EXPECT_EQ(r.get<uint16_t>(), 8); // point size
    r.get<uint16_t>();               // weight
    EXPECT_EQ(r.get<uint8_t>(), 0);  // not italic
    r.get<uint8_t>();                // character set
    EXPECT_EQ(r.text(), u"MS Shell Dlg");
    ASSERT_EQ(count, std::size(kControls));
    for (const Control& want : kControls) {
        SCOPED_TRACE(want.id);
        r.pos = (r.pos + 3) & ~size_t(3);
        EXPECT_EQ(r.get<uint32_t>() | r.get<uint32_t>(), 0u); // help id, extended style
        EXPECT_EQ(r.get<uint32_t>(), want.style);
        EXPECT_EQ((std::vector<int>{r.get<int16_t>(), r.get<int16_t>(), r.get<int16_t>(), r.get<int16_t>()}),
                  want.rect);
        EXPECT_EQ(static_cast<int32_t>(r.get<uint32_t>()), want.id);
        const std::u16string cls = r.nameOrOrdinal();
        EXPECT_EQ(CompareStringOrdinal(reinterpret_cast<const wchar_t*>(cls.c_str()), -1,
                                       reinterpret_cast<const wchar_t*>(want.windowClass), -1, TRUE),
                  CSTR_EQUAL);
        EXPECT_EQ(r.nameOrOrdinal(), want.text);
        EXPECT_EQ(r.get<uint16_t>(), 0u); // no creation data
    }
    ASSERT_TRUE(r.ok && r.pos <= size && size - r.pos <= 3) << "not one complete DIALOGEX template";
}

TEST(AppIcon, GroupOfTrueColour16And32PixelImagesLoadsWithATransparentSurround)
{
#pragma pack(push, 2)
    struct Entry
    {
        BYTE width, height, colorCount, reserved;
        WORD planes, bitCount;
        DWORD bytesInRes;
        WORD id;
    };
#pragma pack(pop)
    const auto [group, size] = findResource(RT_GROUP_ICON, 106);
    ASSERT_NE(group, nullptr);
    ASSERT_GE(size, 6 + 2 * sizeof(Entry));
    const auto* header = reinterpret_cast<const WORD*>(group); // reserved, type, count
    ASSERT_EQ(header[1] * 100 + header[2], 102);
    for (int i = 0; i < 2; ++i) {
        const Entry& e = reinterpret_cast<const Entry*>(header + 3)[i];
        const int px = 16 << i;
        EXPECT_EQ((std::vector<int>{e.width, e.height, e.bitCount}), (std::vector<int>{px, px, 32}));
        EXPECT_EQ(findResource(RT_ICON, e.id).second, e.bytesInRes);
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

TEST(VersionBlock, ProductNameThroughTheFirstTranslationAndTheProjectVersion)
{
    ASSERT_NE(findResource(RT_VERSION, VS_VERSION_INFO).first, nullptr);
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
    auto text = [&](const wchar_t* subBlock) {
        const void* v = value(subBlock);
        return v ? u16(static_cast<const wchar_t*>(v)) : u"<missing>";
    };
    // The log looks the product name up through the first translation pair, exactly so.
    const auto* translation = static_cast<const WORD*>(value(L"\\VarFileInfo\\Translation"));
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation[0], kJapanese);
    EXPECT_EQ(translation[1], 1200);
    EXPECT_EQ(text(L"\\StringFileInfo\\041104b0\\ProductName"), u"Pomaro");
    EXPECT_EQ(text(L"\\StringFileInfo\\041104b0\\FileVersion"), u16(L"" POMARO_VERSION_TEXT));
    EXPECT_EQ(text(L"\\StringFileInfo\\041104b0\\ProductVersion"), u16(L"" POMARO_VERSION_TEXT));
    // POMARO_PROJECT_VERSION comes straight from the build's project() call, so this also
    // proves the generated header follows the project version.
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value(L"\\"));
    ASSERT_NE(fixed, nullptr);
    char version[64];
    std::snprintf(version, sizeof version, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    EXPECT_STREQ(version, POMARO_PROJECT_VERSION);
    EXPECT_STREQ(version, POMARO_VERSION_TEXT);
    EXPECT_TRUE(fixed->dwProductVersionMS == fixed->dwFileVersionMS &&
                fixed->dwProductVersionLS == fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flags";
}

} // namespace
