#pragma once
// Geometry of the keyboard strip and the note messages the mouse plays on it.
// Free of any window system so that it is tested natively.

#include <cstdint>

namespace PomaroApp {
namespace KeyboardGeometry {

constexpr int32_t kStripWidth = 591; // 8 octaves of 70 and the first 31 pixels of a ninth
constexpr int32_t kStripHeight = 30;
constexpr int32_t kOctaveWidth = 70;
constexpr int32_t kWholeOctaves = 8;
constexpr int32_t kPartialOctaveWidth = kStripWidth - kWholeOctaves * kOctaveWidth; // 31
constexpr int32_t kBlackKeyHitRows = 17; // rows 0 to 16 belong to the black keys
constexpr int32_t kLowestNote = 12;
constexpr int32_t kHighestDrawnNote = 112;

// Sprite sheet (image 101): row 0 is the opaque octave, row k + 1 holds key k; the
// pressed shapes sit in column 0, the released ones in column 1.
constexpr int32_t kSpriteRowHeight = 30;
constexpr int32_t kSpriteReleasedColumn = 71;
constexpr int32_t kSpriteSheetWidth = 142;
constexpr int32_t kSpriteSheetHeight = 13 * kSpriteRowHeight;
// Labels overlay (image 102).
constexpr int32_t kLabelsWidth = 251;
constexpr int32_t kLabelsHeight = 30;

// The note under a client point, or -1. Coordinates come unsigned from the window
// system, so a point left of or above the strip arrives as a large value.
int32_t hitTest(int32_t x, int32_t y);

struct Rect
{
    int32_t left, top, right, bottom;
};

// Where redrawing one key's octave goes on the strip, and which sprite it takes.
struct KeySprite
{
    Rect destination; // one 70 x 30 octave strip
    Rect source;      // the key's row in the pressed or released column
};

// False for notes that have no drawn key (below 12, above 112).
bool keySprite(int32_t note, bool pressed, KeySprite& out);

// Left edge of the labels overlay for a computer-keyboard octave: the "A" label
// lands on note 12 * octave - 4.
inline int32_t labelsX(int32_t octave) { return kOctaveWidth * octave - 110; }

// What the mouse plays. Each step yields at most two short messages, in the order
// they are to be sent: the new note starts before the old one stops.
struct MouseNotes
{
    int32_t count = 0;
    uint8_t messages[2][4] = {};
};

// mouseDown: the button went down on the strip and has not come up; mouseNote: the
// note sounding under the pointer, -1 for none.
MouseNotes mouseButtonDown(bool& mouseDown, int32_t& mouseNote, int32_t x, int32_t y);
MouseNotes mouseMove(const bool& mouseDown, int32_t& mouseNote, int32_t x, int32_t y);
MouseNotes mouseButtonUp(bool& mouseDown, int32_t& mouseNote);

constexpr uint8_t kMouseVelocity = 100;

} // namespace KeyboardGeometry
} // namespace PomaroApp
