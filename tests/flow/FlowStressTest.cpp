// Two producers and one consumer on each queue, with the consumer discarding
// everything waiting now and then, as the start of processing does. Meant for
// ThreadSanitizer; the counts below catch lost, duplicated, reordered or torn
// messages on any build.

#include "host/MidiMessageRing.h"
#include "host/ParameterChangeTransfer2.h"

#include "FlowFakes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

using namespace PomaroApp;
using namespace FlowTest;

namespace {

constexpr uint32_t kPerProducer = 500000; // a million messages per queue

// Tallies kept by the consumer and checked once every thread has ended.
struct Tally
{
	uint64_t consumed = 0;
	uint64_t cleared = 0;
	uint64_t clearCalls = 0;
	uint64_t faults = 0; // out of order, duplicated, torn or foreign
	int64_t last[2] = {-1, -1};

	void take (uint32_t producer, uint32_t seq)
	{
		if (producer > 1 || seq >= kPerProducer || int64_t (seq) <= last[producer])
			++faults;
		else
			last[producer] = seq;
		++consumed;
	}
};

// A producer that finds the queue full gives one message in 16 up (a drop)
// and waits for room for the others, so most of the traffic goes through.
bool giveUp (uint32_t seq, uint64_t& lost)
{
	if (seq % 16 == 0)
	{
		++lost;
		return true;
	}
	std::this_thread::yield ();
	return false;
}

// The consumer pauses now and then so that producers run into a full queue.
bool pauseNow (uint64_t round)
{
	if (round % 64 == 63)
	{
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
		return true;
	}
	return false;
}

TEST (FlowStress, MidiRingTwoProducersOneConsumer)
{
	MidiMessageRing ring;
	initMidiRing (ring);
	std::atomic<uint64_t> dropped {0};
	std::atomic<int> running {2};

	auto produce = [&] (uint32_t producer) {
		uint64_t lost = 0;
		for (uint32_t seq = 0; seq < kPerProducer; ++seq)
			while (!ring.push (producer << 31 | seq))
				if (giveUp (seq, lost))
					break;
		dropped.fetch_add (lost, std::memory_order_relaxed);
		running.fetch_sub (1, std::memory_order_release);
	};

	Tally tally;
	std::thread p0 (produce, 0u), p1 (produce, 1u);
	for (uint64_t round = 0;; ++round)
	{
		const bool finished = running.load (std::memory_order_acquire) == 0;
		if (round % 257 == 256)
		{
			tally.cleared += uint64_t (ring.clearFromReader ());
			++tally.clearCalls;
		}
		ring.drain ([&] (uint32_t m) { tally.take (m >> 31, m & 0x7FFFFFFF); });
		if (round % 3 == 0) // the other way of reading, one at a time
		{
			uint32_t m;
			for (int i = 0; i < 16 && ring.pop (m); ++i)
				tally.take (m >> 31, m & 0x7FFFFFFF);
		}
		if (finished && ring.count () == 0)
			break;
		pauseNow (round);
	}
	p0.join ();
	p1.join ();

	std::printf ("consumed %llu cleared %llu dropped %llu clears %llu\n", (unsigned long long) tally.consumed, (unsigned long long) tally.cleared, (unsigned long long) dropped.load (), (unsigned long long) tally.clearCalls);
	EXPECT_EQ (tally.faults, 0u);
	EXPECT_EQ (tally.consumed + tally.cleared + dropped.load (), 2ull * kPerProducer);
	EXPECT_GT (tally.consumed, 0u);
	EXPECT_GT (tally.clearCalls, 0u);
	EXPECT_GT (dropped.load (), 0u) << "the consumer's pauses should have filled the ring";
}

TEST (FlowStress, ParameterTransferTwoProducersOneConsumer)
{
	ParameterChangeTransfer2 transfer;
	std::atomic<uint64_t> dropped {0};
	std::atomic<int> running {2};

	// id = producer, value = sequence number, sampleOffset a function of both:
	// a torn entry does not match.
	auto offsetOf = [] (uint32_t producer, uint32_t seq) { return int32 ((seq * 7u) ^ producer); };
	auto produce = [&] (uint32_t producer) {
		uint64_t lost = 0;
		for (uint32_t seq = 0; seq < kPerProducer; ++seq)
			while (!transfer.addChange (producer, double (seq), offsetOf (producer, seq)))
				if (giveUp (seq, lost))
					break;
		dropped.fetch_add (lost, std::memory_order_relaxed);
		running.fetch_sub (1, std::memory_order_release);
	};

	Tally tally;
	auto check = [&] (ParamID id, ParamValue value, int32 offset) {
		const uint32_t seq = uint32_t (value);
		if (id > 1 || double (seq) != value || offset != offsetOf (id, seq))
			++tally.faults;
		tally.take (id, seq);
	};

	// transferChangesTo's destination: keeps every point, as a block would.
	FakeQueue q0 (0), q1 (1);
	q0.points.reserve (8192);
	q1.points.reserve (8192);
	FakeChanges block;
	block.queues = {&q0, &q1};

	std::thread p0 (produce, 0u), p1 (produce, 1u);
	for (uint64_t round = 0;; ++round)
	{
		const bool finished = running.load (std::memory_order_acquire) == 0;
		if (round % 257 == 256)
		{
			tally.cleared += uint64_t (transfer.clearFromReader ());
			++tally.clearCalls;
		}
		if (round % 2 == 0)
		{
			// Points of the two parameters interleave in the ring, but each
			// parameter's own points stay in producer order.
			q0.points.clear ();
			q1.points.clear ();
			block.requested.clear ();
			transfer.transferChangesTo (&block);
			for (FakeQueue* q : {&q0, &q1})
				for (const auto& [offset, value] : q->points)
					check (q->id, value, offset);
			if (block.requested.size () != q0.points.size () + q1.points.size ())
				++tally.faults;
		}
		else
		{
			ParamID id;
			ParamValue value;
			int32 offset;
			while (transfer.getNextChange (id, value, offset))
				check (id, value, offset);
		}
		if (finished && transfer.count () == 0)
			break;
		pauseNow (round);
	}
	p0.join ();
	p1.join ();

	std::printf ("consumed %llu cleared %llu dropped %llu clears %llu\n", (unsigned long long) tally.consumed, (unsigned long long) tally.cleared, (unsigned long long) dropped.load (), (unsigned long long) tally.clearCalls);
	EXPECT_EQ (tally.faults, 0u);
	EXPECT_EQ (tally.consumed + tally.cleared + dropped.load (), 2ull * kPerProducer);
	EXPECT_GT (tally.consumed, 0u);
	EXPECT_GT (tally.clearCalls, 0u);
	EXPECT_GT (dropped.load (), 0u) << "the consumer's pauses should have filled the queue";
}

TEST (FlowStress, AudioWriterNeverWaitsForTheOtherWriter)
{
	// The processor's reports (transferChangesFrom, the audio thread) and a
	// user-interface writer on one queue: the audio side gives a change up
	// rather than wait, and nothing that does get through is torn or reordered.
	ParameterChangeTransfer2 transfer;
	constexpr uint32_t kBlocks = 4000, kPointsPerBlock = 32;
	std::atomic<int> running {2};

	std::thread ui ([&] {
		for (uint32_t seq = 0; seq < kBlocks * kPointsPerBlock; ++seq)
			while (!transfer.addChange (0, double (seq), int32 (seq)))
				std::this_thread::yield ();
		running.fetch_sub (1, std::memory_order_release);
	});
	// The audio side keeps delivering blocks, one per pass, until the other
	// writer is done and the reader has seen at least one of its changes.
	std::atomic<bool> audioSeen {false};
	std::thread audio ([&] {
		FakeQueue reports (1);
		FakeChanges block;
		block.queues = {&reports};
		uint32_t seq = 0;
		while ((running.load (std::memory_order_acquire) == 2 || !audioSeen.load (std::memory_order_acquire)) &&
		       seq + kPointsPerBlock < kPerProducer)
		{
			reports.points.clear ();
			for (uint32_t i = 0; i < kPointsPerBlock; ++i, ++seq)
				reports.points.emplace_back (int32 (seq), double (seq));
			transfer.transferChangesFrom (&block);
			std::this_thread::yield ();
		}
		running.fetch_sub (1, std::memory_order_release);
	});

	Tally tally;
	uint64_t fromAudio = 0;
	for (;;)
	{
		const bool finished = running.load (std::memory_order_acquire) == 0;
		ParamID id;
		ParamValue value;
		int32 offset;
		while (transfer.getNextChange (id, value, offset))
		{
			if (double (offset) != value)
				++tally.faults;
			if (id == 1)
			{
				++fromAudio;
				audioSeen.store (true, std::memory_order_release);
			}
			tally.take (id, uint32_t (offset));
		}
		if (finished && transfer.count () == 0)
			break;
		std::this_thread::yield ();
	}
	ui.join ();
	audio.join ();

	EXPECT_EQ (tally.faults, 0u);
	EXPECT_EQ (tally.consumed - fromAudio, uint64_t (kBlocks * kPointsPerBlock)); // the waiting writer lost nothing
	EXPECT_GT (fromAudio, 0u);
}

} // namespace
