// Reads the resources linked into this very exe back through the system's own loaders
// and compares them with the tables the program's windows are built from: the frame's
// menu, the audio driver dialog template, the icon group and the version block.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ios>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "res/PomaroVersion.h"
#include "res/resource.h"
#include "tests/res/DialogTemplateReader.h"

namespace {

using PomaroTest::DialogItem;
using PomaroTest::DialogTemplate;
using PomaroTest::DialogTemplateReader;

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

HINSTANCE self() { return GetModuleHandleW(nullptr); }

std::u16string u16(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }
const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

struct MenuCloser { void operator()(HMENU m) const { DestroyMenu(m); } };
struct IconCloser { void operator()(HICON i) const { DestroyIcon(i); } };
struct GdiCloser { void operator()(HGDIOBJ o) const { DeleteObject(o); } };
struct WindowCloser { void operator()(HWND w) const { DestroyWindow(w); } };
using MenuPtr = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuCloser>;
using IconPtr = std::unique_ptr<std::remove_pointer_t<HICON>, IconCloser>;
using BitmapPtr = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiCloser>;
using WindowPtr = std::unique_ptr<std::remove_pointer_t<HWND>, WindowCloser>;

// The bytes of one resource of this module, or an empty view when it is missing.
struct ResourceBytes {
    const void* data = nullptr;
    DWORD size = 0;
};

ResourceBytes findResource(const wchar_t* type, WORD id, WORD language) {
    HRSRC info = FindResourceExW(self(), type, MAKEINTRESOURCEW(id), language);
    if (!info)
        return {};
    HGLOBAL handle = LoadResource(self(), info);
    return {handle ? LockResource(handle) : nullptr, SizeofResource(self(), info)};
}

// ---------------------------------------------------------------------------------------------
// Menu 103

struct ExpectedMenuItem {
    const char16_t* text;
    UINT command;
};

struct ExpectedPopup {
    const char16_t* text;
    std::vector<ExpectedMenuItem> items;
};

const std::vector<ExpectedPopup> kMenu = {
    {u"ファイル(&F)", {{u"終了(&X)", 40001}}},
    {u"設定(&C)", {{u"オーディオドライバ(&A)...", 40002}}},
};

struct MenuEntry {
    UINT type = 0;
    UINT id = 0;
    HMENU subMenu = nullptr;
    std::u16string text;
};

MenuEntry menuEntry(HMENU menu, UINT position) {
    wchar_t buffer[128] = {};
    MENUITEMINFOW mii = {};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
    mii.dwTypeData = buffer;
    mii.cch = static_cast<UINT>(std::size(buffer));
    MenuEntry e;
    if (!GetMenuItemInfoW(menu, position, TRUE, &mii)) {
        ADD_FAILURE() << "GetMenuItemInfoW failed at position " << position;
        return e;
    }
    e.type = mii.fType;
    e.id = mii.wID;
    e.subMenu = mii.hSubMenu;
    e.text = u16(buffer);
    return e;
}

TEST(MainMenu, HasTheTwoPopupsWithTheirCommandsInOrder) {
    ASSERT_EQ(IDR_MAINMENU, 103);
    ASSERT_EQ(IDM_FILE_EXIT, 40001);
    ASSERT_EQ(IDM_SETTINGS_AUDIODRIVER, 40002);

    MenuPtr menu(LoadMenuW(self(), MAKEINTRESOURCEW(IDR_MAINMENU)));
    ASSERT_TRUE(menu) << "LoadMenuW(103) failed, error " << GetLastError();
    ASSERT_EQ(GetMenuItemCount(menu.get()), static_cast<int>(kMenu.size()));

    for (UINT p = 0; p < kMenu.size(); ++p) {
        SCOPED_TRACE(testing::Message() << "popup " << p);
        MenuEntry popup = menuEntry(menu.get(), p);
        EXPECT_EQ(popup.type, static_cast<UINT>(MFT_STRING));
        EXPECT_EQ(popup.text, kMenu[p].text);
        ASSERT_NE(popup.subMenu, nullptr);
        ASSERT_EQ(GetMenuItemCount(popup.subMenu), static_cast<int>(kMenu[p].items.size()));
        for (UINT i = 0; i < kMenu[p].items.size(); ++i) {
            MenuEntry item = menuEntry(popup.subMenu, i);
            EXPECT_EQ(item.type, static_cast<UINT>(MFT_STRING));
            EXPECT_EQ(item.text, kMenu[p].items[i].text);
            EXPECT_EQ(item.id, kMenu[p].items[i].command);
            EXPECT_EQ(item.subMenu, nullptr);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Dialog 104

constexpr uint16_t kButtonAtom = 0x0080, kStaticAtom = 0x0082, kComboBoxAtom = 0x0085;

// Atom under which a dialog template stores one of the system's predefined classes; 0 for
// any other class, which the template stores by name.
uint16_t predefinedClassAtom(const std::u16string& name) {
    if (name == u"BUTTON") return kButtonAtom;
    if (name == u"STATIC") return kStaticAtom;
    if (name == u"COMBOBOX") return kComboBoxAtom;
    return 0;
}

bool sameIgnoringCase(const std::u16string& a, const std::u16string& b) {
    return CompareStringOrdinal(wide(a.c_str()), static_cast<int>(a.size()),
                                wide(b.c_str()), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

struct ExpectedControl {
    int id;
    const char16_t* windowClass;
    const char16_t* text;
    uint32_t style;
    int16_t x, y, cx, cy;
};

const std::vector<ExpectedControl> kControls = {
    {1, u"BUTTON", u"OK", 0x50010001, 139, 182, 50, 14},
    {2, u"BUTTON", u"キャンセル", 0x50010000, 199, 182, 50, 14},
    {1001, u"BUTTON", u"Windowsドライバ", 0x50000009, 17, 21, 69, 10},
    {1002, u"BUTTON", u"ASIOドライバ", 0x50000009, 17, 37, 57, 10},
    {1004, u"COMBOBOX", u"", 0x50210003, 21, 56, 207, 300},
    {-1, u"BUTTON", u"オーディオドライバの選択", 0x50000007, 7, 7, 303, 77},
    {-1, u"BUTTON", u"現在のオーディオドライバ", 0x50000007, 7, 90, 303, 83},
    {1005, u"STATIC", u"スタティック", 0x5002008C, 22, 106, 276, 8},
    {1008, u"msctls_trackbar32", u"", 0x50010018, 93, 121, 176, 15},
    {-1, u"STATIC", u"バッファサイズ", 0x50020000, 22, 124, 42, 8},
    {1007, u"STATIC", u"0", 0x50020001, 74, 124, 21, 8},
    {1009, u"BUTTON", u"ドライバ設定パネル", 0x50010000, 20, 145, 87, 14},
    {1010, u"BUTTON", u"適用", 0x50010000, 260, 182, 50, 14},
};

TEST(AudioDriverDialog, ControlIdsInTheHeaderMatchTheTable) {
    EXPECT_EQ(IDD_AUDIODRIVER, 104);
    EXPECT_EQ(IDC_RADIO_WASAPI, 1001);
    EXPECT_EQ(IDC_RADIO_ASIO, 1002);
    EXPECT_EQ(IDC_DRIVER_COMBO, 1004);
    EXPECT_EQ(IDC_CURRENT_DRIVER, 1005);
    EXPECT_EQ(IDC_BUFFER_SIZE_TEXT, 1007);
    EXPECT_EQ(IDC_BUFFER_SIZE_TRACKBAR, 1008);
    EXPECT_EQ(IDC_CONTROL_PANEL, 1009);
    EXPECT_EQ(IDC_APPLY, 1010);
    EXPECT_EQ(IDC_STATIC, -1);
}

TEST(AudioDriverDialog, TemplateIsTheJapaneseDialogExFieldByField) {
    ResourceBytes res = findResource(RT_DIALOG, IDD_AUDIODRIVER, kJapanese);
    ASSERT_NE(res.data, nullptr) << "no Japanese RT_DIALOG 104";

    DialogTemplate t;
    ASSERT_TRUE(DialogTemplateReader(res.data, res.size).read(t)) << "not a complete DIALOGEX template";
    EXPECT_LE(res.size - t.bytesUsed, 3u) << "bytes left over after the last control";

    // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS
    EXPECT_EQ(t.style, 0x80C800C8u) << std::hex << std::showbase << "style " << t.style;
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.helpId, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 317);
    EXPECT_EQ(t.cy, 203);
    EXPECT_FALSE(t.menu.isOrdinal);
    EXPECT_TRUE(t.menu.text.empty()) << "the dialog has no menu";
    EXPECT_FALSE(t.windowClass.isOrdinal);
    EXPECT_TRUE(t.windowClass.text.empty()) << "the dialog uses the system dialog class";
    EXPECT_EQ(t.title, u"オーディオドライバ設定");
    ASSERT_TRUE(t.hasFont);
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.typeface, u"MS Shell Dlg");

    ASSERT_EQ(t.items.size(), kControls.size());
    for (size_t i = 0; i < kControls.size(); ++i) {
        const ExpectedControl& want = kControls[i];
        const DialogItem& got = t.items[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " (id " << want.id << ")");
        EXPECT_EQ(got.id, want.id);
        if (uint16_t atom = predefinedClassAtom(want.windowClass)) {
            EXPECT_TRUE(got.windowClass.isOrdinal);
            EXPECT_EQ(got.windowClass.ordinal, atom);
        } else {
            // Class names are matched without regard to case by the window manager, and
            // the resource compiler stores them upper-cased.
            EXPECT_FALSE(got.windowClass.isOrdinal);
            EXPECT_TRUE(sameIgnoringCase(got.windowClass.text, want.windowClass))
                << "class stored as " << testing::PrintToString(got.windowClass.text);
        }
        EXPECT_FALSE(got.title.isOrdinal);
        EXPECT_EQ(got.title.text, want.text);
        EXPECT_EQ(got.style, want.style) << std::hex << std::showbase << "style " << got.style;
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.helpId, 0u);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_TRUE(got.creationData.empty());
    }
}

INT_PTR CALLBACK quietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::u16string windowText(HWND w) {
    wchar_t buffer[256] = {};
    GetWindowTextW(w, buffer, static_cast<int>(std::size(buffer)));
    return u16(buffer);
}

std::u16string className(HWND w) {
    wchar_t buffer[256] = {};
    GetClassNameW(w, buffer, static_cast<int>(std::size(buffer)));
    return u16(buffer);
}

// The dialog manager itself must be able to build every control from the template: a
// class name it cannot resolve would make CreateDialog fail at run time only.
TEST(AudioDriverDialog, DialogManagerCreatesEveryControl) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&icc));

