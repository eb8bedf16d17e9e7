#include "testdrivers/endpoint/EndpointModel.h"

#include <windows.h>

namespace PomaroTestEndpoint {

std::wstring utf8ToWide(const std::string& s)
{
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], n);
    return w;
}

EndpointModel::EndpointModel(EndpointConfig c) : config(std::move(c)), enumeratorFaults(config.failures)
{
    for (const EndpointSpec& e : config.endpoints) {
        faults.push_back(std::make_unique<FaultPlan>(e.failures));
        ids.push_back(utf8ToWide(e.id));
        names.push_back(utf8ToWide(e.name));
    }
    wavPath = utf8ToWide(config.wavPath);
    statsPath = utf8ToWide(config.statsPath);
}

} // namespace PomaroTestEndpoint
