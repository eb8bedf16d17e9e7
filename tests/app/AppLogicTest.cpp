// The computer keyboard's notes (the key table against the layout written out by row, and
// what a sequence of key messages sends), the frame's layout, and the strip's hit areas and
// mouse notes. What the strip draws (the labels included) is the end-to-end test's.

#include "app/FrameLayout.h"
#include "app/KeyboardInput.h"
#include "input/KeyboardGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

using namespace PomaroApp;
namespace KG = PomaroApp::KeyboardGeometry;

namespace {

// The two keyboards as they lie on the keys, lowest note first: the lower letter rows
// from offset 0, the number row with the row below it from offset 16.
const std::vector<uint32_t> kLowerRows = {'A', 'Z', 'S', 'X',  'C', 'F',  'V',  'G',  'B',  'N',
                                          'J', 'M', 'K', 0xBC, 'L', 0xBE, 0xBF, 0xBA, 0xE2, 0xDD};
const std::vector<uint32_t> kUpperRows = {'Q', '2', 'W', '3', 'E', 'R', '5',  'T',  '6',  'Y', '7',
                                          'U', 'I', '9', 'O', '0', 'P', 0xC0, 0xDE, 0xDB, 0xDC};

constexpr uint32_t kUp = kVkPageUp, kDown = kVkPageDown;

// 'd' key down, 'r' auto-repeated key down or 'u' key up, the key, and the result: 0x90 /
// 0x80 that message for `note`, 1 the octave changed, 0 nothing; then the octave after it.
struct Stroke
{
    int what, key, result, note, octave;
};

// From the starting octave 5, in order.
const Stroke kStrokes[] = {
    {'d', 'C', 0x90, 60, 5},                            // middle C on the C key
    {'d', kUp, 1, 0, 6},       {'u', 'C', 0x80, 60, 6}, // the note-off goes to the note the key started
    {'r', kUp, 1, 0, 7},                                // a held octave key keeps stepping ...
    {'r', kUp, 0, 0, 7},                                // ... up to 7
    {'d', 0xDC, 0x90, 116, 7},                          // the highest note
    {'u', 0xDC, 0x80, 116, 7}, {'d', 'C', 0x90, 84, 7},
    {'r', 'C', 0, 0, 7},                                 // a held note key does not repeat
    {'u', 'C', 0x80, 84, 7},   {'d', 'D', 0, 0, 7},      // between S and F: no black key there
    {'u', 'D', 0, 0, 7},       {'d', 'Q', 0x90, 96, 7},  // offset 16 ...
    {'d', kDown, 1, 0, 6},     {'d', 0xBF, 0x90, 84, 6}, // ... on both keyboards, sharing one held note
    {'u', 'Q', 0x80, 84, 6},   {'u', 0xBF, 0x80, 84, 6},
    {'r', kDown, 1, 0, 5},     {'r', kDown, 1, 0, 4},
    {'r', kDown, 1, 0, 3},     {'r', kDown, 1, 0, 2},
    {'r', kDown, 1, 0, 1},     {'r', kDown, 0, 0, 1}, // down to 1
    {'d', 'A', 0x90, 8, 1},                           // the lowest note
    {'u', 'A', 0x80, 8, 1},
};

TEST(KeyboardInput, EveryKeyHasItsPlaceAndStrokesSendTheirNotesAndStepTheOctaveWithinItsLimits)
{
    int32_t expected[kKeyTableSize];
    std::fill(std::begin(expected), std::end(expected), -1);
    for (size_t i = 0; i < kLowerRows.size(); ++i)
        expected[kLowerRows[i]] = static_cast<int32_t>(i);
    for (size_t i = 0; i < kUpperRows.size(); ++i)
        expected[kUpperRows[i]] = static_cast<int32_t>(16 + i);
    KeyToNoteTable keyToNote;
    std::fill(std::begin(keyToNote), std::end(keyToNote), 12345); // every entry must be written
    fillKeyToNote(keyToNote);
    for (int vk = 0; vk < kKeyTableSize; ++vk)
        EXPECT_EQ(keyToNote[vk], expected[vk]) << "virtual key 0x" << std::hex << vk;
    HeldNoteTable heldNote{};
    int32_t octave = 5;
    for (const Stroke& s : kStrokes) {
        SCOPED_TRACE(::testing::Message()
                     << s.what << " 0x" << std::hex << s.key << std::dec << " at octave " << octave);
        const KeyAction a = s.what == 'u' ? keyUp(keyToNote, heldNote, s.key)
                                          : keyDown(keyToNote, heldNote, octave, s.key, s.what == 'r');
        EXPECT_EQ(octave, s.octave);
        ASSERT_EQ(a.kind, s.result > 1 ? KeyAction::SendMidi
                          : s.result   ? KeyAction::OctaveChanged
                                       : KeyAction::None);
        if (s.result > 1) {
            EXPECT_EQ(std::vector<int>(a.message, a.message + 4),
                      (std::vector<int>{s.result, s.note, s.result == 0x90 ? 100 : 0, 0}));
        }
    }
}

TEST(FrameLayout, StripIsCentredAndCutOnBothSidesAndTheDragIsRewrittenAroundTheEditor)
{
    EXPECT_EQ(keyboardStripX(1000), 204);
    EXPECT_EQ(keyboardStripX(500), -45); // -91 / 2 truncates toward zero
    EXPECT_EQ(keyboardStripY(230), 200);

    const int32_t ncWidth = 8, ncHeight = 50;
    FrameRect drag{100, 200, 100 + 8 + 300, 200 + 50 + 30 + 150};
    const FrameRect editor = editorRectForDrag(drag, ncWidth, ncHeight);
    EXPECT_EQ(std::vector<int32_t>({editor.left, editor.top, editor.width(), editor.height()}),
              std::vector<int32_t>({0, 0, 300, 150}));
    // A constraint that answers with an offset rectangle still counts by its size.
    fitDragToEditor(drag, FrameRect{10, 10, 410, 210}, ncWidth, ncHeight);
    EXPECT_EQ(std::vector<int32_t>({drag.left, drag.top, drag.width(), drag.height()}),
              std::vector<int32_t>({100, 200, 400 + ncWidth, 200 + ncHeight + 30}));
}

TEST(KeyboardHitTest, EdgesOfTheKeysAndOutsideAndEveryOctaveRepeatsTheFirst)
{
    const int32_t cases[][3] = {
        {10, 10, 13},   {5, 10, 13},     {4, 10, 12},
        {14, 10, 13},                                  // C#: its hit area is one pixel wider on the left
        {15, 10, 15},   {10, 16, 13},    {10, 17, 14}, // D#; below row 16 only white keys
        {29, 0, 16},    {30, 16, 17},                  // no black key between E and F
        {0, 0, 12},     {69, 29, 23},    {70, 29, 24},
        {65, 10, 23},   {64, 10, 22},   // B has no black key to its right; A#
        {590, 10, 113}, {590, 29, 113}, // past the last drawn key, still a note
        {591, 10, -1},  {10, 30, -1},    {-1, 10, -1},
        {10, -1, -1},   {65535, 10, -1}, {10, 65535, -1}, // left of or above the window: unsigned words
    };
    for (const auto& c : cases)
        EXPECT_EQ(KG::hitTest(c[0], c[1]), c[2]) << c[0] << "," << c[1];
    for (int32_t x = 70; x < KG::kStripWidth; ++x)
        for (int32_t y = 0; y < 30; ++y)
            ASSERT_EQ(KG::hitTest(x, y), KG::hitTest(x % 70, y) + 12 * (x / 70)) << x << " " << y;
    KG::KeySprite s{}; // nothing is drawn for a note without a key
    for (int32_t note : {11, 113, -1, 127})
        EXPECT_FALSE(KG::keySprite(note, true, s)) << note;
}

// One mouse gesture: 'd' button down at (x, y), 'm' move to it, 'u' button up, and the
// messages the step sends, in order.
struct Gesture
{
    int what, x, y;
    std::vector<std::vector<int>> sent;
};

TEST(KeyboardMouse, GesturesSendTheirNotes)
{
    const Gesture gestures[] = {
        // A drag starts the new key before stopping the old; out of the window below only
        // the note-off, then nothing until it comes back.
        {'d', 282, 25, {{0x90, 60, 100, 0}}},
        {'m', 292, 25, {{0x90, 62, 100, 0}, {0x80, 60, 0, 0}}},
        {'m', 292, 40, {{0x80, 62, 0, 0}}},
        {'m', 300, 45, {}},
        {'m', 297, 10, {{0x90, 63, 100, 0}}},
        {'u', 0, 0, {{0x80, 63, 0, 0}}},
        // Moves without the button and presses outside play nothing; moving in with the
        // button down does.
        {'m', 10, 10, {}},
        {'d', 600, 10, {}},
        {'m', 10, 10, {{0x90, 13, 100, 0}}},
        {'u', 0, 0, {{0x80, 13, 0, 0}}},
        // The button-up went to another window (capture lost): the next press must not leave
        // the old note hanging, and the same key starts afresh.
        {'d', 4, 20, {{0x90, 12, 100, 0}}},
        {'d', 14, 20, {{0x90, 14, 100, 0}, {0x80, 12, 0, 0}}},
        {'d', 14, 20, {{0x80, 14, 0, 0}, {0x90, 14, 100, 0}}},
        {'d', 14, 200, {{0x80, 14, 0, 0}}},
        {'u', 0, 0, {}},
    };
    bool down = false;
    int32_t note = -1;
    for (const Gesture& g : gestures) {
        const KG::MouseNotes notes = g.what == 'd'   ? KG::mouseButtonDown(down, note, g.x, g.y)
                                     : g.what == 'm' ? KG::mouseMove(down, note, g.x, g.y)
                                                     : KG::mouseButtonUp(down, note);
        std::vector<std::vector<int>> sent;
        for (int32_t i = 0; i < notes.count; ++i)
            sent.emplace_back(notes.messages[i], notes.messages[i] + 4);
        EXPECT_EQ(sent, g.sent) << &g - gestures << ": " << g.what << " " << g.x << "," << g.y;
        EXPECT_TRUE(g.what == 'm' || down == (g.what == 'd'));
        EXPECT_TRUE(g.what != 'u' || note == -1);
    }
}

} // namespace
