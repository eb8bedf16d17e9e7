#pragma once
// Every MIDI input port of the system, opened at once and feeding one listener.

#include "input/MidiDataListener.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

namespace Kelvane {

class CMidiInPort
{
public:
    CMidiInPort() = default;
    ~CMidiInPort() { close(); }
    CMidiInPort(const CMidiInPort&) = delete;
    CMidiInPort& operator=(const CMidiInPort&) = delete;

    bool open(UINT deviceId, IMidiDataListener* listener);
    void close();

    MIDIINCAPSW caps{};
    HMIDIIN handle = nullptr;
    IMidiDataListener* listener = nullptr;
};

class CMidiInPortList
{
public:
    CMidiInPortList() = default;
    ~CMidiInPortList() { clear(); }
    CMidiInPortList(const CMidiInPortList&) = delete;
    CMidiInPortList& operator=(const CMidiInPortList&) = delete;

    // Opens every input device for listener; false without a listener or without devices.
    bool openAll(IMidiDataListener* listener);
    // Closes and frees every port.
    void clear();

    int32_t count = 0;
    CMidiInPort* ports = nullptr; // index = winmm device number
};

} // namespace Kelvane
