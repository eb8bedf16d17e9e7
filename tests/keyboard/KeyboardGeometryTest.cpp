// The strip's hit areas and the note messages of the mouse. What the strip draws (the
// labels included) is the end-to-end test's.

#include "input/KeyboardGeometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace KG = PomaroApp::KeyboardGeometry;

namespace {

TEST(KeyboardHitTest, EdgesOfTheKeysAndOutsideAndEveryOctaveRepeatsTheFirst)
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
    for (int32_t y = 0; y < 17; ++y) // no black key between E and F
        for (int32_t x = 25; x <= 34; ++x)
            EXPECT_EQ(KG::hitTest(x, y), x < 30 ? 16 : 17) << x << "," << y;
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
    char what;
    int32_t x, y;
    std::vector<std::vector<int>> sent;
};

TEST(KeyboardMouse, GesturesSendTheirNotes)
{
    const std::vector<std::vector<Gesture>> sequences = {
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
            std::vector<std::vector<int>> sent;
            for (int32_t i = 0; i < notes.count; ++i)
                sent.emplace_back(notes.messages[i], notes.messages[i] + 4);
            EXPECT_EQ(sent, g.sent) << "sequence " << s << " " << g.what << " " << g.x << "," << g.y;
            EXPECT_EQ(down, pressed);
        }
        EXPECT_EQ(note, -1) << "sequence " << s;
    }
}

} // namespace
