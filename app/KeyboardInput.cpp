#include "app/KeyboardInput.h"

namespace PomaroApp {

namespace {

struct KeyOffset
{
    uint8_t virtualKey;
    int8_t offset;
};

// Two overlapping keyboards: the lower letter rows (0..19) and the number row with the
// row below it (16..36).
constexpr KeyOffset kPlayingKeys[] = {
    {'A', 0},   {'Z', 1},   {'S', 2},   {'X', 3},   {'C', 4},   {'F', 5},  {'V', 6},   {'G', 7},   {'B', 8},
    {'N', 9},   {'J', 10},  {'M', 11},  {'K', 12},  {0xBC, 13}, {'L', 14}, {0xBE, 15}, {0xBF, 16}, {0xBA, 17},
    {0xE2, 18}, {0xDD, 19}, {'Q', 16},  {'2', 17},  {'W', 18},  {'3', 19}, {'E', 20},  {'R', 21},  {'5', 22},
    {'T', 23},  {'6', 24},  {'Y', 25},  {'7', 26},  {'U', 27},  {'I', 28}, {'9', 29},  {'O', 30},  {'0', 31},
    {'P', 32},  {0xC0, 33}, {0xDE, 34}, {0xDB, 35}, {0xDC, 36},
};
static_assert(sizeof(kPlayingKeys) / sizeof(kPlayingKeys[0]) == 41, "41 playing keys");

int32_t slotOf(const KeyToNoteTable& keyToNote, uint32_t virtualKey) { return keyToNote[virtualKey & 0xFF]; }

} // namespace

void fillKeyToNote(KeyToNoteTable& table)
{
    for (int32_t& entry : table)
        entry = -1;
    for (const KeyOffset& key : kPlayingKeys)
        table[key.virtualKey] = key.offset;
}

KeyAction keyDown(const KeyToNoteTable& keyToNote, HeldNoteTable& heldNote, int32_t& octave,
                  uint32_t virtualKey, bool autoRepeat)
{
    KeyAction action;
    const uint32_t code = virtualKey & 0xFF;
    if (code == kVkPageUp) {
        if (octave < kMaxOctave) {
            ++octave;
            action.kind = KeyAction::OctaveChanged;
        }
        return action;
    }
    if (code == kVkPageDown) {
        if (octave > kMinOctave) {
            --octave;
            action.kind = KeyAction::OctaveChanged;
        }
        return action;
    }
    if (autoRepeat)
        return action;
    const int32_t slot = slotOf(keyToNote, code);
    if (slot < 0 || slot > 127)
        return action;
    const uint8_t note = noteForKey(slot, octave);
    action.kind = KeyAction::SendMidi;
    action.message[0] = 0x90;
    action.message[1] = note;
    action.message[2] = kKeyVelocity;
    heldNote[slot] = note;
    return action;
}

KeyAction keyUp(const KeyToNoteTable& keyToNote, const HeldNoteTable& heldNote, uint32_t virtualKey)
{
    KeyAction action;
    const int32_t slot = slotOf(keyToNote, virtualKey);
    if (slot < 0 || slot > 127)
        return action;
    action.kind = KeyAction::SendMidi;
    action.message[0] = 0x80;
    action.message[1] = heldNote[slot];
    return action;
}

} // namespace PomaroApp
