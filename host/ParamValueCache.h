#pragma once
// Parameter values waiting for the edit controller. Written by the
// user-interface and MIDI threads, delivered by the user-interface thread's
// timer; the audio thread never touches it. Entries are only ever added.

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <cstddef>
#include <map>
#include <mutex>

namespace PomaroApp {

class ParamValueCache
{
public:
    using ParamID = Steinberg::Vst::ParamID;
    using ParamValue = Steinberg::Vst::ParamValue;

    struct Entry
    {
        bool changed = false; // the controller has not been told this value yet
        ParamValue value = 0.0;
    };

    ParamValueCache() = default;
    ParamValueCache(const ParamValueCache&) = delete;
    ParamValueCache& operator=(const ParamValueCache&) = delete;

    // Records the newest value of id; the latest call decides the flag.
    void set(ParamID id, ParamValue value, bool changed);

    // Tells controller every value whose flag is set, in ascending id order,
    // and clears those flags. The controller is called without the lock held,
    // so it may edit parameters (and so reach set) from inside the call, and
    // the MIDI thread never waits for plug-in code.
    void flushTo(Steinberg::Vst::IEditController* controller);

    bool lookup(ParamID id, Entry& entry) const;
    std::size_t size() const;

private:
    mutable std::mutex lock;
    std::map<ParamID, Entry> entries;
};

} // namespace PomaroApp
