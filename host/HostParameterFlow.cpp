// Edits from the editor and MIDI messages on their way to the processor, the
// controller and the keyboard strip.

#include "app/Host.h"
#include "diag/DebugLog.h"

#include <cwchar>

namespace PomaroApp {

using namespace Steinberg;

tresult PLUGIN_API CHost::beginEdit(ParamID) { return kResultOk; }

tresult PLUGIN_API CHost::performEdit(ParamID id, ParamValue valueNormalized)
{
    parameterFlow().performEdit(id, valueNormalized);
    return kResultOk;
}

tresult PLUGIN_API CHost::endEdit(ParamID) { return kResultOk; }

tresult PLUGIN_API CHost::restartComponent(int32 flags)
{
    wchar_t text[16];
    swprintf_s(text, 16, L"%08x", static_cast<unsigned>(flags));
    DebugLog::Write(L"restartComponent()", text, false);
    return kResultOk;
}

void CHost::onMidiData(const uint8_t* message)
{
    if (!message)
        return;
    const MidiDecodeResult decoded = parameterFlow().onMidiData(message);
    switch (decoded.display) {
    case MidiDecodeResult::Display::ShowNote:
        keyboard.showNote(decoded.note, decoded.pressed);
        break;
    case MidiDecodeResult::Display::ReleaseAll:
        if (HWND strip = keyboard.hwnd)
            PostMessageW(strip, WM_KEYBOARD_RELEASEALL, 0, 0);
        break;
    case MidiDecodeResult::Display::None:
        break;
    }
}

} // namespace PomaroApp
