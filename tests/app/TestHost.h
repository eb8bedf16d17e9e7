#pragma once
// A host whose MIDI input is recorded, and helpers for the UI thread's queue.

#include "app/Host.h"

#include <array>
#include <vector>

namespace PomaroTest {

using MidiBytes = std::array<uint8_t, 4>;

class RecordingHost : public PomaroApp::CHost
{
public:
    explicit RecordingHost(bool* deleted = nullptr) : deletedFlag(deleted) {}
    ~RecordingHost() override
    {
        if (deletedFlag)
            *deletedFlag = true;
    }

    void onMidiData(const uint8_t* message) override
    {
        received.push_back(MidiBytes{message[0], message[1], message[2], message[3]});
        CHost::onMidiData(message);
    }

    std::vector<MidiBytes> received;
    bool* deletedFlag;
};

// Module handle for the host's window classes, as the entry point sets it.
void useTestModule();
// Removes everything left in this thread's queue, WM_QUIT included.
void drainThreadQueue();

} // namespace PomaroTest
