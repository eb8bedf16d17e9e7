// The strip's hit areas, the sprite chosen for a key, the label overlay against the
// computer-keyboard table, and the note messages of the mouse.

#include "app/KeyboardInput.h"
#include "input/KeyboardGeometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace KG = PomaroApp::KeyboardGeometry;

namespace {

TEST(KeyboardHitTest, EdgesOfBlackAndWhiteKeys)
{
    EXPECT_EQ(KG::hitTest(10, 10), 13); // C# over the first boundary
    EXPECT_EQ(KG::hitTest(5, 10), 13);  // the hit area is one pixel wider on the left
    EXPECT_EQ(KG::hitTest(4, 10), 12);
    EXPECT_EQ(KG::hitTest(14, 10), 13);
    EXPECT_EQ(KG::hitTest(15, 10), 15); // D#
    EXPECT_EQ(KG::hitTest(10, 20), 14); // below the black keys only white keys
    EXPECT_EQ(KG::hitTest(10, 16), 13);
    EXPECT_EQ(KG::hitTest(10, 17), 14);
    EXPECT_EQ(KG::hitTest(0, 0), 12);
    EXPECT_EQ(KG::hitTest(69, 29), 23);
    EXPECT_EQ(KG::hitTest(70, 29), 24);
}

TEST(KeyboardHitTest, NoBlackKeyBetweenEAndF)
{
    for (int32_t y = 0; y < 17; ++y) {
        for (int32_t x = 25; x <= 29; ++x)
            EXPECT_EQ(KG::hitTest(x, y), 16) << x << "," << y;
        for (int32_t x = 30; x <= 34; ++x)
            EXPECT_EQ(KG::hitTest(x, y), 17) << x << "," << y;
    }
}

TEST(KeyboardHitTest, EveryOctaveRepeatsTheFirst)
{
    for (int32_t o = 1; o <= 8; ++o) {
        for (int32_t xo = 0; xo < 70 && 70 * o + xo < KG::kStripWidth; ++xo) {
            for (int32_t y = 0; y < 30; ++y)
                ASSERT_EQ(KG::hitTest(70 * o + xo, y), KG::hitTest(xo, y) + 12 * o) << o << " " << xo << " " << y;
        }
    }
}

TEST(KeyboardHitTest, LastColumnAndOutside)
{
    EXPECT_EQ(KG::hitTest(590, 10), 113); // past the last drawn key, still a note
    EXPECT_EQ(KG::hitTest(590, 29), 113); // F of the ninth octave, all rows
    EXPECT_EQ(KG::hitTest(591, 10), -1);
    EXPECT_EQ(KG::hitTest(10, 30), -1);
    EXPECT_EQ(KG::hitTest(-1, 10), -1);
    EXPECT_EQ(KG::hitTest(10, -1), -1);
    // Points left of or above the window arrive as unsigned words.
    EXPECT_EQ(KG::hitTest(65535, 10), -1);
    EXPECT_EQ(KG::hitTest(10, 65535), -1);
    for (int32_t x = 0; x < KG::kStripWidth; ++x) {
        for (int32_t y = 0; y < KG::kStripHeight; ++y) {
            const int32_t n = KG::hitTest(x, y);
            ASSERT_GE(n, 12);
            ASSERT_LE(n, 127);
        }
    }
}

TEST(KeyboardSprite, DestinationIsTheOctaveSourceIsTheKeyRow)
{
    KG::KeySprite s{};
    ASSERT_TRUE(KG::keySprite(60, true, s)); // C of octave index 4
    EXPECT_EQ(s.destination.left, 280);
    EXPECT_EQ(s.destination.right, 350);
    EXPECT_EQ(s.destination.top, 0);
    EXPECT_EQ(s.destination.bottom, 30);
    EXPECT_EQ(s.source.left, 0);
    EXPECT_EQ(s.source.right, 70);
    EXPECT_EQ(s.source.top, 30);
    EXPECT_EQ(s.source.bottom, 60);

    ASSERT_TRUE(KG::keySprite(71, false, s)); // B: last row, released column
    EXPECT_EQ(s.destination.left, 280);
    EXPECT_EQ(s.source.left, 71);
    EXPECT_EQ(s.source.right, 141);
    EXPECT_EQ(s.source.top, 360);
    EXPECT_EQ(s.source.bottom, 390);

    ASSERT_TRUE(KG::keySprite(12, true, s));
    EXPECT_EQ(s.destination.left, 0);
    ASSERT_TRUE(KG::keySprite(112, true, s)); // E of the partial ninth octave
    EXPECT_EQ(s.destination.left, 560);
    EXPECT_EQ(s.source.top, 150);

    EXPECT_FALSE(KG::keySprite(11, true, s));
    EXPECT_FALSE(KG::keySprite(113, true, s));
    EXPECT_FALSE(KG::keySprite(-1, false, s));
    EXPECT_FALSE(KG::keySprite(127, false, s));
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
                                    'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P', 0xC0, 0xDB};
    for (int32_t i = 0; i < 21; ++i)
        labels.push_back({whiteKeys[i], 25 + 10 * i, 22});
    const uint32_t blackKeys[16] = {'A', 'S', 'F', 'G', 'J', 'K', 'L', '2', '3', '5', '6', '7', '9', '0', 0xDE, 0xDC};
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
    EXPECT_EQ(KG::hitTest(KG::labelsX(5) + 25, 22), 57); // "Z"
    EXPECT_EQ(KG::hitTest(KG::labelsX(5) + 115, 22), 72); // "Q"
    EXPECT_EQ(KG::labelsX(1), -40);
    EXPECT_GT(KG::labelsX(7) + KG::kLabelsWidth, KG::kStripWidth);
}

