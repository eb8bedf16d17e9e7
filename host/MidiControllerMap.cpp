#include "host/MidiControllerMap.h"

namespace PomaroApp {

using Steinberg::Vst::kNoParamId;
using Steinberg::Vst::ParamID;

void initMidiCtrlMap(MidiCtrlMap& map) noexcept
{
    for (int i = 0; i < kMidiCtrlCount; ++i) {
        MidiCtrlEntry& e = map[i];
        e.isMsb = (i < 32) ? 1 : 0;
        e.isLsb = (i >= 32 && i < 64) ? 1 : 0;
        e.msbIndex = uint16_t((i >= 32 && i < 64) ? i - 32 : 0);
        e.paramId.store(kNoParamId, std::memory_order_relaxed);
        e.value14.store(0, std::memory_order_relaxed);
    }
}

namespace {

void controlChange(MidiCtrlMap& map, uint8_t cc, uint8_t v, MidiDecodeResult& out) noexcept
{
    MidiCtrlEntry& e = map[cc];
    ParamID pid = kNoParamId;
    double value = 0.0;
    if (e.isMsb) {
        pid = e.paramId.load(std::memory_order_relaxed);
        if (pid != kNoParamId) {
            const uint16_t high = uint16_t(v << 7);
            e.value14.store(high, std::memory_order_relaxed);
            // 127 << 7 = 16256: a high half alone reaches exactly 1.0.
            value = high / 16256.0;
        }
    } else if (e.isLsb) {
        const MidiCtrlEntry& m = map[e.msbIndex];
        pid = m.paramId.load(std::memory_order_relaxed);
        if (pid != kNoParamId)
            value = (m.value14.load(std::memory_order_relaxed) | v) / 16383.0;
    } else {
        pid = e.paramId.load(std::memory_order_relaxed);
        if (pid != kNoParamId)
            value = v / 127.0;
    }
    if (pid != kNoParamId) {
        out.hasParam = true;
        out.paramId = pid;
        out.value = value;
    }
    if (cc == 120 || cc == 123) // all sound off, all notes off
        out.display = MidiDecodeResult::Display::ReleaseAll;
}

void mapped(const MidiCtrlMap& map, int index, double value, MidiDecodeResult& out) noexcept
{
    const ParamID pid = map[index].paramId.load(std::memory_order_relaxed);
    if (pid == kNoParamId)
        return;
    out.hasParam = true;
    out.paramId = pid;
    out.value = value;
}

} // namespace

MidiDecodeResult decodeMidiMessage(MidiCtrlMap& map, const uint8_t* message) noexcept
{
    MidiDecodeResult out;
    const uint8_t data1 = message[1];
    const uint8_t data2 = message[2];
    switch (message[0] & 0xF0) {
    case 0x80:
        if (data1 <= 127) {
            out.display = MidiDecodeResult::Display::ShowNote;
            out.note = data1;
            out.pressed = false;
        }
        break;
    case 0x90:
        if (data1 < 128) {
            out.display = MidiDecodeResult::Display::ShowNote;
            out.note = data1;
            // Same test as the note events the plug-in gets, so display and sound agree.
            out.pressed = (data2 & 0x7F) != 0;
        }
        break;
    case 0xB0:
        controlChange(map, data1 & 0x7F, data2 & 0x7F, out);
        break;
    case 0xD0:
        mapped(map, kMidiCtrlAfterTouch, (data1 & 0x7F) / 127.0, out);
        break;
    case 0xE0: {
        const int bend = (data2 & 0x7F) << 7 | (data1 & 0x7F);
        mapped(map, kMidiCtrlPitchBend, bend == 8192 ? 0.5 : bend / 16383.0, out);
        break;
    }
    default:
        break;
    }
    return out;
}

} // namespace PomaroApp
