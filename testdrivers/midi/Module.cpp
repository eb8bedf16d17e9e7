// The driver's entry points: the four that Wine's mmdevapi needs of an audio driver
// module (it lists no endpoint), the installable driver's DriverProc, and midMessage,
// winmm's door to the MIDI input ports.
#include "testdrivers/midi/MidiTestDriver.h"

#include <mmddk.h>

using PomaroTestMidi::ports;

namespace {
constexpr int kPriorityNeutral = 2; // mmdevapi picks the driver of the highest priority
}

extern "C" {

__declspec(dllexport) int WINAPI GetPriority() { return kPriorityNeutral; }

__declspec(dllexport) HRESULT WINAPI
    GetEndpointIDs(int, WCHAR*** ids, GUID** guids, UINT* count, UINT* defaultIndex)
{
    *ids = nullptr;
    *guids = nullptr;
    *count = 0;
    *defaultIndex = 0;
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI GetAudioEndpoint(void*, void*, void** out)
{
    *out = nullptr;
    return E_NOTIMPL;
}

__declspec(dllexport) HRESULT WINAPI GetAudioSessionManager(void*, void** out)
{
    *out = nullptr;
    return E_NOTIMPL;
}

__declspec(dllexport) LRESULT WINAPI
    DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2)
{
    switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_OPEN: // the instance id winmm keeps must not be 0
    case DRV_CLOSE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return 1;
    case DRV_QUERYCONFIGURE:
        return 0;
    default:
        return DefDriverProc(id, driver, message, p1, p2);
    }
}

__declspec(dllexport) DWORD WINAPI
    midMessage(UINT device, UINT message, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2)
{
    switch (message) {
    case DRVM_INIT:
        PomaroTestMidi::startSender();
        return MMSYSERR_NOERROR;
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
        return MMSYSERR_NOERROR;
    case MIDM_GETNUMDEVS:
        PomaroTestMidi::startSender();
        return ports().count();
    case MIDM_GETDEVCAPS:
        return ports().caps(device, reinterpret_cast<MIDIINCAPSW*>(p1), p2) ? MMSYSERR_NOERROR
                                                                            : MMSYSERR_BADDEVICEID;
    case MIDM_OPEN: {
        const auto* desc = reinterpret_cast<const MIDIOPENDESC*>(p1);
        if (!desc)
            return MMSYSERR_INVALPARAM;
        PomaroTestMidi::PortCallback target;
        target.callback = desc->dwCallback;
        target.instance = desc->dwInstance;
        target.handle = desc->hMidi;
        target.flags = HIWORD(p2);
        // winmm passes the value stored here back with every later call: the device number.
        if (user)
            *reinterpret_cast<DWORD_PTR*>(user) = device;
        return ports().open(device, target);
    }
    case MIDM_START:
        return ports().setStarted(device, true);
    case MIDM_STOP:
        return ports().setStarted(device, false);
    case MIDM_CLOSE:
        return ports().close(device);
    case MIDM_RESET: // no buffers are ever given, none to return
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

} // extern "C"
