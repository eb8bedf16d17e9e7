#include "host/MidiControllerMap.h"

#include <gtest/gtest.h>

using namespace PomaroApp;
using Steinberg::Vst::kNoParamId;
using Display = MidiDecodeResult::Display;

namespace {

struct MidiControllerMapTest : ::testing::Test
{
	MidiCtrlMap map;
	void SetUp () override { initMidiCtrlMap (map); }

	MidiDecodeResult send (uint8_t status, uint8_t d1, uint8_t d2)
	{
		const uint8_t message[4] = {status, d1, d2, 0};
		return decodeMidiMessage (map, message);
	}
};

TEST_F (MidiControllerMapTest, ConstructionPairsFirst32WithNext32)
{
	for (int i = 0; i < kMidiCtrlCount; ++i)
	{
		EXPECT_EQ (map[i].isMsb, i < 32 ? 1 : 0) << i;
		EXPECT_EQ (map[i].isLsb, (i >= 32 && i < 64) ? 1 : 0) << i;
		EXPECT_EQ (map[i].msbIndex, (i >= 32 && i < 64) ? i - 32 : 0) << i;
		EXPECT_EQ (map[i].paramId.load (), kNoParamId) << i;
	}
}

TEST_F (MidiControllerMapTest, FourteenBitPairVolume)
{
	map[7].paramId = 42;
	MidiDecodeResult r = send (0xB0, 7, 127);
	ASSERT_TRUE (r.hasParam);
	EXPECT_EQ (r.paramId, 42u);
	EXPECT_EQ (r.value, 1.0);

	r = send (0xB0, 7, 64);
	EXPECT_DOUBLE_EQ (r.value, 8192.0 / 16256.0);
	EXPECT_NEAR (r.value, 0.50394, 5e-6);

	r = send (0xB0, 39, 127); // its low half drives the same parameter
	ASSERT_TRUE (r.hasParam);
	EXPECT_EQ (r.paramId, 42u);
	EXPECT_DOUBLE_EQ (r.value, 8319.0 / 16383.0);
	EXPECT_NEAR (r.value, 0.50778, 5e-6);
}

TEST_F (MidiControllerMapTest, LowHalfBeforeAnyHighHalfCountsFromZero)
{
	map[1].paramId = 5;
	MidiDecodeResult r = send (0xB0, 33, 100);
	EXPECT_DOUBLE_EQ (r.value, 100.0 / 16383.0);
	// An unmapped high half neither produces a value nor remembers one.
	map[2].paramId = kNoParamId;
	EXPECT_FALSE (send (0xB0, 2, 127).hasParam);
	EXPECT_EQ (map[2].value14.load (), 0);
	EXPECT_FALSE (send (0xB0, 34, 1).hasParam);
}

TEST_F (MidiControllerMapTest, PlainControllerAndChannelIgnored)
{
	map[74].paramId = 9;
	for (uint8_t channel = 0; channel < 16; ++channel)
	{
		MidiDecodeResult r = send (uint8_t (0xB0 | channel), 74, 127);
		ASSERT_TRUE (r.hasParam);
		EXPECT_EQ (r.value, 1.0);
		EXPECT_EQ (r.display, Display::None);
	}
	EXPECT_DOUBLE_EQ (send (0xB5, 74, 0xFF).value, 1.0); // data bytes masked to seven bits
	EXPECT_EQ (send (0xB5, 74, 0).value, 0.0);
}

TEST_F (MidiControllerMapTest, PitchBendAndPressure)
{
	map[kMidiCtrlPitchBend].paramId = 100;
	map[kMidiCtrlAfterTouch].paramId = 101;
	EXPECT_EQ (send (0xE0, 0x00, 0x40).value, 0.5); // exactly the centre
	EXPECT_EQ (send (0xE3, 0x7F, 0x7F).value, 1.0);
	EXPECT_EQ (send (0xE0, 0x00, 0x00).value, 0.0);
	EXPECT_DOUBLE_EQ (send (0xE0, 0x01, 0x40).value, 8193.0 / 16383.0);
	const MidiDecodeResult p = send (0xD9, 127, 0);
	ASSERT_TRUE (p.hasParam);
	EXPECT_EQ (p.paramId, 101u);
	EXPECT_EQ (p.value, 1.0);
}

TEST_F (MidiControllerMapTest, UnmappedMessagesProduceNothing)
{
	EXPECT_FALSE (send (0xE0, 0, 0x40).hasParam);
	EXPECT_FALSE (send (0xD0, 64, 0).hasParam);
	EXPECT_FALSE (send (0xB0, 74, 64).hasParam);
	for (uint8_t status : {0xA0, 0xC0, 0xF8})
	{
		const MidiDecodeResult r = send (status, 60, 100);
		EXPECT_FALSE (r.hasParam);
		EXPECT_EQ (r.display, Display::None);
	}
}

TEST_F (MidiControllerMapTest, AllNotesOffReleasesKeysMappedOrNot)
{
	for (uint8_t cc : {120, 123})
	{
		MidiDecodeResult r = send (0xB4, cc, 0);
		EXPECT_EQ (r.display, Display::ReleaseAll);
		EXPECT_FALSE (r.hasParam);
	}
	map[123].paramId = 7;
	const MidiDecodeResult r = send (0xB0, 123, 0);
	EXPECT_EQ (r.display, Display::ReleaseAll);
	EXPECT_TRUE (r.hasParam);
	EXPECT_EQ (send (0xB0, 121, 0).display, Display::None);
}

TEST_F (MidiControllerMapTest, NotesShowOnTheDisplay)
{
	MidiDecodeResult r = send (0x91, 60, 100);
	EXPECT_EQ (r.display, Display::ShowNote);
	EXPECT_EQ (r.note, 60);
	EXPECT_TRUE (r.pressed);
	r = send (0x90, 61, 0); // velocity 0 is a release
	EXPECT_EQ (r.display, Display::ShowNote);
	EXPECT_FALSE (r.pressed);
	r = send (0x8F, 62, 64);
	EXPECT_EQ (r.display, Display::ShowNote);
	EXPECT_EQ (r.note, 62);
	EXPECT_FALSE (r.pressed);
	EXPECT_FALSE (r.hasParam);
	EXPECT_EQ (send (0x90, 200, 100).display, Display::None); // no such key
}

} // namespace
