// The strip's hit areas, the sprite chosen for a key, the label overlay against the
// computer-keyboard table, and the note messages of the mouse.

#include "app/KeyboardInput.h"
#include "input/KeyboardGeometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace KG = PomaroApp::KeyboardGeometry;

namespace {

TEST(KeyboardHitTest, EdgesOfTheKeysAndOutside)
{
    const struct
    {
        int32_t x, y, note;
    } cases[] = {
        {10, 10, 13},   {5, 10, 13},     {4, 10, 12},
        {14, 10, 13},                                  // C#: its hit area is one pixel wider on the left
        {15, 10, 15},   {10, 16, 13},    {10, 17, 14}, // D#; below row 16 only white keys
        {0, 0, 12},     {69, 29, 23},    {70, 29, 24},
        {65, 10, 23},   {64, 10, 22},   // B has no black key to its right; A#
        {590, 10, 113}, {590, 29, 113}, // past the last drawn key, still a note
        {591, 10, -1},  {10, 30, -1},    {-1, 10, -1},
        {10, -1, -1},   {65535, 10, -1}, {10, 65535, -1}, // left of or above the window: unsigned words
    };
    for (const auto& c : cases)
        EXPECT_EQ(KG::hitTest(c.x, c.y), c.note) << c.x << "," << c.y;
    // No black key between E and F.
    for (int32_t y = 0; y < 17; ++y)
        for (int32_t x = 25; x <= 34; ++x)
            EXPECT_EQ(KG::hitTest(x, y), x < 30 ? 16 : 17) << x << "," << y;
}

TEST(KeyboardHitTest, EveryOctaveRepeatsTheFirst)
{
    for (int32_t o = 1; o <= 8; ++o)
        for (int32_t xo = 0; xo < 70 && 70 * o + xo < KG::kStripWidth; ++xo)
            for (int32_t y = 0; y < 30; ++y)
                ASSERT_EQ(KG::hitTest(70 * o + xo, y), KG::hitTest(xo, y) + 12 * o)
                    << o << " " << xo << " " << y;
}

TEST(KeyboardSprite, DestinationIsTheOctaveSourceIsTheKeyRow)
{
    const struct
    {
        int32_t note;
        bool pressed;
        KG::Rect destination, source;
    } cases[] = {
        {60, true, {280, 0, 350, 30}, {0, 30, 70, 60}},      // C of octave index 4
        {71, false, {280, 0, 350, 30}, {71, 360, 141, 390}}, // B: last row, released column
        {12, true, {0, 0, 70, 30}, {0, 30, 70, 60}},
        {112, true, {560, 0, 630, 30}, {0, 150, 70, 180}}, // E of the partial ninth octave
    };
    auto edges = [](const KG::Rect& r) { return std::vector<int32_t>{r.left, r.top, r.right, r.bottom}; };
    for (const auto& c : cases) {
        KG::KeySprite s{};
        ASSERT_TRUE(KG::keySprite(c.note, c.pressed, s)) << c.note;
        EXPECT_EQ(edges(s.destination), edges(c.destination)) << c.note;
        EXPECT_EQ(edges(s.source), edges(c.source)) << c.note;
    }
    KG::KeySprite s{};
    for (int32_t note : {11, 113, -1, 127})
        EXPECT_FALSE(KG::keySprite(note, true, s)) << note;
}

// Each label, at its centre in the overlay, must sit on the key its computer key plays.
TEST(KeyboardLabels, EveryLabelLiesOnTheNoteItsKeyPlays)
{
    struct Label
    {
        uint32_t virtualKey;
        int32_t centreX;
        int32_t row;
    };
    std::vector<Label> labels;
    const uint32_t whiteKeys[21] = {'Z', 'X', 'C', 'V', 'B', 'N', 'M', 0xBC, 0xBE, 'Q', 'W',
                                    'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P',  0xC0, 0xDB};
    for (int32_t i = 0; i < 21; ++i)
        labels.push_back({whiteKeys[i], 25 + 10 * i, 22});
    const uint32_t blackKeys[16] = {'A', 'S', 'F', 'G', 'J', 'K', 'L',  '2',
                                    '3', '5', '6', '7', '9', '0', 0xDE, 0xDC};
    const int32_t blackX[16] = {20, 30, 50, 60, 80, 90, 100, 120, 130, 150, 160, 170, 190, 200, 220, 230};
    for (int32_t i = 0; i < 16; ++i)
        labels.push_back({blackKeys[i], blackX[i], 10});

    PomaroApp::KeyToNoteTable table;
    PomaroApp::fillKeyToNote(table);
    for (int32_t octave = PomaroApp::kMinOctave; octave <= PomaroApp::kMaxOctave; ++octave) {
        for (const Label& label : labels) {
            const int32_t offset = table[label.virtualKey];
            ASSERT_GE(offset, 0) << label.virtualKey;
            const int32_t x = KG::labelsX(octave) + label.centreX;
            if (x < 0 || x >= KG::kStripWidth)
                continue; // clipped at the strip's ends
            EXPECT_EQ(KG::hitTest(x, label.row), PomaroApp::noteForKey(offset, octave))
                << "key " << label.virtualKey << " octave " << octave;
        }
    }
    EXPECT_EQ(KG::hitTest(KG::labelsX(5) + 25, 22), 57);  // "Z"
    EXPECT_EQ(KG::hitTest(KG::labelsX(5) + 115, 22), 72); // "Q"
    EXPECT_EQ(KG::labelsX(1), -40);
    EXPECT_GT(KG::labelsX(7) + KG::kLabelsWidth, KG::kStripWidth);
}

using Msgs = std::vector<std::vector<int>>;

// One mouse gesture: 'd' button down at (x, y), 'm' move to it, 'u' button up, and the
// messages the step sends, in order.
struct Gesture
{
    char what;
    int32_t x, y;
    Msgs sent;
};

TEST(KeyboardMouse, GesturesSendTheirNotes)
{
    const std::vector<std::vector<Gesture>> sequences = {
        // Click plays and release stops; moves within the key send nothing.
        {{'d', 4, 20, {{0x90, 12, 100, 0}}},
         {'m', 6, 25, {}},
         {'u', 0, 0, {{0x80, 12, 0, 0}}},
         {'u', 0, 0, {}}},
        // A drag starts the new key before stopping the old; out of the window below only
        // the note-off, then nothing until it comes back.
        {{'d', 282, 25, {{0x90, 60, 100, 0}}},
         {'m', 292, 25, {{0x90, 62, 100, 0}, {0x80, 60, 0, 0}}},
         {'m', 292, 40, {{0x80, 62, 0, 0}}},
         {'m', 300, 45, {}},
         {'m', 297, 10, {{0x90, 63, 100, 0}}},
         {'u', 0, 0, {{0x80, 63, 0, 0}}}},
        // Moves without the button and presses outside play nothing; moving in with the
        // button down does.
        {{'m', 10, 10, {}},
         {'d', 600, 10, {}},
         {'m', 10, 10, {{0x90, 13, 100, 0}}},
         {'u', 0, 0, {{0x80, 13, 0, 0}}}},
        // The button-up went to another window (capture lost): the next press must not leave
        // the old note hanging, and the same key starts afresh.
        {{'d', 4, 20, {{0x90, 12, 100, 0}}},
         {'d', 14, 20, {{0x90, 14, 100, 0}, {0x80, 12, 0, 0}}},
         {'d', 14, 20, {{0x80, 14, 0, 0}, {0x90, 14, 100, 0}}},
         {'d', 14, 200, {{0x80, 14, 0, 0}}},
         {'u', 0, 0, {}}},
    };
    for (size_t s = 0; s < sequences.size(); ++s) {
        bool down = false, pressed = false;
        int32_t note = -1;
        for (const Gesture& g : sequences[s]) {
            pressed = g.what == 'm' ? pressed : g.what == 'd';
            const KG::MouseNotes notes = g.what == 'd'   ? KG::mouseButtonDown(down, note, g.x, g.y)
                                         : g.what == 'm' ? KG::mouseMove(down, note, g.x, g.y)
                                                         : KG::mouseButtonUp(down, note);
            Msgs sent;
            for (int32_t i = 0; i < notes.count; ++i)
                sent.push_back(
                    {notes.messages[i][0], notes.messages[i][1], notes.messages[i][2], notes.messages[i][3]});
            EXPECT_EQ(sent, g.sent) << "sequence " << s << " " << g.what << " " << g.x << "," << g.y;
            EXPECT_EQ(down, pressed);
        }
        EXPECT_FALSE(down);
        EXPECT_EQ(note, -1) << "sequence " << s;
    }
}

} // namespace
