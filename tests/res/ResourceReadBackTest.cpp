// Reads the resources linked into this very exe back through the system's own loaders,
// under the numbers other programs and the end-to-end tests address them by: the
// frame's menu, the audio driver dialog template, the icon group and the version block,
// each in Japanese.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ios>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "res/PomaroVersion.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

HINSTANCE self() { return GetModuleHandleW(nullptr); }

std::u16string u16(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

bool sameIgnoringCase(const std::u16string& a, const std::u16string& b)
{
    return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.c_str()), static_cast<int>(a.size()),
                                reinterpret_cast<const wchar_t*>(b.c_str()), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

struct WindowCloser
{
    void operator()(HWND w) const { DestroyWindow(w); }
};
using WindowPtr = std::unique_ptr<std::remove_pointer_t<HWND>, WindowCloser>;

// The bytes of one resource of this module, or an empty view when it is missing.
struct ResourceBytes
{
    const void* data = nullptr;
    DWORD size = 0;
};

ResourceBytes findResource(const wchar_t* type, WORD id, WORD language = kJapanese)
{
    HRSRC info = FindResourceExW(self(), type, MAKEINTRESOURCEW(id), language);
    HGLOBAL handle = info ? LoadResource(self(), info) : nullptr;
    return {handle ? LockResource(handle) : nullptr, info ? SizeofResource(self(), info) : 0};
}

// ---------------------------------------------------------------------------------------------
// Menu 103

TEST(MainMenu, HasTheTwoPopupsWithTheirCommandsInOrder)
{
    ASSERT_NE(findResource(RT_MENU, 103).data, nullptr) << "no Japanese RT_MENU 103";
    const struct
    {
        const char16_t* popup;
        const char16_t* item;
        UINT command;
    } kMenu[] = {{u"ファイル(&F)", u"終了(&X)", 40001}, {u"設定(&C)", u"オーディオドライバ(&A)...", 40002}};

    HMENU menu = LoadMenuW(self(), MAKEINTRESOURCEW(103));
    ASSERT_TRUE(menu) << "LoadMenuW(103) failed, error " << GetLastError();
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    for (UINT p = 0; p < 2; ++p) {
        wchar_t popupText[64] = {}, itemText[64] = {};
        HMENU sub = GetSubMenu(menu, static_cast<int>(p));
        ASSERT_NE(sub, nullptr) << p;
        GetMenuStringW(menu, p, popupText, 64, MF_BYPOSITION);
        EXPECT_EQ(u16(popupText), kMenu[p].popup);
        ASSERT_EQ(GetMenuItemCount(sub), 1);
        GetMenuStringW(sub, 0, itemText, 64, MF_BYPOSITION);
        EXPECT_EQ(u16(itemText), kMenu[p].item);
        EXPECT_EQ(GetMenuItemID(sub, 0), kMenu[p].command);
        EXPECT_EQ(GetMenuState(sub, 0, MF_BYPOSITION) & (MF_POPUP | MF_SEPARATOR | MF_BITMAP), 0u);
    }
    DestroyMenu(menu);
}

// ---------------------------------------------------------------------------------------------
// Dialog 104

// Reads a template's fields in order; every read is bounds-checked, so a truncated or
// malformed template fails instead of reading past the resource.
class TemplateReader
{
public:
    TemplateReader(const void* data, size_t size) : p_(static_cast<const uint8_t*>(data)), size_(size) {}
    template <class T> T get()
    {
        T v{};
        if (ok_ && size_ - pos_ >= sizeof v)
            std::memcpy(&v, p_ + pos_, sizeof v);
        else
            ok_ = false;
        pos_ += ok_ ? sizeof v : 0;
        return v;
    }
    // A NUL-terminated UTF-16 string.
    std::u16string text()
    {
        std::u16string s;
        for (char16_t c = get<char16_t>(); ok_ && c != 0; c = get<char16_t>())
            s.push_back(c);
        return s;
    }
    // A class, menu or title: an ordinal after 0xFFFF, shown as "#<n>", or a string.
    std::u16string nameOrOrdinal()
    {
        const char16_t first = get<char16_t>();
        if (first == 0xFFFF) {
            const std::string n = "#" + std::to_string(get<uint16_t>());
            return std::u16string(n.begin(), n.end());
        }
        return first == 0 ? std::u16string() : first + text();
    }
    void alignTo4()
    {
        const size_t aligned = (pos_ + 3) & ~size_t(3);
        ok_ = ok_ && aligned <= size_;
        pos_ = ok_ ? aligned : pos_;
    }
    bool ok() const { return ok_; }
    size_t left() const { return size_ - pos_; }

private:
    const uint8_t* p_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

struct Control
{
    int id;
    std::u16string windowClass; // "#<atom>" for the system's predefined classes
    std::u16string text;
    uint32_t style;
    int16_t x, y, cx, cy;
};

const std::vector<Control> kControls = {
    {1, u"#128", u"OK", 0x50010001, 139, 182, 50, 14},
    {2, u"#128", u"キャンセル", 0x50010000, 199, 182, 50, 14},
    {1001, u"#128", u"Windowsドライバ", 0x50000009, 17, 21, 69, 10},
    {1002, u"#128", u"ASIOドライバ", 0x50000009, 17, 37, 57, 10},
    {1004, u"#133", u"", 0x50210003, 21, 56, 207, 300},
    {-1, u"#128", u"オーディオドライバの選択", 0x50000007, 7, 7, 303, 77},
    {-1, u"#128", u"現在のオーディオドライバ", 0x50000007, 7, 90, 303, 83},
    {1005, u"#130", u"スタティック", 0x5002008C, 22, 106, 276, 8},
    {1008, u"msctls_trackbar32", u"", 0x50010018, 93, 121, 176, 15}, // by name, matched without case
    {-1, u"#130", u"バッファサイズ", 0x50020000, 22, 124, 42, 8},
    {1007, u"#130", u"0", 0x50020001, 74, 124, 21, 8},
    {1009, u"#128", u"ドライバ設定パネル", 0x50010000, 20, 145, 87, 14},
    {1010, u"#128", u"適用", 0x50010000, 260, 182, 50, 14},
};

TEST(AudioDriverDialog, TemplateIsTheJapaneseDialogExFieldByField)
{
    const ResourceBytes res = findResource(RT_DIALOG, 104);
    ASSERT_NE(res.data, nullptr) << "no Japanese RT_DIALOG 104";
    TemplateReader r(res.data, res.size);
    EXPECT_EQ(r.get<uint16_t>(), 1);      // DIALOGEX: version 1 ...
    EXPECT_EQ(r.get<uint16_t>(), 0xFFFF); // ... and its signature
    EXPECT_EQ(r.get<uint32_t>(), 0u);     // help id
    EXPECT_EQ(r.get<uint32_t>(), 0u);     // extended style
    // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS
    EXPECT_EQ(r.get<uint32_t>(), 0x80C800C8u);
    const uint16_t count = r.get<uint16_t>();
    const int16_t x = r.get<int16_t>(), y = r.get<int16_t>(), cx = r.get<int16_t>(), cy = r.get<int16_t>();
    EXPECT_EQ(std::vector<int>({x, y, cx, cy}), std::vector<int>({0, 0, 317, 203}));
    EXPECT_EQ(r.nameOrOrdinal(), u"") << "the dialog has no menu";
    EXPECT_EQ(r.nameOrOrdinal(), u"") << "the dialog uses the system dialog class";
    EXPECT_EQ(r.text(), u"オーディオドライバ設定");
    EXPECT_EQ(r.get<uint16_t>(), 8); // point size
    r.get<uint16_t>();               // weight
    EXPECT_EQ(r.get<uint8_t>(), 0);  // not italic
    r.get<uint8_t>();                // character set
    EXPECT_EQ(r.text(), u"MS Shell Dlg");

    ASSERT_EQ(count, kControls.size());
    for (const Control& want : kControls) {
        SCOPED_TRACE(testing::Message()
                     << "control id " << want.id << " " << testing::PrintToString(want.text));
        r.alignTo4();
        EXPECT_EQ(r.get<uint32_t>(), 0u); // help id
        EXPECT_EQ(r.get<uint32_t>(), 0u); // extended style
        EXPECT_EQ(r.get<uint32_t>(), want.style) << std::hex << std::showbase;
        const int16_t ix = r.get<int16_t>(), iy = r.get<int16_t>(), icx = r.get<int16_t>(),
                      icy = r.get<int16_t>();
        EXPECT_EQ(std::vector<int>({ix, iy, icx, icy}), std::vector<int>({want.x, want.y, want.cx, want.cy}));
        EXPECT_EQ(static_cast<int32_t>(r.get<uint32_t>()), want.id);
        EXPECT_TRUE(sameIgnoringCase(r.nameOrOrdinal(), want.windowClass));
        EXPECT_EQ(r.nameOrOrdinal(), want.text);
        EXPECT_EQ(r.get<uint16_t>(), 0u); // no creation data
    }
    ASSERT_TRUE(r.ok()) << "not a complete DIALOGEX template";
    EXPECT_LE(r.left(), 3u) << "bytes left over after the last control";
}

INT_PTR CALLBACK quietDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::u16string windowText(HWND w)
{
    wchar_t buffer[256] = {};
    GetWindowTextW(w, buffer, static_cast<int>(std::size(buffer)));
    return u16(buffer);
}

// The dialog manager itself must be able to build every control from the template: a
// class name it cannot resolve would make CreateDialog fail at run time only. What each
// control is, is the template's test above.
TEST(AudioDriverDialog, DialogManagerCreatesEveryControl)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    WindowPtr dialog(CreateDialogParamW(self(), MAKEINTRESOURCEW(104), nullptr, quietDialogProc, 0));
    ASSERT_TRUE(dialog) << "CreateDialogParamW(104) failed, error " << GetLastError();
    EXPECT_EQ(windowText(dialog.get()), u"オーディオドライバ設定");

    int children = 0;
    for (HWND child = GetWindow(dialog.get(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, static_cast<int>(kControls.size()));
    // A real trackbar answers its own messages.
    HWND trackbar = GetDlgItem(dialog.get(), 1008);
    SendMessageW(trackbar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 30));
    EXPECT_EQ(SendMessageW(trackbar, TBM_GETRANGEMAX, 0, 0), 30);
}

// ---------------------------------------------------------------------------------------------
// Icon group 106

#pragma pack(push, 2)
struct GroupIconEntry
{
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST(AppIcon, GroupHoldsTrueColour16And32PixelImages)
{
    const ResourceBytes res = findResource(RT_GROUP_ICON, 106);
    ASSERT_NE(res.data, nullptr) << "no Japanese RT_GROUP_ICON 106";
    ASSERT_GE(res.size, 6 + 2 * sizeof(GroupIconEntry));
    const auto* header = static_cast<const WORD*>(res.data); // reserved, type, count
    EXPECT_EQ(header[1], 1);
    ASSERT_EQ(header[2], 2);
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(header + 3);
    for (int i = 0; i < 2; ++i) {
        const int size = 16 << i;
        SCOPED_TRACE(testing::Message() << "entry " << i);
        EXPECT_EQ(entries[i].width, size);
        EXPECT_EQ(entries[i].height, size);
        EXPECT_EQ(entries[i].bitCount, 32);
        const ResourceBytes image = findResource(RT_ICON, entries[i].id);
        ASSERT_NE(image.data, nullptr);
        EXPECT_EQ(image.size, entries[i].bytesInRes);
    }
}

// Alpha values of an icon's colour image, top-down, as the system rebuilt it.
std::vector<BYTE> iconAlpha(HICON icon, int size)
{
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info))
        return {};
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof bi.bmiHeader, size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(static_cast<size_t>(size) * size);
    BITMAP bm = {};
    HDC dc = GetDC(nullptr);
    const bool ok = info.hbmColor && GetObjectW(info.hbmColor, sizeof bm, &bm) && bm.bmWidth == size &&
                    bm.bmHeight == size &&
                    GetDIBits(dc, info.hbmColor, 0, size, pixels.data(), &bi, DIB_RGB_COLORS) == size;
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    std::vector<BYTE> alpha;
    for (DWORD p : pixels)
        alpha.push_back(static_cast<BYTE>(p >> 24));
    return ok ? alpha : std::vector<BYTE>();
}

TEST(AppIcon, LoadsAtBothSizesWithATransparentSurround)
{
    for (int size : {16, 32}) {
        SCOPED_TRACE(testing::Message() << size << " px");
        HICON icon = static_cast<HICON>(
            LoadImageW(self(), MAKEINTRESOURCEW(106), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ASSERT_TRUE(icon) << "LoadImageW failed, error " << GetLastError();
        const std::vector<BYTE> alpha = iconAlpha(icon, size);
        DestroyIcon(icon);
        ASSERT_EQ(alpha.size(), static_cast<size_t>(size) * size) << "colour image not " << size << " px";
        auto at = [&](int x, int y) { return alpha[static_cast<size_t>(y) * size + x]; };
        EXPECT_EQ(at(0, 0) | at(size - 1, 0) | at(0, size - 1) | at(size - 1, size - 1), 0) << "corners";
        EXPECT_EQ(at(size / 2, size * 3 / 4), 255) << "the body is opaque";
    }
    // The frame window class takes the icon through LoadIconW.
    EXPECT_NE(LoadIconW(self(), MAKEINTRESOURCEW(106)), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Version block

TEST(VersionBlock, ProductNameThroughTheFirstTranslationAndTheProjectVersion)
{
    ASSERT_NE(findResource(RT_VERSION, VS_VERSION_INFO).data, nullptr) << "no Japanese RT_VERSION";
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_FALSE(block.empty()) << "no version resource, error " << GetLastError();
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()));
    auto value = [&](const wchar_t* subBlock) -> void* {
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

    // POMARO_PROJECT_VERSION comes straight from the build's project() call, not through
    // the generated header, so this also proves the header follows the project version.
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    char version[64];
    std::snprintf(version, sizeof version, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    EXPECT_STREQ(version, POMARO_PROJECT_VERSION);
    EXPECT_STREQ(version, POMARO_VERSION_TEXT);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flags";
}

} // namespace
