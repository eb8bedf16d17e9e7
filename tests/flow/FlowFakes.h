#pragma once
// Recording fakes of the plug-in interfaces the queues talk to.

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <functional>
#include <utility>
#include <vector>

namespace FlowTest {

using namespace Steinberg;
using namespace Steinberg::Vst;

// Interfaces living on the test's stack: reference counting is not exercised.
#define FLOW_FAKE_UNKNOWN                                                                                    \
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override                                       \
    {                                                                                                        \
        return *obj = nullptr, kNoInterface;                                                                 \
    }                                                                                                        \
    uint32 PLUGIN_API addRef() override { return 1; }                                                        \
    uint32 PLUGIN_API release() override { return 1; }

// Records setParamNormalized; onSet lets a test act from inside the call.
class FakeController : public IEditController
{
public:
    FLOW_FAKE_UNKNOWN
    std::vector<std::pair<ParamID, ParamValue>> calls;
    std::function<void(ParamID, ParamValue)> onSet;

    tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue value) override
    {
        calls.emplace_back(id, value);
        if (onSet)
            onSet(id, value);
        return kResultOk;
    }
    tresult PLUGIN_API initialize(FUnknown*) override { return kNotImplemented; }
    tresult PLUGIN_API terminate() override { return kNotImplemented; }
    tresult PLUGIN_API setComponentState(IBStream*) override { return kNotImplemented; }
    tresult PLUGIN_API setState(IBStream*) override { return kNotImplemented; }
    tresult PLUGIN_API getState(IBStream*) override { return kNotImplemented; }
    int32 PLUGIN_API getParameterCount() override { return 0; }
    tresult PLUGIN_API getParameterInfo(int32, ParameterInfo&) override { return kNotImplemented; }
    tresult PLUGIN_API getParamStringByValue(ParamID, ParamValue, String128) override
    {
        return kNotImplemented;
    }
    tresult PLUGIN_API getParamValueByString(ParamID, TChar*, ParamValue&) override
    {
        return kNotImplemented;
    }
    ParamValue PLUGIN_API normalizedParamToPlain(ParamID, ParamValue v) override { return v; }
    ParamValue PLUGIN_API plainParamToNormalized(ParamID, ParamValue v) override { return v; }
    ParamValue PLUGIN_API getParamNormalized(ParamID) override { return 0.0; }
    tresult PLUGIN_API setComponentHandler(IComponentHandler*) override { return kNotImplemented; }
    IPlugView* PLUGIN_API createView(FIDString) override { return nullptr; }
};

// One parameter's points as a plug-in reports them; getPoint can be made to fail.
class FakeQueue : public IParamValueQueue
{
public:
    FLOW_FAKE_UNKNOWN
    explicit FakeQueue(ParamID id) : id(id) {}
    ParamID id;
    std::vector<std::pair<int32, ParamValue>> points; // sampleOffset, value
    int32 failingPoint = -1;

    ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return int32(points.size()); }
    tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override
    {
        if (index == failingPoint || index < 0 || index >= int32(points.size()))
            return kResultFalse;
        offset = points[size_t(index)].first;
        value = points[size_t(index)].second;
        return kResultTrue;
    }
    tresult PLUGIN_API addPoint(int32 offset, ParamValue value, int32& index) override
    {
        index = int32(points.size());
        points.emplace_back(offset, value);
        return kResultTrue;
    }
};

// A list of queues; a null entry stands for a queue the list cannot give.
// addParameterData records every request and can refuse (null queue).
class FakeChanges : public IParameterChanges
{
public:
    FLOW_FAKE_UNKNOWN
    std::vector<FakeQueue*> queues;
    std::vector<ParamID> requested;
    bool refuse = false;

    int32 PLUGIN_API getParameterCount() override { return int32(queues.size()); }
    IParamValueQueue* PLUGIN_API getParameterData(int32 index) override { return queues[size_t(index)]; }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override
    {
        requested.push_back(id);
        for (size_t i = 0; i < queues.size() && !refuse; ++i)
            if (queues[i] && queues[i]->id == id)
                return index = int32(i), queues[i];
        return nullptr;
    }
};

#undef FLOW_FAKE_UNKNOWN

} // namespace FlowTest
