#include "host/ParameterFlow.h"

#include "FlowFakes.h"

#include "public.sdk/source/vst/hosting/parameterchanges.h"

#include <gtest/gtest.h>

using namespace PomaroApp;
using namespace FlowTest;
using Display = MidiDecodeResult::Display;

namespace {

using Calls = std::vector<std::pair<ParamID, ParamValue>>;

struct ParameterFlowTest : ::testing::Test
{
	MidiMessageRing midiRing;
	ParameterChangeTransfer2 toProcessor, fromProcessor;
	ParamValueCache cache;
	MidiCtrlMap map;
	ParameterFlow flow {midiRing, toProcessor, fromProcessor, cache, map};
	FakeController controller;

	void SetUp () override
	{
		initMidiRing (midiRing);
		initMidiCtrlMap (map);
	}

	MidiDecodeResult send (uint8_t status, uint8_t d1, uint8_t d2)
	{
		const uint8_t message[4] = {status, d1, d2, 0};
		return flow.onMidiData (message);
	}

	std::vector<std::pair<ParamID, ParamValue>> processorGets ()
	{
		std::vector<std::pair<ParamID, ParamValue>> out;
		ParamID id;
		ParamValue v;
		int32 offset;
		while (toProcessor.getNextChange (id, v, offset))
		{
			EXPECT_EQ (offset, 0);
			out.emplace_back (id, v);
		}
		return out;
	}

	// What the processor reports within one block.
	void processorReports (const Calls& reports)
	{
		ParameterChanges out (8);
		for (const auto& [id, value] : reports)
		{
			int32 index = 0;
			IParamValueQueue* q = out.addParameterData (id, index);
			q->addPoint (q->getPointCount (), value, index);
		}
		fromProcessor.transferChangesFrom (&out);
	}
};

TEST_F (ParameterFlowTest, EditReachesProcessorAndIsNotEchoed)
{
	flow.performEdit (3, 0.7);
	EXPECT_EQ (processorGets (), (Calls {{3, 0.7}}));
	flow.onTimer (&controller);
	EXPECT_TRUE (controller.calls.empty ());

	// ... unless something newer for that parameter comes after it.
	map[1].paramId = 3;
	send (0xB0, 1, 127);
	flow.onTimer (&controller);
	EXPECT_EQ (controller.calls, (Calls {{3, 1.0}}));
}

TEST_F (ParameterFlowTest, ProcessorReportsReachControllerOnceWithLastValue)
{
	processorReports ({{8, 0.1}, {9, 0.5}});
	processorReports ({{8, 0.2}});
	processorReports ({{8, 0.3}});
	flow.onTimer (&controller);
	EXPECT_EQ (controller.calls, (Calls {{8, 0.3}, {9, 0.5}}));
	flow.onTimer (&controller);
	EXPECT_EQ (controller.calls.size (), 2u);
}

TEST_F (ParameterFlowTest, TimerWithoutControllerCollectsForLater)
{
	processorReports ({{4, 0.25}});
	flow.onTimer (nullptr);
	EXPECT_EQ (fromProcessor.count (), 0);
	flow.onTimer (&controller);
	EXPECT_EQ (controller.calls, (Calls {{4, 0.25}}));
}

TEST_F (ParameterFlowTest, MappedControllerGoesToProcessorRingAndController)
{
	map[kMidiCtrlPitchBend].paramId = 50;
	const MidiDecodeResult r = send (0xE2, 0x00, 0x40);
	EXPECT_EQ (r.display, Display::None);
	EXPECT_EQ (processorGets (), (Calls {{50, 0.5}}));
	uint32_t raw = 0;
	ASSERT_TRUE (midiRing.pop (raw)); // every message is queued, whatever it is
	EXPECT_EQ (raw, 0x4000E2u);
	flow.onTimer (&controller);
	EXPECT_EQ (controller.calls, (Calls {{50, 0.5}}));
}

TEST_F (ParameterFlowTest, FullRingStillUpdatesDisplayAndParameters)
{
	for (int i = 0; i < 1023; ++i)
		send (0x90, 60, 100);
	map[kMidiCtrlAfterTouch].paramId = 6;

	MidiDecodeResult r = send (0x90, 64, 90);
	EXPECT_EQ (r.display, Display::ShowNote);
	EXPECT_EQ (r.note, 64);
	EXPECT_TRUE (r.pressed);
	r = send (0xD0, 127, 0);
	EXPECT_TRUE (r.hasParam);
	EXPECT_EQ (processorGets (), (Calls {{6, 1.0}}));

	int32_t notes = midiRing.drain ([] (uint32_t m) { EXPECT_EQ (m, 0x643C90u); });
	EXPECT_EQ (notes, 1023);
}

} // namespace
