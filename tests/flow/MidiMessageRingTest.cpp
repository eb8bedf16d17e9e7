#include "host/MidiMessageRing.h"

#include <gtest/gtest.h>

#include <vector>

using PomaroApp::MidiMessageRing;
using PomaroApp::initMidiRing;

namespace {

std::vector<uint32_t> drainAll (MidiMessageRing& ring)
{
	std::vector<uint32_t> out;
	ring.drain ([&] (uint32_t m) { out.push_back (m); });
	return out;
}

TEST (MidiMessageRing, WithoutEntriesNothingIsQueued)
{
	MidiMessageRing ring;
	EXPECT_FALSE (ring.push (0x403C90));
	uint32_t m = 0;
	EXPECT_FALSE (ring.pop (m));
	EXPECT_EQ (ring.count (), 0);
	EXPECT_EQ (ring.clearFromReader (), 0);
	EXPECT_TRUE (drainAll (ring).empty ());
}

TEST (MidiMessageRing, InitTwiceKeepsEntriesAndContents)
{
	MidiMessageRing ring;
	initMidiRing (ring);
	ASSERT_EQ (ring.capacity.load (), 1024);
	const uint32_t* first = ring.entries.get ();
	ASSERT_TRUE (ring.push (0x7F3C90));
	ASSERT_TRUE (ring.push (0x003C80));
	initMidiRing (ring);
	EXPECT_EQ (ring.entries.get (), first);
	EXPECT_EQ (drainAll (ring), (std::vector<uint32_t> {0x7F3C90, 0x003C80}));
}

TEST (MidiMessageRing, PacksStatusLowFourthByteIgnored)
{
	const uint8_t bytes[4] = {0x93, 0x3C, 0x65, 0xEE};
	EXPECT_EQ (PomaroApp::packMidiMessage (bytes), 0x653C93u);
}

TEST (MidiMessageRing, HoldsAtMost1023AndDropsTheNewest)
{
	MidiMessageRing ring;
	initMidiRing (ring);
	for (uint32_t i = 0; i < 1023; ++i)
		ASSERT_TRUE (ring.push (i)) << i;
	EXPECT_EQ (ring.count (), 1023);
	EXPECT_FALSE (ring.push (0xDEAD));
	EXPECT_EQ (ring.count (), 1023);

	// One taken frees exactly one place; the dropped message never appears.
	uint32_t m = 0;
	ASSERT_TRUE (ring.pop (m));
	EXPECT_EQ (m, 0u);
	EXPECT_TRUE (ring.push (5000));
	EXPECT_FALSE (ring.push (5001));

	const std::vector<uint32_t> rest = drainAll (ring);
	ASSERT_EQ (rest.size (), 1023u);
	for (uint32_t i = 0; i < 1022; ++i)
		ASSERT_EQ (rest[i], i + 1);
	EXPECT_EQ (rest.back (), 5000u);
}

TEST (MidiMessageRing, WrapsAroundInOrder)
{
	MidiMessageRing ring;
	initMidiRing (ring);
	uint32_t next = 0, expected = 0;
	// Uneven batches walk both indexes across the end of the array many times.
	for (int round = 0; round < 50; ++round)
	{
		for (int i = 0; i < 700; ++i)
			ASSERT_TRUE (ring.push (next++));
		for (uint32_t m : drainAll (ring))
			ASSERT_EQ (m, expected++);
	}
	EXPECT_EQ (expected, next);
}

TEST (MidiMessageRing, ClearFromReaderDiscardsWhatWaitsAndKeepsLaterMessages)
{
	MidiMessageRing ring;
	initMidiRing (ring);
	for (uint32_t i = 0; i < 1000; ++i)
		ring.push (i);
	uint32_t m = 0;
	ring.pop (m);
	EXPECT_EQ (ring.clearFromReader (), 999);
	EXPECT_EQ (ring.count (), 0);
	EXPECT_FALSE (ring.pop (m));
	// The indexes stay where they were, so writers carry on across the wrap.
	for (uint32_t i = 0; i < 1023; ++i)
		ASSERT_TRUE (ring.push (100000 + i));
	EXPECT_FALSE (ring.push (1));
	const std::vector<uint32_t> after = drainAll (ring);
	ASSERT_EQ (after.size (), 1023u);
	EXPECT_EQ (after.front (), 100000u);
	EXPECT_EQ (after.back (), 100000u + 1022);
}

TEST (MidiMessageRing, DrainStopsAtWhatWasWaitingWhenItBegan)
{
	MidiMessageRing ring;
	initMidiRing (ring);
	ring.push (1);
	ring.push (2);
	std::vector<uint32_t> seen;
	const int32_t n = ring.drain ([&] (uint32_t m) {
		seen.push_back (m);
		ring.push (m + 100); // arrives while the reader is busy
	});
	EXPECT_EQ (n, 2);
	EXPECT_EQ (seen, (std::vector<uint32_t> {1, 2}));
	EXPECT_EQ (drainAll (ring), (std::vector<uint32_t> {101, 102}));
}

TEST (MidiMessageRing, ReleaseEmptiesAndStopsQueueing)
{
	MidiMessageRing ring;
	initMidiRing (ring);
	ring.push (7);
	ring.release ();
	EXPECT_EQ (ring.capacity.load (), 0);
	EXPECT_EQ (ring.entries, nullptr);
	EXPECT_EQ (ring.readIndex.load (), 0);
	EXPECT_EQ (ring.writeIndex.load (), 0);
	EXPECT_FALSE (ring.push (8));
	initMidiRing (ring);
	EXPECT_TRUE (drainAll (ring).empty ());
	EXPECT_TRUE (ring.push (9));
}

} // namespace