    WindowPtr dialog(CreateDialogParamW(self(), MAKEINTRESOURCEW(IDD_AUDIODRIVER), nullptr,
                                        quietDialogProc, 0));
    ASSERT_TRUE(dialog) << "CreateDialogParamW(104) failed, error " << GetLastError();
    EXPECT_EQ(windowText(dialog.get()), u"オーディオドライバ設定");

    int statics = 0;
    for (HWND child = GetWindow(dialog.get(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == IDC_STATIC)
            ++statics;
    EXPECT_EQ(statics, 3);

    for (const ExpectedControl& want : kControls) {
        if (want.id == IDC_STATIC)
            continue;
        SCOPED_TRACE(testing::Message() << "id " << want.id);
        HWND control = GetDlgItem(dialog.get(), want.id);
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(sameIgnoringCase(className(control), want.windowClass))
            << "created as " << testing::PrintToString(className(control));
        if (want.id != IDC_DRIVER_COMBO) {  // a drop-down list's text is its selection
            EXPECT_EQ(windowText(control), want.text);
        }
    }
    // A real trackbar answers its own messages.
    HWND trackbar = GetDlgItem(dialog.get(), IDC_BUFFER_SIZE_TRACKBAR);
    SendMessageW(trackbar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 30));
    EXPECT_EQ(SendMessageW(trackbar, TBM_GETRANGEMAX, 0, 0), 30);
}

// ---------------------------------------------------------------------------------------------
// Icon group 106

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST(AppIcon, GroupHoldsTrueColour16And32PixelImages) {
    ASSERT_EQ(IDI_POMARO, 106);
    ResourceBytes res = findResource(RT_GROUP_ICON, IDI_POMARO, kJapanese);
    ASSERT_NE(res.data, nullptr) << "no Japanese RT_GROUP_ICON 106";
    ASSERT_GE(res.size, sizeof(GroupIconHeader));
    const auto* header = static_cast<const GroupIconHeader*>(res.data);
    EXPECT_EQ(header->type, 1);
    ASSERT_EQ(header->count, 2);
    ASSERT_GE(res.size, sizeof(GroupIconHeader) + 2 * sizeof(GroupIconEntry));
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(header + 1);
    const int sizes[2] = {16, 32};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(testing::Message() << "entry " << i);
        EXPECT_EQ(entries[i].width, sizes[i]);
        EXPECT_EQ(entries[i].height, sizes[i]);
        EXPECT_EQ(entries[i].bitCount, 32);
        ResourceBytes image = findResource(RT_ICON, entries[i].id, kJapanese);
        ASSERT_NE(image.data, nullptr);
        EXPECT_EQ(image.size, entries[i].bytesInRes);
    }
}

