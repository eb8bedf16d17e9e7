#pragma once
// Parameter changes between threads: editor and MIDI controllers to the audio
// thread (paramsToProcessor), and the processor's reports back to the
// user-interface thread (paramsFromProcessor).
//
// The SDK base keeps the storage (size, changes, readIndex, writeIndex), but
// its own add/take paths use plain volatile indexes with no ordering between
// the entry and the index, and nothing serialises two writers. Every access
// here goes through the functions below instead, which order the indexes with
// acquire/release atomics and serialise writers with a writer-only spin lock;
// the base's unordered members are hidden.

#include "host/WriterLock.h"

#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "public.sdk/source/vst/hosting/parameterchanges.h"

namespace PomaroApp {

class ParameterChangeTransfer2 : public Steinberg::Vst::ParameterChangeTransfer
{
public:
    using ParamID = Steinberg::Vst::ParamID;
    using ParamValue = Steinberg::Vst::ParamValue;
    using int32 = Steinberg::int32;

    // Entries in the ring; one stays free, so 4095 changes can wait.
    static constexpr int32 kEntries = 4096;

    ParameterChangeTransfer2();

    // Writer side, any thread: queues one change. False when the queue is full
    // and the change is lost.
    bool addChange(ParamID id, ParamValue value, int32 sampleOffset) noexcept;

    // Writer side for a thread that must never wait (the audio thread): when
    // another writer holds the queue at this instant the change is dropped as
    // if the queue were full.
    bool tryAddChange(ParamID id, ParamValue value, int32 sampleOffset) noexcept;

    // Reader side: takes the oldest change.
    bool getNextChange(ParamID& id, ParamValue& value, int32& sampleOffset) noexcept;

    // Reader side: discards everything waiting (readIndex := writeIndex) and
    // returns how many changes were discarded; writers may keep adding. The
    // caller must be the queue's only reader at that moment.
    int32 clearFromReader() noexcept;

    // Changes waiting; exact only when no writer or reader is active.
    int32 count() const noexcept;
    int32 capacity() const noexcept { return size; }

    // Reader side (audio thread): every change that was waiting when the call
    // began becomes a point of dest; a null queue from dest drops the change.
    void transferChangesTo(Steinberg::Vst::IParameterChanges* dest) noexcept;

    // Writer side (audio thread): queues every point of source, in order. Uses
    // tryAddChange, so the audio thread never waits for another writer.
    void transferChangesFrom(Steinberg::Vst::IParameterChanges* source) noexcept;

    // The base's versions are not safe between threads.
    void setMaxParameters(int32) = delete;
    void removeChanges() = delete;

private:
    bool publish(ParamID id, ParamValue value, int32 sampleOffset) noexcept;

    WriterLock writers;
};

} // namespace PomaroApp
