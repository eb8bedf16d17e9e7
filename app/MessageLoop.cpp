// The message loop with the computer keyboard's notes.

#include "app/Host.h"

namespace PomaroApp {

namespace {
// lParam bit 30 of WM_KEYDOWN: the key was already down (auto-repeat).
constexpr LPARAM kKeyWasDown = LPARAM(1) << 30;
} // namespace

void CHost::runMessageLoop()
{
    if (!pluginReady)
        return;
    MSG msg;
    // The keys of the whole thread play, whichever window has the focus; each message
    // still goes on to that window. A failing GetMessageW (-1) ends the loop too.
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) {
            const uint32_t virtualKey = static_cast<uint32_t>(msg.wParam & 0xFF);
            const KeyAction action = msg.message == WM_KEYDOWN
                                         ? keyDown(keyToNote, heldNote, keyboard.octave, virtualKey,
                                                   (msg.lParam & kKeyWasDown) != 0)
                                         : keyUp(keyToNote, heldNote, virtualKey);
            if (action.kind == KeyAction::OctaveChanged && keyboard.hwnd)
                InvalidateRect(keyboard.hwnd, nullptr, FALSE); // the strip redraws its key labels
            else if (action.kind == KeyAction::SendMidi)
                onMidiData(action.message);
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace PomaroApp
