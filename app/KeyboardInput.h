#pragma once
// Computer-keyboard note input: the key table and what one key message does.
// Platform-free so that the note and octave arithmetic is tested natively.

#include <cstdint>

namespace PomaroApp {

constexpr int kKeyTableSize = 256;
constexpr int kMinOctave = 1;
constexpr int kMaxOctave = 7;
constexpr uint32_t kVkPageUp = 0x21;   // VK_PRIOR
constexpr uint32_t kVkPageDown = 0x22; // VK_NEXT
constexpr uint8_t kKeyVelocity = 100;

using KeyToNoteTable = int32_t[kKeyTableSize];
using HeldNoteTable = uint8_t[128];

// Every entry -1, then the 41 playing keys with their semitone offsets 0..36.
void fillKeyToNote(KeyToNoteTable& table);

// Note played by a key offset in an octave, kept to 8 bits like the byte it is sent in.
inline uint8_t noteForKey(int32_t offset, int32_t octave)
{
    return static_cast<uint8_t>(offset + 12 * octave - 4);
}

struct KeyAction
{
    enum Kind
    {
        None,
        OctaveChanged,
        SendMidi
    };
    Kind kind = None;
    uint8_t message[4] = {0, 0, 0, 0};
};

// WM_KEYDOWN: Page Up/Down step the octave (auto-repeat keeps stepping); a playing key
// that is not an auto-repeat sends note-on and remembers its note in heldNote.
KeyAction keyDown(const KeyToNoteTable& keyToNote, HeldNoteTable& heldNote, int32_t& octave,
                  uint32_t virtualKey, bool autoRepeat);

// WM_KEYUP: the note-off goes to the note that key started, whatever the octave is now.
KeyAction keyUp(const KeyToNoteTable& keyToNote, const HeldNoteTable& heldNote, uint32_t virtualKey);

} // namespace PomaroApp
