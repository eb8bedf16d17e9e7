#pragma once
// Receiver of MIDI short messages. Platform-free.

#include <cstdint>

namespace Kelvane {

class IMidiDataListener
{
public:
    // message points to four bytes: status, data 1, data 2 and one byte that carries
    // nothing. They are valid only during the call, which may come from any thread.
    virtual void onMidiData(const uint8_t* message) = 0;

protected:
    ~IMidiDataListener() = default; // never deleted through this interface
};

} // namespace Kelvane