// Alpha values of an icon's colour image, top-down, as the system rebuilt it.
std::vector<BYTE> iconAlpha(HICON icon, int size) {
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info))
        return {};
    BitmapPtr colour(info.hbmColor), mask(info.hbmMask);
    BITMAP bm = {};
    if (!colour || !GetObjectW(colour.get(), sizeof bm, &bm) || bm.bmWidth != size || bm.bmHeight != size)
        return {};
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<size_t>(size) * size);
    HDC dc = GetDC(nullptr);
    int rows = GetDIBits(dc, colour.get(), 0, size, pixels.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (rows != size)
        return {};
    std::vector<BYTE> alpha;
    for (DWORD p : pixels)
        alpha.push_back(static_cast<BYTE>(p >> 24));
    return alpha;
}

TEST(AppIcon, LoadsAtBothSizesWithATransparentSurround) {
    for (int size : {16, 32}) {
        SCOPED_TRACE(testing::Message() << size << " px");
        IconPtr icon(static_cast<HICON>(
            LoadImageW(self(), MAKEINTRESOURCEW(IDI_POMARO), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
        ASSERT_TRUE(icon) << "LoadImageW failed, error " << GetLastError();
        std::vector<BYTE> alpha = iconAlpha(icon.get(), size);
        ASSERT_EQ(alpha.size(), static_cast<size_t>(size) * size) << "colour image not " << size << " px";
        auto at = [&](int x, int y) { return alpha[static_cast<size_t>(y) * size + x]; };
        EXPECT_EQ(at(0, 0), 0);
        EXPECT_EQ(at(size - 1, 0), 0);
        EXPECT_EQ(at(0, size - 1), 0);
        EXPECT_EQ(at(size - 1, size - 1), 0);
        EXPECT_EQ(at(size / 2, size * 3 / 4), 255) << "the body is opaque";
    }
    // The frame window class takes the icon through LoadIconW.
    EXPECT_NE(LoadIconW(self(), MAKEINTRESOURCEW(IDI_POMARO)), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Version block

class VersionBlock : public testing::Test {
protected:
    void SetUp() override {
        wchar_t path[MAX_PATH] = {};
        ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeW(path, &ignored);
        ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block_.data()));
    }

    std::u16string stringValue(const wchar_t* subBlock) {
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block_.data(), subBlock, &value, &length) || !value)
            return u"<missing>";
        return u16(static_cast<const wchar_t*>(value));
    }

    std::vector<BYTE> block_;
};

// The log looks the product name up through the first translation pair, exactly so.
TEST_F(VersionBlock, ProductNameIsFoundThroughTheFirstTranslation) {
    struct Translation { WORD language, codePage; };
    Translation* translations = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translations), &length));
    ASSERT_GE(length, sizeof(Translation));
    EXPECT_EQ(translations[0].language, kJapanese);
    EXPECT_EQ(translations[0].codePage, 1200);

    wchar_t subBlock[50];
    swprintf_s(subBlock, 50, L"\\StringFileInfo\\%04x%04x\\ProductName",
               translations[0].language, translations[0].codePage);
    EXPECT_EQ(stringValue(subBlock), u"Pomaro");
    EXPECT_EQ(stringValue(L"\\StringFileInfo\\041104b0\\FileVersion"), u16(L"" POMARO_VERSION_TEXT));
    EXPECT_EQ(stringValue(L"\\StringFileInfo\\041104b0\\ProductVersion"), u16(L"" POMARO_VERSION_TEXT));
}

// POMARO_PROJECT_VERSION comes straight from the build's project() call, not through
// the generated header, so this also proves the header follows the project version.
TEST_F(VersionBlock, FixedInfoCarriesTheProjectVersion) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);

    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u",
                  static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)),
                  static_cast<unsigned>(LOWORD(fixed->dwFileVersionLS)));
    EXPECT_STREQ(text, POMARO_PROJECT_VERSION);
    EXPECT_STREQ(text, POMARO_VERSION_TEXT);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flags";
}

TEST(ResourceLanguage, MenuDialogIconAndVersionAreJapanese) {
    EXPECT_NE(findResource(RT_MENU, IDR_MAINMENU, kJapanese).data, nullptr);
    EXPECT_NE(findResource(RT_DIALOG, IDD_AUDIODRIVER, kJapanese).data, nullptr);
    EXPECT_NE(findResource(RT_GROUP_ICON, IDI_POMARO, kJapanese).data, nullptr);
    EXPECT_NE(findResource(RT_VERSION, VS_VERSION_INFO, kJapanese).data, nullptr);
}

}  // namespace
