#pragma once
// Raw MIDI short messages from the user-interface and MIDI callback threads to
// the audio thread. Each entry is status | data1 << 8 | data2 << 16.
//
// Writers (any number of threads) are serialised by a writer-only spin lock;
// the single reader takes no lock and never waits. A writer fills the entry
// before it publishes writeIndex (release); the reader loads writeIndex
// (acquire), reads the entry, then publishes readIndex (release). One entry is
// always left free, so at most capacity - 1 messages wait; a full ring drops
// the newest message.

#include "host/WriterLock.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace PomaroApp {

struct MidiMessageRing
{
    static constexpr int32_t kCapacity = 1024;

    // 0 until initMidiRing has run; written only while no other thread uses the ring.
    std::atomic<int32_t> capacity{0};
    std::unique_ptr<uint32_t[]> entries;
    std::atomic<int32_t> writeIndex{0};
    std::atomic<int32_t> readIndex{0};
    WriterLock writers; // held by producers only

    MidiMessageRing() = default;
    MidiMessageRing(const MidiMessageRing&) = delete;
    MidiMessageRing& operator=(const MidiMessageRing&) = delete;
    ~MidiMessageRing() { release(); }

    // Writer side. False when the ring has no entries yet or is full (message dropped).
    bool push(uint32_t message) noexcept;

    // Reader side: takes the oldest message.
    bool pop(uint32_t& message) noexcept;

    // Reader side: discards everything waiting (readIndex := writeIndex) and
    // returns how many messages were discarded. Producers may keep writing.
    // Whoever calls this must be the ring's only reader at that moment (the
    // audio thread, or the user-interface thread while the device is stopped).
    int32_t clearFromReader() noexcept;

    // Messages waiting; exact only when no writer or reader is active.
    int32_t count() const noexcept;

    // Capacity and both indexes to 0, entries freed. No other thread may use the ring.
    void release() noexcept;
};

// Gives the ring its 1024 zeroed entries; does nothing when it already has them.
// Must run before any other thread uses the ring.
void initMidiRing(MidiMessageRing& ring);

// The four bytes of a short message (status first) as one ring entry; the
// fourth byte carries nothing and is not stored.
inline uint32_t packMidiMessage(const uint8_t* bytes) noexcept
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16;
}

} // namespace PomaroApp
