#pragma once
// Recording fakes of the plug-in interfaces the queues talk to; they live on the test's
// stack, so reference counting is not exercised.

#include "public.sdk/source/vst/vsteditcontroller.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <functional>
#include <tuple>
#include <utility>
#include <vector>

namespace FlowTest {

using namespace Steinberg;
using namespace Steinberg::Vst;

#define FLOW_FAKE_UNKNOWN                                                                                    \
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override                                       \
    {                                                                                                        \
        return *obj = nullptr, kNoInterface;                                                                 \
    }                                                                                                        \
    uint32 PLUGIN_API addRef() override { return 1; }                                                        \
    uint32 PLUGIN_API release() override { return 1; }

// Records setParamNormalized; onSet lets a test act from inside the call.
struct FakeController : EditController
{
    std::vector<std::pair<ParamID, ParamValue>> calls;
    std::function<void(ParamID, ParamValue)> onSet = [](ParamID, ParamValue) {};

    tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue value) override
    {
        calls.emplace_back(id, value);
        return onSet(id, value), kResultOk;
    }
};

// One parameter's points in the order they were added (the SDK's queue sorts them);
// getPoint can be made to fail.
struct FakeQueue : IParamValueQueue
{
    FLOW_FAKE_UNKNOWN
    explicit FakeQueue(ParamID id, std::vector<std::pair<int32, ParamValue>> points = {})
        : id(id), points(std::move(points))
    {}
    ParamID id;
    std::vector<std::pair<int32, ParamValue>> points; // sampleOffset, value
    int32 failingPoint = -1;

    ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return int32(points.size()); }
    tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override
    {
        if (index == failingPoint || index < 0 || index >= int32(points.size()))
            return kResultFalse;
        std::tie(offset, value) = points[size_t(index)];
        return kResultTrue;
    }
    tresult PLUGIN_API addPoint(int32 offset, ParamValue value, int32& index) override
    {
        index = int32(points.size());
        points.emplace_back(offset, value);
        return kResultTrue;
    }
};

// A list of queues; a null entry stands for a queue the list cannot give, and
// addParameterData can refuse (null queue).
struct FakeChanges : IParameterChanges
{
    FLOW_FAKE_UNKNOWN
    std::vector<FakeQueue*> queues;
    bool refuse = false;

    int32 PLUGIN_API getParameterCount() override { return int32(queues.size()); }
    IParamValueQueue* PLUGIN_API getParameterData(int32 index) override { return queues[size_t(index)]; }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override
    {
        for (size_t i = 0; i < queues.size() && !refuse; ++i)
            if (queues[i] && queues[i]->id == id)
                return index = int32(i), queues[i];
        return nullptr;
    }
};

#undef FLOW_FAKE_UNKNOWN

} // namespace FlowTest
