#pragma once
// A listener that keeps every message it is given, from whatever thread.

#include "input/MidiDataListener.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace MidiTest {

using Bytes = std::array<uint8_t, 4>;

class RecordingListener final : public Kelvane::IMidiDataListener
{
public:
    void onMidiData(const uint8_t* message) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(Bytes{message[0], message[1], message[2], message[3]});
    }

    std::vector<Bytes> messages() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }

private:
    mutable std::mutex mutex;
    std::vector<Bytes> received;
};

} // namespace MidiTest
