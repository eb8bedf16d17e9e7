// Reference counting shared by the recorder's objects. The destructor of each object
// records its destruction, so a test sees that the host released what it took.
#pragma once

#include "pluginterfaces/base/funknown.h"

#include <atomic>

namespace Recorder {

class RefCount
{
public:
    Steinberg::uint32 add() { return refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    // acq_rel: the thread that drops the last reference sees every write of the others.
    Steinberg::uint32 drop() { return refs.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
    std::atomic<Steinberg::uint32> refs{1};
};

// Gives back a reference the object holds, once.
template <typename T> void releaseHeld(T*& held)
{
    if (held) {
        held->release();
        held = nullptr;
    }
}

// Writes "<object>.queryInterface iid=<name> -> <result>" and returns the result.
Steinberg::tresult logQuery(const char* object, const Steinberg::TUID iid, Steinberg::tresult result);

} // namespace Recorder
