// The frame window, the editor's child window and the frame's sizing rules.

#include "app/AppGlobals.h"
#include "app/FrameLayout.h"
#include "app/Host.h"
#include "app/RunApplication.h"
#include "diag/CrashReport.h"
#include "diag/DebugLog.h"
#include "res/resource.h"

namespace PomaroApp {

using namespace Steinberg;

namespace {

constexpr DWORD kInitialFrameStyle = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kInitialFrameSize = 50;

CHost* hostOf(HWND hwnd) { return reinterpret_cast<CHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

void storeCreationHost(HWND hwnd, LPARAM lParam)
{
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

FrameRect toFrameRect(const RECT& r) { return FrameRect{r.left, r.top, r.right, r.bottom}; }

} // namespace

bool CHost::createFrameWindow()
{
    if (hwndFrame)
        return true;
    frameStyle = kInitialFrameStyle;
    frameExStyle = 0;
    // Created invisible; the plug-in loader sets the final style and shows it.
    hwndFrame =
        CreateWindowExW(frameExStyle, L"HostWindow", L"Pomaro", frameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        kInitialFrameSize, kInitialFrameSize, nullptr, nullptr, g_hInstance, this);
    if (!hwndFrame)
        DebugLog::WriteError(L"CHost::createFrameWindow()", L"CreateWindowEx()", GetLastError(), true);
    return hwndFrame != nullptr;
}

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        storeCreationHost(hwnd, lParam);
        if (CHost* host = hostOf(hwnd))
            host->timerId = SetTimer(hwnd, kFrameTimerId, kFrameTimerMs, nullptr);
        return 0;
    }
    case WM_DESTROY:
        if (CHost* host = hostOf(hwnd)) {
            if (host->timerId != 0)
                KillTimer(hwnd, host->timerId);
            host->timerId = 0;
            host->hwndFrame.store(nullptr, std::memory_order_release);
        }
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        if (CHost* host = hostOf(hwnd)) {
            if (wParam != SIZE_MINIMIZED)
                host->onFrameSize(LOWORD(lParam), HIWORD(lParam));
        }
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_FILE_EXIT:
            DestroyWindow(hwnd);
            break;
        case IDM_SETTINGS_AUDIODRIVER:
            if (CHost* host = hostOf(hwnd)) {
                host->settingsDialog.host = host;
                DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_AUDIODRIVER), hwnd,
                                CAudioDriverDialog::DialogProc,
                                reinterpret_cast<LPARAM>(&host->settingsDialog));
            }
            break;
        default:
            break;
        }
        return 0;
    case WM_TIMER:
        // After a fatal error the plug-in is not called any more, also while the
        // report's box runs its message loop.
        if (CHost* host = hostOf(hwnd); host && !fatalErrorRecorded())
            host->onTimer(wParam);
        return 0;
    case WM_SIZING:
        if (CHost* host = hostOf(hwnd)) {
            host->onFrameSizing(reinterpret_cast<RECT*>(lParam));
            return TRUE;
        }
        return 0;
    case WM_HOST_RESTART_AUDIO:
        if (CHost* host = hostOf(hwnd); host && !fatalErrorRecorded())
            host->onRestartMessage();
        return 0;
    case WM_HOST_AUDIO_FAULT:
        // The audio thread kept a structured exception of its render call; the report
        // and the end of the program belong to this thread.
        if (reportStructuredException())
            endAfterFatalReport();
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK VstWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        storeCreationHost(hwnd, lParam);
        return 0;
    case WM_DESTROY:
        if (CHost* host = hostOf(hwnd)) {
            // A view whose attached failed was never in the window: nothing to remove.
            if (host->pView && host->viewAttached)
                host->pView->removed();
            host->viewAttached = false;
            host->hwndVst = nullptr;
        }
        return 0;
    case WM_SIZE:
        if (CHost* host = hostOf(hwnd)) {
            if (wParam != SIZE_MINIMIZED && host->pView) {
                ViewRect rect(0, 0, LOWORD(lParam), HIWORD(lParam));
                host->pView->onSize(&rect);
            }
        }
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void CHost::onFrameSize(int width, int height)
{
    if (keyboard.hwnd)
        MoveWindow(keyboard.hwnd, keyboardStripX(width), keyboardStripY(height), kKeyboardWidth,
                   kKeyboardStripHeight, TRUE);
    MoveWindow(hwndVst, 0, 0, width, height - kKeyboardStripHeight, TRUE);
}

void CHost::onFrameSizing(RECT* drag)
{
    if (!hwndFrame || !pView || !drag)
        return;
    RECT window{}, client{};
    GetWindowRect(hwndFrame, &window);
    GetClientRect(hwndFrame, &client);
    const int32_t ncWidth = (window.right - window.left) - (client.right - client.left);
    const int32_t ncHeight = (window.bottom - window.top) - (client.bottom - client.top);

    FrameRect proposed = toFrameRect(*drag);
    const FrameRect editor = editorRectForDrag(proposed, ncWidth, ncHeight);
    ViewRect constrained(editor.left, editor.top, editor.right, editor.bottom);
    if (pView->checkSizeConstraint(&constrained) != kResultTrue)
        return;
    fitDragToEditor(proposed,
                    FrameRect{constrained.left, constrained.top, constrained.right, constrained.bottom},
                    ncWidth, ncHeight);
    drag->right = proposed.right;
    drag->bottom = proposed.bottom;
}

tresult PLUGIN_API CHost::resizeView(IPlugView* view, ViewRect* newSize)
{
    if (!view || !newSize)
        return kInvalidArgument;
    if (view != pView || !hwndFrame)
        return kResultFalse;
    RECT required{0, 0, newSize->getWidth(), newSize->getHeight() + kKeyboardStripHeight};
    AdjustWindowRectEx(&required, frameStyle, TRUE, frameExStyle);
    const int width = required.right - required.left;
    const int height = required.bottom - required.top;
    RECT current{};
    GetWindowRect(hwndFrame, &current);
    if (current.right - current.left == width && current.bottom - current.top == height)
        return kResultOk;
    // The view learns its size from the editor window's WM_SIZE that this move causes.
    MoveWindow(hwndFrame, current.left, current.top, width, height, TRUE);
    return kResultOk;
}

void CHost::onTimer(UINT_PTR id)
{
    if (id != timerId)
        return;
    parameterFlow().onTimer(pController);
}

} // namespace PomaroApp
