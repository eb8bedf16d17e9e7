#include "host/ParamValueCache.h"

#include "FlowFakes.h"

#include <gtest/gtest.h>

using PomaroApp::ParamValueCache;
using namespace FlowTest;

namespace {

using Calls = std::vector<std::pair<ParamID, ParamValue>>;

TEST (ParamValueCache, FlushSendsChangedValuesInIdOrderOnce)
{
	ParamValueCache cache;
	cache.set (30, 0.3, true);
	cache.set (10, 0.1, true);
	cache.set (20, 0.2, false); // the controller already has it
	cache.set (10, 0.15, true); // newest value wins

	FakeController controller;
	cache.flushTo (&controller);
	EXPECT_EQ (controller.calls, (Calls {{10, 0.15}, {30, 0.3}}));
	cache.flushTo (&controller);
	EXPECT_EQ (controller.calls.size (), 2u);
	EXPECT_EQ (cache.size (), 3u); // entries stay
}

TEST (ParamValueCache, LaterCallDecidesTheFlag)
{
	ParamValueCache cache;
	FakeController controller;
	cache.set (1, 0.4, true);
	cache.set (1, 0.5, false); // an edit after a MIDI change
	cache.flushTo (&controller);
	EXPECT_TRUE (controller.calls.empty ());
	cache.set (1, 0.6, true);
	cache.flushTo (&controller);
	EXPECT_EQ (controller.calls, (Calls {{1, 0.6}}));
	ParamValueCache::Entry e;
	ASSERT_TRUE (cache.lookup (1, e));
	EXPECT_FALSE (e.changed);
	EXPECT_EQ (e.value, 0.6);
}

TEST (ParamValueCache, NullControllerKeepsFlags)
{
	ParamValueCache cache;
	cache.set (2, 0.2, true);
	cache.flushTo (nullptr);
	FakeController controller;
	cache.flushTo (&controller);
	EXPECT_EQ (controller.calls, (Calls {{2, 0.2}}));
}

TEST (ParamValueCache, ControllerMayEditFromInsideTheFlush)
{
	// A controller that reacts to a value by editing a linked parameter
	// reaches set() on the same thread while the flush is running.
	ParamValueCache cache;
	FakeController controller;
	controller.onSet = [&] (ParamID id, ParamValue v) {
		if (id == 1)
		{
			cache.set (2, v / 2, true); // new id: inserted during the flush
			cache.set (1, v, false);
		}
	};
	cache.set (1, 0.8, true);
	cache.flushTo (&controller);
	EXPECT_EQ (controller.calls, (Calls {{1, 0.8}}));
	cache.flushTo (&controller);
	EXPECT_EQ (controller.calls, (Calls {{1, 0.8}, {2, 0.4}}));
}

} // namespace
