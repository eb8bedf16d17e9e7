#pragma once
// The controller table and the decoding of one MIDI short message: which key
// the display should show, and which parameter value a controller, channel
// pressure or pitch bend produces. No windows and no queues are touched here.

#include "pluginterfaces/vst/vsttypes.h"

#include <atomic>
#include <cstdint>

namespace PomaroApp {

// Indexed by VST 3 controller number: 0..127 MIDI controllers,
// 128 channel pressure (kAfterTouch), 129 pitch bend (kPitchBend).
constexpr int kMidiCtrlCount = 130;
constexpr int kMidiCtrlAfterTouch = 128;
constexpr int kMidiCtrlPitchBend = 129;

struct MidiCtrlEntry
{
    uint8_t isLsb = 0;     // low half of a 14-bit pair
    uint8_t isMsb = 0;     // high half of a 14-bit pair
    uint16_t msbIndex = 0; // for a low half: the controller number of its high half
    // Filled by the loader on the user-interface thread while MIDI may already
    // be arriving, hence atomic.
    std::atomic<Steinberg::Vst::ParamID> paramId{Steinberg::Vst::kNoParamId};
    // For a high half: its last value shifted left by seven. Any thread that
    // decodes controllers writes it.
    std::atomic<uint16_t> value14{0};
};

using MidiCtrlMap = MidiCtrlEntry[kMidiCtrlCount];

// Pairs 0..31 (high) with 32..63 (low), no parameter anywhere, every value14 0.
void initMidiCtrlMap(MidiCtrlMap& map) noexcept;

struct MidiDecodeResult
{
    enum class Display : uint8_t
    {
        None,
        ShowNote,   // note, pressed
        ReleaseAll, // controllers 120 and 123
    };
    Display display = Display::None;
    uint8_t note = 0; // below 128
    bool pressed = false;

    bool hasParam = false;
    Steinberg::Vst::ParamID paramId = Steinberg::Vst::kNoParamId;
    Steinberg::Vst::ParamValue value = 0.0;
};

// Decodes message[0..2] (status, data 1, data 2); the channel is not looked at.
// Updates value14 of a high-half controller; otherwise reads the table only.
MidiDecodeResult decodeMidiMessage(MidiCtrlMap& map, const uint8_t* message) noexcept;

} // namespace PomaroApp
