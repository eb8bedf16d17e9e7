#include "host/ParameterChangeTransfer2.h"

#include "FlowFakes.h"

#include "public.sdk/source/vst/hosting/parameterchanges.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using PomaroApp::ParameterChangeTransfer2;
using namespace FlowTest;

namespace {

using Change = std::tuple<ParamID, ParamValue, int32>;

std::vector<Change> takeAll (ParameterChangeTransfer2& t)
{
	std::vector<Change> out;
	ParamID id;
	ParamValue v;
	int32 offset;
	while (t.getNextChange (id, v, offset))
		out.emplace_back (id, v, offset);
	return out;
}

TEST (ParameterChangeTransfer2, Holds4095ChangesAndLosesTheNext)
{
	ParameterChangeTransfer2 t;
	ASSERT_EQ (t.capacity (), 4096);
	for (int32 i = 0; i < 4095; ++i)
		ASSERT_TRUE (t.addChange (ParamID (i), i / 4096.0, 0)) << i;
	EXPECT_EQ (t.count (), 4095);
	EXPECT_FALSE (t.addChange (99999, 0.25, 0));

	ParamID id;
	ParamValue v;
	int32 offset;
	ASSERT_TRUE (t.getNextChange (id, v, offset));
	EXPECT_EQ (id, 0u);
	EXPECT_TRUE (t.addChange (77777, 0.75, 3));
	EXPECT_FALSE (t.addChange (88888, 0.5, 0));

	const auto rest = takeAll (t);
	ASSERT_EQ (rest.size (), 4095u);
	EXPECT_EQ (std::get<0> (rest.front ()), 1u);
	EXPECT_EQ (rest.back (), Change (77777, 0.75, 3));
	for (const auto& c : rest)
		ASSERT_NE (std::get<0> (c), 99999u);
}

TEST (ParameterChangeTransfer2, ClearFromReaderDropsWaitingChangesOnly)
{
	ParameterChangeTransfer2 t;
	for (int32 i = 0; i < 4000; ++i)
		t.addChange (1, 0.5, 0);
	takeAll (t); // indexes near the end of the array
	t.addChange (2, 0.1, 0);
	t.addChange (3, 0.2, 0);
	EXPECT_EQ (t.clearFromReader (), 2);
	EXPECT_TRUE (takeAll (t).empty ());
	for (int32 i = 0; i < 200; ++i) // across the wrap
		ASSERT_TRUE (t.addChange (ParamID (i), 0.0, 0));
	const auto after = takeAll (t);
	ASSERT_EQ (after.size (), 200u);
	EXPECT_EQ (std::get<0> (after[199]), 199u);
}

TEST (ParameterChangeTransfer2, TransferToGivesOnePointPerParameterWithTheLastValue)
{
	ParameterChangeTransfer2 t;
	t.addChange (10, 0.1, 0);
	t.addChange (20, 0.2, 0);
	t.addChange (10, 0.3, 0);
	ParameterChanges dest (8);
	t.transferChangesTo (&dest);
	EXPECT_EQ (t.count (), 0);

	ASSERT_EQ (dest.getParameterCount (), 2);
	IParamValueQueue* q10 = dest.getParameterData (0);
	IParamValueQueue* q20 = dest.getParameterData (1);
	ASSERT_EQ (q10->getParameterId (), 10u);
	ASSERT_EQ (q20->getParameterId (), 20u);
	ASSERT_EQ (q10->getPointCount (), 1);
	int32 offset = -1;
	ParamValue v = -1;
	ASSERT_EQ (q10->getPoint (0, offset, v), kResultTrue);
	EXPECT_EQ (offset, 0);
	EXPECT_EQ (v, 0.3);
	ASSERT_EQ (q20->getPoint (0, offset, v), kResultTrue);
	EXPECT_EQ (v, 0.2);
}

TEST (ParameterChangeTransfer2, TransferToNullOrRefusingDestination)
{
	ParameterChangeTransfer2 t;
	t.addChange (1, 0.5, 0);
	t.transferChangesTo (nullptr); // nothing taken
	EXPECT_EQ (t.count (), 1);

	FakeChanges refusing;
	refusing.refuse = true;
	t.addChange (2, 0.6, 0);
	t.transferChangesTo (&refusing); // taken, and dropped
	EXPECT_EQ (refusing.requested, (std::vector<ParamID> {1, 2}));
	EXPECT_EQ (t.count (), 0);
}

TEST (ParameterChangeTransfer2, TransferFromQueuesEveryReadablePointInOrder)
{
	FakeQueue a (5), b (9);
	a.points = {{0, 0.1}, {32, 0.2}, {64, 0.3}};
	a.failingPoint = 1;
	b.points = {{16, 0.9}};
	FakeChanges source;
	source.queues = {&a, nullptr, &b};

	ParameterChangeTransfer2 t;
	t.transferChangesFrom (&source);
	t.transferChangesFrom (nullptr);
	EXPECT_EQ (takeAll (t), (std::vector<Change> {{5, 0.1, 0}, {5, 0.3, 64}, {9, 0.9, 16}}));
}

TEST (ParameterChangeTransfer2, RoundTripThroughTheSdkLists)
{
	// Processor side: what a plug-in writes into its output changes ...
	ParameterChanges out (4);
	int32 index = 0;
	out.addParameterData (3, index)->addPoint (8, 0.25, index);
	out.addParameterData (4, index)->addPoint (0, 1.0, index);

	ParameterChangeTransfer2 fromProcessor;
	fromProcessor.transferChangesFrom (&out);
	EXPECT_EQ (takeAll (fromProcessor), (std::vector<Change> {{3, 0.25, 8}, {4, 1.0, 0}}));
}

TEST (ParameterChangeTransfer2, StopsAtTheFullQueueDuringTransferFrom)
{
	FakeQueue q (1);
	for (int32 i = 0; i < 5000; ++i)
		q.points.emplace_back (i, i / 5000.0);
	FakeChanges source;
	source.queues = {&q};
	ParameterChangeTransfer2 t;
	t.transferChangesFrom (&source);
	const auto got = takeAll (t);
	ASSERT_EQ (got.size (), 4095u); // the oldest kept, the rest lost
	EXPECT_EQ (std::get<2> (got.back ()), 4094);
}

} // namespace
