#pragma once
// Every MIDI input port of the system, opened at once and feeding one listener.

#include "input/MidiApi.h"
#include "input/MidiDataListener.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace Kelvane {

// One winmm input device in callback-function mode. Closed (no handle, no listener),
// open (handle only, between midiInOpen and midiInStart) or started (both).
class CMidiInPort
{
public:
    CMidiInPort() = default;
    ~CMidiInPort() { close(); }
    CMidiInPort(const CMidiInPort&) = delete;
    CMidiInPort& operator=(const CMidiInPort&) = delete;

    // Opens and starts device deviceId for listener; a port that was open is closed
    // first. False, with the port closed, when any step fails.
    bool open(UINT deviceId, IMidiDataListener* listener);
    // Stops and closes the device. Once it returns, no message reaches the listener.
    void close();

    // The callback of every port; instance is the port's address.
    static void CALLBACK midiInProc(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                    DWORD_PTR param2);

    MIDIINCAPSW caps{};
    HMIDIIN handle = nullptr;
    // Written by the window thread, read by the MIDI callback thread.
    std::atomic<IMidiDataListener*> listener{nullptr};
};

class CMidiInPortList
{
public:
    CMidiInPortList() = default;
    ~CMidiInPortList() { clear(); }
    CMidiInPortList(const CMidiInPortList&) = delete;
    CMidiInPortList& operator=(const CMidiInPortList&) = delete;

    // Opens every input device for listener. False without a listener or without
    // devices; true otherwise, however many ports could be opened.
    bool openAll(IMidiDataListener* listener);
    // Closes and frees every port.
    void clear();

    int32_t count = 0;
    std::unique_ptr<CMidiInPort[]> ports; // index = winmm device number
};

} // namespace Kelvane
