// The computer keyboard's notes (the key table against the layout written out by row,
// and what a sequence of key messages sends) and the frame's layout.

#include "app/FrameLayout.h"
#include "app/KeyboardInput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

using namespace PomaroApp;

namespace {

// The two keyboards as they lie on the keys, lowest note first: the lower letter rows
// from offset 0, the number row with the row below it from offset 16.
const std::vector<uint32_t> kLowerRows = {'A', 'Z', 'S', 'X',  'C', 'F',  'V',  'G',  'B',  'N',
                                          'J', 'M', 'K', 0xBC, 'L', 0xBE, 0xBF, 0xBA, 0xE2, 0xDD};
const std::vector<uint32_t> kUpperRows = {'Q', '2', 'W', '3', 'E', 'R', '5',  'T',  '6',  'Y', '7',
                                          'U', 'I', '9', 'O', '0', 'P', 0xC0, 0xDE, 0xDB, 0xDC};

TEST(KeyTable, EveryKeyHasTheOffsetOfItsPlaceOnTheKeyboard)
{
    int32_t expected[kKeyTableSize];
    std::fill(std::begin(expected), std::end(expected), -1);
    for (size_t i = 0; i < kLowerRows.size(); ++i)
        expected[kLowerRows[i]] = static_cast<int32_t>(i);
    for (size_t i = 0; i < kUpperRows.size(); ++i)
        expected[kUpperRows[i]] = static_cast<int32_t>(16 + i);
    KeyToNoteTable table;
    std::fill(std::begin(table), std::end(table), 12345); // every entry must be written
    fillKeyToNote(table);
    for (int vk = 0; vk < kKeyTableSize; ++vk)
        EXPECT_EQ(table[vk], expected[vk]) << "virtual key 0x" << std::hex << vk;
}

constexpr uint32_t kUp = kVkPageUp, kDown = kVkPageDown;

struct Stroke
{
    char what; // 'd' key down, 'r' auto-repeated key down, 'u' key up
    uint32_t key;
    int result; // 0x90 / 0x80: that message for `note`; 1: the octave changed; 0: nothing
    uint8_t note;
    int32_t octave; // after the stroke
};

// From the starting octave 5, in order.
const Stroke kStrokes[] = {
    {'d', 'C', 0x90, 60, 5}, // middle C on the C key
    {'d', kUp, 1, 0, 6},
    {'u', 'C', 0x80, 60, 6},   // the note-off goes to the note the key started
    {'r', kUp, 1, 0, 7},       // a held octave key keeps stepping ...
    {'r', kUp, 0, 0, 7},       // ... up to 7
    {'d', 0xDC, 0x90, 116, 7}, // the highest note
    {'u', 0xDC, 0x80, 116, 7},
    {'d', 'C', 0x90, 84, 7},
    {'r', 'C', 0, 0, 7}, // a held note key does not repeat
    {'u', 'C', 0x80, 84, 7},
    {'d', 'D', 0, 0, 7}, // between S and F: no black key there
    {'u', 'D', 0, 0, 7},
    {'d', 0x100 | 'C', 0x90, 84, 7}, // only the low byte of wParam is the key
    {'u', 0x100 | 'C', 0x80, 84, 7},
    {'d', 'Q', 0x90, 96, 7}, // offset 16 ...
    {'d', kDown, 1, 0, 6},
    {'d', 0xBF, 0x90, 84, 6}, // ... on both keyboards, sharing one held note
    {'u', 'Q', 0x80, 84, 6},
    {'u', 0xBF, 0x80, 84, 6},
    {'r', kDown, 1, 0, 5},
    {'r', kDown, 1, 0, 4},
    {'r', kDown, 1, 0, 3},
    {'r', kDown, 1, 0, 2},
    {'r', kDown, 1, 0, 1},
    {'r', kDown, 0, 0, 1},  // down to 1
    {'d', 'A', 0x90, 8, 1}, // the lowest note
    {'u', 'A', 0x80, 8, 1},
};

TEST(KeyboardInput, KeyStrokesSendTheirNotesAndStepTheOctaveWithinItsLimits)
{
    KeyToNoteTable keyToNote;
    fillKeyToNote(keyToNote);
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

} // namespace
