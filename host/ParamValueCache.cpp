#include "host/ParamValueCache.h"

#include <utility>
#include <vector>

namespace PomaroApp {

void ParamValueCache::set(ParamID id, ParamValue value, bool changed)
{
    std::lock_guard<std::mutex> guard(lock);
    Entry& entry = entries[id];
    entry.changed = changed;
    entry.value = value;
}

void ParamValueCache::flushTo(Steinberg::Vst::IEditController* controller)
{
    if (!controller)
        return;
    std::vector<std::pair<ParamID, ParamValue>> due;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto& [id, entry] : entries) {
            if (!entry.changed)
                continue;
            due.emplace_back(id, entry.value);
            entry.changed = false;
        }
    }
    for (const auto& [id, value] : due)
        controller->setParamNormalized(id, value);
}

bool ParamValueCache::lookup(ParamID id, Entry& entry) const
{
    std::lock_guard<std::mutex> guard(lock);
    auto it = entries.find(id);
    if (it == entries.end())
        return false;
    entry = it->second;
    return true;
}

std::size_t ParamValueCache::size() const
{
    std::lock_guard<std::mutex> guard(lock);
    return entries.size();
}

} // namespace PomaroApp
