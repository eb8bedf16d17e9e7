// dialogprobe: reads the audio driver dialog of another process in the same Wine session,
// for the end-to-end tests: one line per control,
//   <id> <left> <top> <right> <bottom> <enabled> <checked><TAB><text>
// in screen coordinates; the combo box's text is its selected entry. The trackbar adds
//   thumb <x> <y> <position> <last position>
// with the centre of its thumb, found by asking a trackbar of the same size, style and
// range in this process where its thumb lies. Output is UTF-8; exit code 1 when no
// visible dialog has the given title.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const std::wstring& s)
{
    std::string out(s.size() * 4, '\0');
    out.resize(
        static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0],
                                                static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

std::wstring textOf(HWND control)
{
    wchar_t cls[32]{}, text[512]{};
    GetClassNameW(control, cls, 32);
    const LRESULT sel = lstrcmpiW(cls, L"ComboBox") == 0 ? SendMessageW(control, CB_GETCURSEL, 0, 0) : -2;
    if (sel == -2)
        GetWindowTextW(control, text, 512);
    else if (sel >= 0 && SendMessageW(control, CB_GETLBTEXTLEN, sel, 0) < 512)
        SendMessageW(control, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(text));
    return text;
}

POINT thumbCentre(HWND trackbar, int position, int last)
{
    RECT r{};
    GetWindowRect(trackbar, &r);
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(trackbar, GWL_STYLE)) & ~WS_VISIBLE & ~WS_CHILD;
    HWND twin = CreateWindowExW(0, TRACKBAR_CLASSW, L"", style | WS_POPUP, 0, 0, r.right - r.left,
                                r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    RECT thumb{};
    if (twin) {
        SendMessageW(twin, TBM_SETRANGEMIN, FALSE, 0);
        SendMessageW(twin, TBM_SETRANGEMAX, FALSE, last);
        SendMessageW(twin, TBM_SETPOS, FALSE, position);
        SendMessageW(twin, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        DestroyWindow(twin);
    }
    // The twin has no frame of its own beyond the original's, so client = window here.
    return POINT{r.left + (thumb.left + thumb.right) / 2, r.top + (thumb.top + thumb.bottom) / 2};
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    HWND dialog = FindWindowExW(nullptr, nullptr, L"#32770", argv[1]);
    while (dialog && !IsWindowVisible(dialog))
        dialog = FindWindowExW(nullptr, dialog, L"#32770", argv[1]);
    if (!dialog)
        return 1;
    static const int ids[] = {1, 2, 1001, 1002, 1004, 1005, 1007, 1008, 1009, 1010};
    for (int id : ids) {
        HWND c = GetDlgItem(dialog, id);
        if (!c)
            continue;
        RECT r{};
        GetWindowRect(c, &r);
        const bool checked = (id == 1001 || id == 1002) && SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
        std::printf("%d %ld %ld %ld %ld %d %d\t%s\n", id, r.left, r.top, r.right, r.bottom,
                    IsWindowEnabled(c) ? 1 : 0, checked ? 1 : 0, utf8(textOf(c)).c_str());
        if (id == 1008) {
            const int pos = static_cast<int>(SendMessageW(c, TBM_GETPOS, 0, 0));
            const int last = static_cast<int>(SendMessageW(c, TBM_GETRANGEMAX, 0, 0));
            const POINT centre = thumbCentre(c, pos, last);
            std::printf("thumb %ld %ld %d %d\n", centre.x, centre.y, pos, last);
        }
    }
    return 0;
}
