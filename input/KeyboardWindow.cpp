#include "input/KeyboardWindow.h"

#include "app/AppGlobals.h"

namespace PomaroApp {

namespace {
constexpr wchar_t kClassName[] = L"KeyboardWindow";
constexpr int kWidth = 591;
constexpr int kHeight = 30;
} // namespace

CKeyboardWindow::CKeyboardWindow()
{
    for (auto& key : keyShown)
        key.store(0, std::memory_order_relaxed);
    windowClass.style = 0;
    windowClass.lpfnWndProc = &CKeyboardWindow::windowProc;
    windowClass.hInstance = g_hInstance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
}

HRESULT CKeyboardWindow::create(HWND parent)
{
    if (hwnd)
        return S_OK;
    hwnd = CreateWindowExW(0, kClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, kWidth,
                           kHeight, parent, nullptr, g_hInstance, nullptr);
    if (!hwnd)
        return HRESULT_FROM_WIN32(GetLastError());
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return S_OK;
}

void CKeyboardWindow::destroy()
{
    // Drawing resources are not created yet, so only the class remains to go.
    UnregisterClassW(kClassName, g_hInstance);
}

void CKeyboardWindow::showNote(int32_t note, bool pressed)
{
    if (note < 0 || note > 127)
        return;
    keyShown[note].store(pressed ? 1 : 0, std::memory_order_relaxed);
    if (HWND window = hwnd)
        PostMessageW(window, WM_KEYBOARD_SHOWNOTE, static_cast<WPARAM>(note), pressed ? 1 : 0);
}

LRESULT CALLBACK CKeyboardWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CKeyboardWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_KEYBOARD_SHOWNOTE:
    case WM_KEYBOARD_RELEASEALL:
        return 0;
    case WM_PAINT:
        ValidateRect(window, nullptr);
        return 0;
    case WM_DESTROY:
        if (self)
            self->hwnd = nullptr;
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace PomaroApp
