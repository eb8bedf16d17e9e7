// The per-block path allocates nothing once the host has prepared it.

#include "tests/rendercore/AllocationCounter.h"
#include "tests/rendercore/HotPathRig.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace RenderCoreTest {
namespace {

TEST(HotPathAllocation, TenThousandBlocksWithNotesAndParameterChangesAllocateNothing)
{
    startCountingAllocations();
    auto probe = std::make_unique<std::vector<int>>(100);
    const std::uint64_t seen = stopCountingAllocations();
    ASSERT_TRUE(seen >= 2u && probe->size() == 100u)
        << "the counter must see allocations, or its zero proves nothing";
    HotPathRig rig;
    std::uint64_t allocations = 0;
    int64_t events = 0, points = 0, reports = 0;
    for (int32_t block = 0; block < 10000; ++block) {
        rig.feed(block);
        startCountingAllocations();
        rig.renderLayout(block);
        allocations += stopCountingAllocations();
        events += rig.processor.lastEventCount;
        points += rig.processor.lastParamCount;
        reports += rig.fromProcessor.count();
        rig.drainReports();
    }
    EXPECT_EQ(allocations, 0u) << (countsMalloc() ? "operator new and malloc" : "operator new");
    // The work really flowed: every note, every parameter and every report.
    EXPECT_EQ(events, 16 * 10000);
    EXPECT_EQ(points, 16 * 10000);
    EXPECT_EQ(reports, 16 * 10000);
    EXPECT_EQ(rig.processor.calls, 10000);
}

} // namespace
} // namespace RenderCoreTest
