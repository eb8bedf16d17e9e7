#include "input/MidiInPort.h"

namespace Kelvane {

// Port opening is not built yet: no device is opened and every port stays closed.

bool CMidiInPort::open(UINT, IMidiDataListener* newListener)
{
    if (!newListener)
        return false;
    close();
    return false;
}

void CMidiInPort::close()
{
    handle = nullptr;
    listener = nullptr;
}

bool CMidiInPortList::openAll(IMidiDataListener* listener)
{
    if (!listener)
        return false;
    clear();
    return false; // as with a system that lists no MIDI input device
}

void CMidiInPortList::clear()
{
    delete[] ports;
    ports = nullptr;
    count = 0;
}

} // namespace Kelvane
