#include "host/ParameterChangeTransfer2.h"

#include <mutex>

namespace PomaroApp {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// The base declares its indexes volatile int32; these give every access the
// ordering a ring needs (entry before index on both sides).
inline int32 loadAcquire(const volatile int32& v) noexcept { return __atomic_load_n(&v, __ATOMIC_ACQUIRE); }
inline int32 loadRelaxed(const volatile int32& v) noexcept { return __atomic_load_n(&v, __ATOMIC_RELAXED); }
inline void storeRelease(volatile int32& v, int32 value) noexcept
{
    __atomic_store_n(&v, value, __ATOMIC_RELEASE);
}

} // namespace

ParameterChangeTransfer2::ParameterChangeTransfer2()
{
    // The base's default constructor allocates nothing; it reserves twice the
    // number of parameters it is given.
    ParameterChangeTransfer::setMaxParameters(kEntries / 2);
}

bool ParameterChangeTransfer2::publish(ParamID id, ParamValue value, int32 sampleOffset) noexcept
{
    if (!changes || size <= 0)
        return false;
    const int32 w = loadRelaxed(writeIndex);
    const int32 next = (w + 1 >= size) ? 0 : w + 1;
    // Acquire pairs with the reader's release: the slot at w has been read.
    if (next == loadAcquire(readIndex))
        return false;
    changes[w].id = id;
    changes[w].value = value;
    changes[w].sampleOffset = sampleOffset;
    storeRelease(writeIndex, next);
    return true;
}

bool ParameterChangeTransfer2::addChange(ParamID id, ParamValue value, int32 sampleOffset) noexcept
{
    std::lock_guard<WriterLock> guard(writers);
    return publish(id, value, sampleOffset);
}

bool ParameterChangeTransfer2::tryAddChange(ParamID id, ParamValue value, int32 sampleOffset) noexcept
{
    if (!writers.try_lock())
        return false;
    std::lock_guard<WriterLock> guard(writers, std::adopt_lock);
    return publish(id, value, sampleOffset);
}

bool ParameterChangeTransfer2::getNextChange(ParamID& id, ParamValue& value, int32& sampleOffset) noexcept
{
    if (!changes || size <= 0)
        return false;
    const int32 r = loadRelaxed(readIndex);
    if (r == loadAcquire(writeIndex))
        return false;
    id = changes[r].id;
    value = changes[r].value;
    sampleOffset = changes[r].sampleOffset;
    storeRelease(readIndex, (r + 1 >= size) ? 0 : r + 1);
    return true;
}

int32 ParameterChangeTransfer2::clearFromReader() noexcept
{
    if (size <= 0)
        return 0;
    const int32 w = loadAcquire(writeIndex);
    const int32 r = loadRelaxed(readIndex);
    storeRelease(readIndex, w);
    return (w - r + size) % size;
}

int32 ParameterChangeTransfer2::count() const noexcept
{
    if (size <= 0)
        return 0;
    const int32 w = loadAcquire(writeIndex);
    const int32 r = loadAcquire(readIndex);
    return (w - r + size) % size;
}

void ParameterChangeTransfer2::transferChangesTo(IParameterChanges* dest) noexcept
{
    if (!dest || !changes || size <= 0)
        return;
    // Bounded by what was waiting at the start, so busy writers cannot keep
    // the audio thread here.
    const int32 end = loadAcquire(writeIndex);
    int32 r = loadRelaxed(readIndex);
    while (r != end) {
        const ParameterChange change = changes[r];
        r = (r + 1 >= size) ? 0 : r + 1;
        storeRelease(readIndex, r);
        int32 index = 0;
        if (IParamValueQueue* queue = dest->addParameterData(change.id, index))
            queue->addPoint(change.sampleOffset, change.value, index);
    }
}

void ParameterChangeTransfer2::transferChangesFrom(IParameterChanges* source) noexcept
{
    if (!source)
        return;
    for (int32 i = 0; i < source->getParameterCount(); ++i) {
        IParamValueQueue* queue = source->getParameterData(i);
        if (!queue)
            continue;
        for (int32 j = 0; j < queue->getPointCount(); ++j) {
            int32 sampleOffset = 0;
            ParamValue value = 0.0;
            if (queue->getPoint(j, sampleOffset, value) == kResultTrue)
                tryAddChange(queue->getParameterId(), value, sampleOffset);
        }
    }
}

} // namespace PomaroApp
