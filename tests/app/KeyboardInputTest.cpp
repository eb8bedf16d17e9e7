#include "app/KeyboardInput.h"

#include <gtest/gtest.h>

#include <set>

using namespace PomaroApp;

namespace {

constexpr uint32_t kVkOem2 = 0xBF;
constexpr uint32_t kVkOem6 = 0xDD;

struct Keys
{
    KeyToNoteTable keyToNote;
    HeldNoteTable heldNote{};
    int32_t octave = kStartOctave;
    Keys() { fillKeyToNote(keyToNote); }

    KeyAction down(uint32_t vk, bool repeat = false) { return keyDown(keyToNote, heldNote, octave, vk, repeat); }
    KeyAction up(uint32_t vk) { return keyUp(keyToNote, heldNote, vk); }
};

void expectMessage(const KeyAction& action, uint8_t status, uint8_t note, uint8_t velocity)
{
    ASSERT_EQ(action.kind, KeyAction::SendMidi);
    EXPECT_EQ(action.message[0], status);
    EXPECT_EQ(action.message[1], note);
    EXPECT_EQ(action.message[2], velocity);
    EXPECT_EQ(action.message[3], 0);
}

} // namespace

TEST(KeyTable, FortyOneKeysCoverOffsetsZeroToThirtySixWithTheOverlapAtSixteenToNineteen)
{
    KeyToNoteTable table;
    fillKeyToNote(table);
    int playing = 0;
    int perOffset[37] = {};
    for (int vk = 0; vk < kKeyTableSize; ++vk) {
        if (table[vk] == -1)
            continue;
        ASSERT_GE(table[vk], 0) << vk;
        ASSERT_LE(table[vk], 36) << vk;
        ++playing;
        ++perOffset[table[vk]];
    }
    EXPECT_EQ(playing, 41);
    for (int offset = 0; offset <= 36; ++offset)
        EXPECT_EQ(perOffset[offset], offset >= 16 && offset <= 19 ? 2 : 1) << "offset " << offset;
    // The two rows meet here: each keyboard reaches 16..19 with its own key.
    EXPECT_EQ(table[kVkOem2], 16);
    EXPECT_EQ(table['Q'], 16);
    EXPECT_EQ(table[kVkOem6], 19);
    EXPECT_EQ(table['3'], 19);
    EXPECT_EQ(table[0xDC], 36); // VK_OEM_5 ends the upper keyboard
    EXPECT_EQ(table['D'], -1);  // between S and F: no black key there
}

TEST(KeyTable, StartingOctavePlaysMiddleCOnTheCKey)
{
    Keys keys;
    expectMessage(keys.down('C'), 0x90, 60, 100);
    EXPECT_EQ(noteForKey(0, kMinOctave), 8);
    EXPECT_EQ(noteForKey(36, kMaxOctave), 116); // the highest note stays a valid MIDI note
}

TEST(KeyboardInput, NoteOffGoesToTheNoteTheKeyStartedAfterAnOctaveChange)
{
    Keys keys;
    expectMessage(keys.down('C'), 0x90, 60, 100);
    EXPECT_EQ(keys.down(kVkPageUp).kind, KeyAction::OctaveChanged);
    EXPECT_EQ(keys.octave, 6);
    expectMessage(keys.up('C'), 0x80, 60, 0);
    expectMessage(keys.down('C'), 0x90, 72, 100);
}

TEST(KeyboardInput, OctaveKeysRepeatButStopAtTheirLimits)
{
    Keys keys;
    int changes = 0;
    for (int i = 0; i < 6; ++i)
        changes += keys.down(kVkPageUp, i > 0).kind == KeyAction::OctaveChanged;
    EXPECT_EQ(keys.octave, kMaxOctave);
    EXPECT_EQ(changes, 2);
    changes = 0;
    for (int i = 0; i < 10; ++i)
        changes += keys.down(kVkPageDown, i > 0).kind == KeyAction::OctaveChanged;
    EXPECT_EQ(keys.octave, kMinOctave);
    EXPECT_EQ(changes, 6);
}

TEST(KeyboardInput, AutoRepeatOfANoteKeyAndKeysThatPlayNothingSendNothing)
{
    Keys keys;
    EXPECT_EQ(keys.down('C', true).kind, KeyAction::None);
    EXPECT_EQ(keys.down('D').kind, KeyAction::None);
    EXPECT_EQ(keys.up('D').kind, KeyAction::None);
    // Only the low byte of wParam is the key code.
    expectMessage(keys.down(0x100 | 'C'), 0x90, 60, 100);
}

TEST(KeyboardInput, KeysWithTheSameOffsetShareOneHeldNote)
{
    Keys keys;
    expectMessage(keys.down('Q'), 0x90, 72, 100);
    keys.down(kVkPageUp);
    expectMessage(keys.down(kVkOem2), 0x90, 84, 100);
    expectMessage(keys.up('Q'), 0x80, 84, 0);
    expectMessage(keys.up(kVkOem2), 0x80, 84, 0);
}
