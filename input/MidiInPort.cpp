#include "input/MidiInPort.h"

#include "diag/DebugLog.h"

#include <cwchar>
#include <new>

namespace Kelvane {

namespace {

// format holds one %.*ls for the port name. A driver may fill all 32 characters of
// the name without a terminator, so the name is never read past its array.
void logPortLine(const wchar_t* format, const MIDIINCAPSW& caps)
{
    wchar_t text[256];
    if (std::swprintf(text, 256, format, static_cast<int>(MAXPNAMELEN), caps.szPname) < 0)
        return;
    PomaroApp::DebugLog::WriteLine(text);
}

} // namespace

bool CMidiInPort::open(UINT deviceId, IMidiDataListener* newListener)
{
    if (!newListener)
        return false;
    close();

    const MidiApi& api = midiApi();
    if (api.getDevCaps(deviceId, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return false;
    // A failed open may still have written to its handle argument.
    HMIDIIN opened = nullptr;
    if (api.open(&opened, deviceId, reinterpret_cast<DWORD_PTR>(&CMidiInPort::midiInProc),
                 reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
        return false;
    handle = opened;
    if (api.start(handle) != MMSYSERR_NOERROR) {
        close();
        return false;
    }
    // Messages that came before this point are dropped.
    listener.store(newListener, std::memory_order_release);
    return true;
}

void CMidiInPort::close()
{
    // Messages still arriving while the device stops are dropped; midiInStop returns
    // only after a callback in progress has finished, so none can follow this call.
    listener.store(nullptr, std::memory_order_release);
    if (!handle)
        return;
    const MidiApi& api = midiApi();
    api.stop(handle);
    api.close(handle);
    handle = nullptr;
}

void CALLBACK CMidiInPort::midiInProc(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    auto* port = reinterpret_cast<CMidiInPort*>(instance);
    if (!port)
        return;
    switch (message) {
    case MIM_OPEN:
        logPortLine(L"MIDI入力を開始しました：%.*ls", port->caps);
        break;
    case MIM_CLOSE:
        logPortLine(L"MIDI入力を終了しました：%.*ls", port->caps);
        break;
    case MIM_DATA:
        if (IMidiDataListener* target = port->listener.load(std::memory_order_acquire)) {
            // winmm packs the message with the status in the low byte.
            const uint8_t bytes[4] = {static_cast<uint8_t>(param1), static_cast<uint8_t>(param1 >> 8),
                                      static_cast<uint8_t>(param1 >> 16), static_cast<uint8_t>(param1 >> 24)};
            target->onMidiData(bytes);
        }
        break;
    default: // long messages, errors: no buffers are ever given, nothing to do
        break;
    }
}

bool CMidiInPortList::openAll(IMidiDataListener* listener)
{
    if (!listener)
        return false;
    clear();
    const UINT devices = midiApi().getNumDevs();
    if (devices == 0 || devices > 0x7FFFFFFFu)
        return false;
    ports.reset(new (std::nothrow) CMidiInPort[devices]);
    if (!ports)
        return false;
    count = static_cast<int32_t>(devices);
    for (UINT i = 0; i < devices; ++i)
        ports[i].open(i, listener); // a port that fails stays closed; the others are still tried
    return true;
}

void CMidiInPortList::clear()
{
    ports.reset(); // each port closes itself
    count = 0;
}

} // namespace Kelvane
