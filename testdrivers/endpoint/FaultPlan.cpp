#include "testdrivers/endpoint/FaultPlan.h"

#include "testdrivers/endpoint/TextParse.h"

#include <cstdlib>

namespace PomaroTestEndpoint {

namespace {
const char* const kNames[int(Call::Count)] = {
    "EnumAudioEndpoints", "GetDefaultAudioEndpoint", "GetCount",
    "Item", "GetDevice", "GetId", "OpenPropertyStore", "GetValue", "Activate",
    "IsFormatSupported", "GetDevicePeriod", "Initialize", "GetBufferSize", "SetEventHandle",
    "GetService", "Start", "Stop", "Reset", "GetMixFormat", "GetStreamLatency", "GetCurrentPadding",
    "GetBuffer", "ReleaseBuffer",
};
} // namespace

const char* callName(Call c)
{
    int i = int(c);
    return i >= 0 && i < int(Call::Count) ? kNames[i] : "?";
}

bool callFromName(const std::string& name, Call& out)
{
    for (int i = 0; i < int(Call::Count); ++i) {
        if (name == kNames[i]) {
            out = Call(i);
            return true;
        }
    }
    return false;
}

bool isEnumeratorCall(Call c)
{
    return c == Call::EnumAudioEndpoints || c == Call::GetDefaultAudioEndpoint || c == Call::GetCount;
}

bool parseFailRules(const std::string& text, bool enumeratorLevel, std::vector<FailRule>& rules,
                    std::string& error)
{
    for (const std::string& item : splitList(text)) {
        FailRule r;
        std::string name = item;
        std::string hr;
        size_t colon = name.find(':');
        if (colon != std::string::npos) {
            hr = trim(name.substr(colon + 1));
            name = trim(name.substr(0, colon));
        }
        std::string nth;
        size_t hash = name.find('#');
        if (hash != std::string::npos) {
            nth = trim(name.substr(hash + 1));
            name = trim(name.substr(0, hash));
        }
        if (!callFromName(name, r.call)) {
            error = "unknown call '" + name + "'";
            return false;
        }
        if (isEnumeratorCall(r.call) != enumeratorLevel) {
            error = std::string("'") + name + (enumeratorLevel ? "' belongs in an [endpoint] section"
                                                               : "' belongs before the first [endpoint]");
            return false;
        }
        uint64_t v = 0;
        if (!nth.empty()) {
            if (!parseUnsigned(nth, v) || v == 0 || v > 0xFFFFFFFFu) {
                error = "bad call number '" + nth + "'";
                return false;
            }
            r.nth = uint32_t(v);
        }
        if (!hr.empty()) {
            // Only failures make sense here: a success code would silently do nothing.
            if (!parseUnsigned(hr, v) || v > 0xFFFFFFFFu || (v & 0x80000000u) == 0) {
                error = "bad failure result '" + hr + "'";
                return false;
            }
            r.hr = int32_t(uint32_t(v));
        }
        rules.push_back(r);
    }
    return true;
}

int32_t FaultPlan::onCall(Call c)
{
    uint32_t n = counts_[int(c)].fetch_add(1, std::memory_order_relaxed) + 1;
    for (const FailRule& r : rules_) {
        if (r.call == c && (r.nth == 0 || r.nth == n))
            return r.hr;
    }
    return 0;
}

} // namespace PomaroTestEndpoint