std::vector<std::vector<int>> sent(const KG::MouseNotes& notes)
{
    std::vector<std::vector<int>> out;
    for (int32_t i = 0; i < notes.count; ++i)
        out.push_back({notes.messages[i][0], notes.messages[i][1], notes.messages[i][2], notes.messages[i][3]});
    return out;
}

using Msgs = std::vector<std::vector<int>>;

TEST(KeyboardMouse, ClickPlaysAndReleaseStops)
{
    bool down = false;
    int32_t note = -1;
    EXPECT_EQ(sent(KG::mouseButtonDown(down, note, 4, 20)), (Msgs{{0x90, 12, 100, 0}}));
    EXPECT_TRUE(down);
    EXPECT_EQ(note, 12);
    EXPECT_TRUE(sent(KG::mouseMove(down, note, 6, 25)).empty()); // same key
    EXPECT_EQ(sent(KG::mouseButtonUp(down, note)), (Msgs{{0x80, 12, 0, 0}}));
    EXPECT_FALSE(down);
    EXPECT_EQ(note, -1);
    EXPECT_TRUE(sent(KG::mouseButtonUp(down, note)).empty());
}

TEST(KeyboardMouse, DragStartsTheNewKeyBeforeStoppingTheOld)
{
    bool down = false;
    int32_t note = -1;
    // C of octave index 4 (x 280) to D (x 290), on the white rows.
    KG::mouseButtonDown(down, note, 282, 25);
    EXPECT_EQ(sent(KG::mouseMove(down, note, 292, 25)), (Msgs{{0x90, 62, 100, 0}, {0x80, 60, 0, 0}}));
    EXPECT_EQ(note, 62);
    // Out of the window below: only the note-off, then nothing until it comes back.
    EXPECT_EQ(sent(KG::mouseMove(down, note, 292, 40)), (Msgs{{0x80, 62, 0, 0}}));
    EXPECT_EQ(note, -1);
    EXPECT_TRUE(sent(KG::mouseMove(down, note, 300, 45)).empty());
    EXPECT_EQ(sent(KG::mouseMove(down, note, 297, 10)), (Msgs{{0x90, 63, 100, 0}})); // D#
    EXPECT_EQ(sent(KG::mouseButtonUp(down, note)), (Msgs{{0x80, 63, 0, 0}}));
}

TEST(KeyboardMouse, MovesWithoutButtonAndPressesOutsidePlayNothing)
{
    bool down = false;
    int32_t note = -1;
    EXPECT_TRUE(sent(KG::mouseMove(down, note, 10, 10)).empty());
    EXPECT_TRUE(sent(KG::mouseButtonDown(down, note, 600, 10)).empty());
    EXPECT_TRUE(down);
    EXPECT_EQ(note, -1);
    EXPECT_EQ(sent(KG::mouseMove(down, note, 10, 10)), (Msgs{{0x90, 13, 100, 0}}));
    EXPECT_EQ(sent(KG::mouseButtonUp(down, note)), (Msgs{{0x80, 13, 0, 0}}));
}

// The button-up went to another window (capture lost): the next press must not leave
// the old note hanging.
TEST(KeyboardMouse, PressAfterLostReleaseStopsTheLeftoverNote)
{
    bool down = false;
    int32_t note = -1;
    KG::mouseButtonDown(down, note, 4, 20); // note 12, its button-up never arrives
    EXPECT_EQ(sent(KG::mouseButtonDown(down, note, 14, 20)), (Msgs{{0x90, 14, 100, 0}, {0x80, 12, 0, 0}}));
    EXPECT_EQ(note, 14);
    EXPECT_EQ(sent(KG::mouseButtonDown(down, note, 14, 20)), (Msgs{{0x80, 14, 0, 0}, {0x90, 14, 100, 0}}));
    EXPECT_EQ(sent(KG::mouseButtonDown(down, note, 14, 200)), (Msgs{{0x80, 14, 0, 0}}));
    EXPECT_EQ(note, -1);
    EXPECT_TRUE(sent(KG::mouseButtonUp(down, note)).empty());
}

} // namespace
