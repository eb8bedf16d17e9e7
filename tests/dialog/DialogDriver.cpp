#include "DialogDriver.h"

#include <commctrl.h>

namespace PomaroTest {

namespace {

LPARAM point(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// Centre of the thumb, in the trackbar's client coordinates.
POINT thumbCentre(HWND trackbar)
{
    RECT thumb{};
    SendMessageW(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    return POINT{(thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2};
}

} // namespace

std::wstring windowText(HWND hwnd)
{
    wchar_t text[512]{};
    GetWindowTextW(hwnd, text, 512);
    return text;
}

void click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

int trackbarPos(HWND trackbar) { return static_cast<int>(SendMessageW(trackbar, TBM_GETPOS, 0, 0)); }

int trackbarMax(HWND trackbar) { return static_cast<int>(SendMessageW(trackbar, TBM_GETRANGEMAX, 0, 0)); }

bool dragThumbTo(HWND trackbar, int position)
{
    const POINT start = thumbCentre(trackbar);
    RECT client{};
    GetClientRect(trackbar, &client);
    SendMessageW(trackbar, WM_LBUTTONDOWN, MK_LBUTTON, point(start.x, start.y));
    bool reached = trackbarPos(trackbar) == position;
    // Towards the side where the position lies, until the thumb shows it.
    const int dir = position >= trackbarPos(trackbar) ? 1 : -1;
    for (int x = start.x; !reached && x >= 0 && x < client.right; x += dir) {
        SendMessageW(trackbar, WM_MOUSEMOVE, MK_LBUTTON, point(x, start.y));
        reached = trackbarPos(trackbar) == position;
    }
    const POINT end = thumbCentre(trackbar);
    SendMessageW(trackbar, WM_LBUTTONUP, 0, point(end.x, end.y));
    return reached;
}

void dragThumbPastEnd(HWND trackbar)
{
    const POINT start = thumbCentre(trackbar);
    RECT client{};
    GetClientRect(trackbar, &client);
    SendMessageW(trackbar, WM_LBUTTONDOWN, MK_LBUTTON, point(start.x, start.y));
    SendMessageW(trackbar, WM_MOUSEMOVE, MK_LBUTTON, point(client.right - 1, start.y));
    SendMessageW(trackbar, WM_LBUTTONUP, 0, point(client.right - 1, start.y));
}

void pressKey(HWND control, UINT vk)
{
    SendMessageW(control, WM_KEYDOWN, vk, 1);
    SendMessageW(control, WM_KEYUP, vk, 0xC0000001);
}

} // namespace PomaroTest
