// dialogprobe: for the end-to-end tests, reads the audio driver dialog of another process in the same
// Wine session, one UTF-8 line per control in screen coordinates (a combo box's text is its selection):
//   <id> <left> <top> <right> <bottom> <enabled> <checked><TAB><text>
// and for the trackbar "thumb <x> <y> <position> <last position>", the thumb's centre found on a trackbar
// of the same size, style and range in this process. Exit code 1 when no visible dialog has the title.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <initializer_list>

int wmain(int argc, wchar_t** argv)
{
    HWND dialog = argc < 2 ? nullptr : FindWindowExW(nullptr, nullptr, L"#32770", argv[1]);
    while (dialog && !IsWindowVisible(dialog))
        dialog = FindWindowExW(nullptr, dialog, L"#32770", argv[1]);
    if (!dialog)
        return 1;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    for (int id : {1, 2, 1001, 1002, 1004, 1005, 1007, 1008, 1009, 1010}) {
        HWND c = GetDlgItem(dialog, id);
        wchar_t text[512]{};
        char utf8[2048]{};
        RECT r{};
        if (!c || !GetWindowRect(c, &r))
            continue;
        const LRESULT sel = id == 1004 ? SendMessageW(c, CB_GETCURSEL, 0, 0) : -2;
        if (sel == -2)
            GetWindowTextW(c, text, 512);
        else if (sel >= 0 && SendMessageW(c, CB_GETLBTEXTLEN, sel, 0) < 512)
            SendMessageW(c, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(text));
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        const bool checked = (id == 1001 || id == 1002) && SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
        std::printf("%d %ld %ld %ld %ld %d %d\t%s\n", id, r.left, r.top, r.right, r.bottom,
                    IsWindowEnabled(c) ? 1 : 0, checked ? 1 : 0, utf8);
        if (id != 1008)
            continue;
        const LRESULT pos = SendMessageW(c, TBM_GETPOS, 0, 0), last = SendMessageW(c, TBM_GETRANGEMAX, 0, 0);
        const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(c, GWL_STYLE)) & ~WS_VISIBLE & ~WS_CHILD;
        HWND twin = CreateWindowExW(0, TRACKBAR_CLASSW, L"", style | WS_POPUP, 0, 0, r.right - r.left,
                                    r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        RECT thumb{};
        if (twin) {
            SendMessageW(twin, TBM_SETRANGEMAX, FALSE, last);
            SendMessageW(twin, TBM_SETPOS, FALSE, pos);
            SendMessageW(twin, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
            DestroyWindow(twin);
        }
        // The twin has no frame of its own beyond the original's, so client = window here.
        std::printf("thumb %ld %ld %d %d\n", r.left + (thumb.left + thumb.right) / 2,
                    r.top + (thumb.top + thumb.bottom) / 2, int(pos), int(last));
    }
    return 0;
}
