#pragma once
// Failures a test asks the endpoint to inject at chosen calls. Platform-free.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace PomaroTestEndpoint {

// Every call of the endpoint's interfaces that a test can make fail; the first three
// are configured globally, the rest per endpoint.
// clang-format off
#define POMARO_ENDPOINT_CALLS(X) \
    X(EnumAudioEndpoints) X(GetDefaultAudioEndpoint) X(GetCount) \
    X(Item) X(GetDevice) X(GetId) X(OpenPropertyStore) X(GetValue) X(Activate) X(IsFormatSupported) \
    X(GetDevicePeriod) X(Initialize) X(GetBufferSize) X(SetEventHandle) X(GetService) X(Start) X(Stop) \
    X(GetBuffer) X(ReleaseBuffer)
// clang-format on

enum class Call : int
{
#define POMARO_CALL_ENUM(name) name,
    POMARO_ENDPOINT_CALLS(POMARO_CALL_ENUM)
#undef POMARO_CALL_ENUM
        Count
};

struct FailRule
{
    Call call = Call::Count;
    uint32_t nth = 0;                 // 0: every call; n: only the n-th call (1-based)
    int32_t hr = int32_t(0x80004005); // E_FAIL unless the test names another result
};

// Parses "Initialize#2:0x88890004, Start" into rules; false with a message on bad text.
bool parseFailRules(const std::string& text, bool enumeratorLevel, std::vector<FailRule>& rules,
                    std::string& error);

// Counts calls and answers the injected result. Safe to use from any thread.
class FaultPlan
{
public:
    FaultPlan() = default;
    explicit FaultPlan(std::vector<FailRule> rules) : rules_(std::move(rules)) {}
    FaultPlan(const FaultPlan& o) : rules_(o.rules_) {}
    FaultPlan& operator=(const FaultPlan& o)
    {
        rules_ = o.rules_;
        for (auto& c : counts_)
            c.store(0, std::memory_order_relaxed);
        return *this;
    }

    // Counts one call; returns the result to inject, or 0 to proceed normally.
    int32_t onCall(Call c);
    uint32_t calls(Call c) const { return counts_[int(c)].load(std::memory_order_relaxed); }
    bool empty() const { return rules_.empty(); }

private:
    std::vector<FailRule> rules_;
    std::atomic<uint32_t> counts_[int(Call::Count)] = {};
};

} // namespace PomaroTestEndpoint
