#include "input/KeyboardGeometry.h"

namespace PomaroApp {
namespace KeyboardGeometry {

namespace {
constexpr int32_t kWhiteKeys[7] = {0, 2, 4, 5, 7, 9, 11};
// Black key over boundary 10 * (b + 1), -1 where E meets F.
constexpr int32_t kBlackKeys[6] = {1, 3, -1, 6, 8, 10};

void addMessage(MouseNotes& notes, uint8_t status, int32_t note, uint8_t velocity)
{
    uint8_t* m = notes.messages[notes.count++];
    m[0] = status;
    m[1] = static_cast<uint8_t>(note);
    m[2] = velocity;
    m[3] = 0;
}
} // namespace

int32_t hitTest(int32_t x, int32_t y)
{
    if (x < 0 || x >= kStripWidth || y < 0 || y >= kStripHeight)
        return -1;
    const int32_t o = x / kOctaveWidth;
    const int32_t xo = x - kOctaveWidth * o;
    int32_t k = kWhiteKeys[xo / 10];
    // The black key's hit area starts one pixel left of the key drawn.
    if (y < kBlackKeyHitRows && xo >= 5) {
        const int32_t b = (xo - 5) / 10;
        if (b < 6 && kBlackKeys[b] != -1)
            k = kBlackKeys[b];
    }
    return 12 * (o + 1) + k;
}

bool keySprite(int32_t note, bool pressed, KeySprite& out)
{
    if (note < kLowestNote || note > kHighestDrawnNote)
        return false;
    const int32_t o = (note - kLowestNote) / 12;
    const int32_t k = (note - kLowestNote) % 12;
    const int32_t u = pressed ? 0 : kSpriteReleasedColumn;
    const int32_t top = kSpriteRowHeight * (k + 1);
    out.destination = Rect{kOctaveWidth * o, 0, kOctaveWidth * o + kOctaveWidth, kStripHeight};
    out.source = Rect{u, top, u + kOctaveWidth, top + kSpriteRowHeight};
    return true;
}

MouseNotes mouseButtonDown(bool& mouseDown, int32_t& mouseNote, int32_t x, int32_t y)
{
    MouseNotes notes;
    mouseDown = true;
    const int32_t n = hitTest(x, y);
    // A note still sounding here lost its button-up to another window (the capture
    // went elsewhere); it stops now instead of hanging. Same key: it starts afresh.
    const int32_t leftover = mouseNote;
    if (leftover >= 0 && leftover == n)
        addMessage(notes, 0x80, leftover, 0);
    if (n >= 0)
        addMessage(notes, 0x90, n, kMouseVelocity);
    if (leftover >= 0 && leftover != n)
        addMessage(notes, 0x80, leftover, 0);
    if (n >= 0 || leftover >= 0)
        mouseNote = n;
    return notes;
}

MouseNotes mouseMove(const bool& mouseDown, int32_t& mouseNote, int32_t x, int32_t y)
{
    MouseNotes notes;
    if (!mouseDown)
        return notes;
    const int32_t n = hitTest(x, y);
    if (n == mouseNote)
        return notes;
    if (n >= 0)
        addMessage(notes, 0x90, n, kMouseVelocity);
    if (mouseNote >= 0)
        addMessage(notes, 0x80, mouseNote, 0);
    mouseNote = n;
    return notes;
}

MouseNotes mouseButtonUp(bool& mouseDown, int32_t& mouseNote)
{
    MouseNotes notes;
    mouseDown = false;
    if (mouseNote >= 0)
        addMessage(notes, 0x80, mouseNote, 0);
    mouseNote = -1;
    return notes;
}

} // namespace KeyboardGeometry
} // namespace PomaroApp
