#pragma once
// Counts one call for as long as it lasts. The count goes up (sequentially consistent)
// before the call reads the state the count guards, so a thread that changes that state
// and then finds the count at zero knows that no call still works on the old state.

#include <atomic>
#include <cstdint>

namespace Kelvane {

class CallInside
{
public:
    explicit CallInside(std::atomic<int32_t>& count) : calls(count)
    {
        calls.fetch_add(1, std::memory_order_seq_cst);
    }
    ~CallInside() { calls.fetch_sub(1, std::memory_order_release); }
    CallInside(const CallInside&) = delete;
    CallInside& operator=(const CallInside&) = delete;

private:
    std::atomic<int32_t>& calls;
};

} // namespace Kelvane
