#pragma once
// One enumerator's view of the configured endpoints, shared by everything made from it.

#include "testdrivers/endpoint/EndpointConfig.h"
#include "testdrivers/endpoint/FaultPlan.h"

#include <memory>
#include <string>
#include <vector>

namespace PomaroTestEndpoint {

struct EndpointModel
{
    explicit EndpointModel(EndpointConfig c);

    EndpointConfig config;
    FaultPlan enumeratorFaults;
    std::vector<std::unique_ptr<FaultPlan>> faults; // per endpoint
    std::vector<std::wstring> ids;
    std::vector<std::wstring> names;
    std::wstring wavPath, statsPath;

    const EndpointSpec& spec(size_t i) const { return config.endpoints[i]; }
    size_t count() const { return config.endpoints.size(); }
};

std::wstring utf8ToWide(const std::string& s);

} // namespace PomaroTestEndpoint
