#include "testdrivers/endpoint/FaultPlan.h"

#include "testdrivers/common/TextParse.h"

namespace PomaroTestEndpoint {

using namespace PomaroTestDrivers;

namespace {

const char* const kNames[int(Call::Count)] = {
#define POMARO_CALL_NAME(name) #name,
    POMARO_ENDPOINT_CALLS(POMARO_CALL_NAME)
#undef POMARO_CALL_NAME
};

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

} // namespace

bool parseFailRules(const std::string& text, bool enumeratorLevel, std::vector<FailRule>& rules,
                    std::string& error)
{
    std::vector<CallRule> named;
    if (!parseCallRules(text, named, error))
        return false;
    for (const CallRule& n : named) {
        FailRule r;
        if (!callFromName(n.name, r.call)) {
            error = "unknown call '" + n.name + "'";
            return false;
        }
        if ((r.call <= Call::GetCount) != enumeratorLevel) {
            error = std::string("'") + n.name +
                    (enumeratorLevel ? "' belongs in an [endpoint] section"
                                     : "' belongs before the first [endpoint]");
            return false;
        }
        r.nth = n.nth;
        uint64_t v = 0;
        if (!n.code.empty()) {
            // Only failures make sense here: a success code would silently do nothing.
            if (!parseUnsigned(n.code, v) || v > 0xFFFFFFFFu || (v & 0x80000000u) == 0) {
                error = "bad failure result '" + n.code + "'";
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
