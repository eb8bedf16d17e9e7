#include "input/MidiApi.h"

#include <atomic>

namespace Kelvane {

namespace {

#ifdef _WIN32
const MidiApi kSystemApi = {&midiInGetNumDevs, &midiInGetDevCapsW, &midiInOpen,
                            &midiInStart,      &midiInStop,        &midiInClose};
#else
// No MIDI service outside Windows: no device, and every device call fails.
UINT WINAPI noDevices() { return 0; }
MMRESULT WINAPI noCaps(UINT_PTR, MIDIINCAPSW*, UINT) { return MMSYSERR_BADDEVICEID; }
MMRESULT WINAPI noOpen(HMIDIIN*, UINT, DWORD_PTR, DWORD_PTR, DWORD) { return MMSYSERR_BADDEVICEID; }
MMRESULT WINAPI noHandle(HMIDIIN) { return MMSYSERR_INVALHANDLE; }
const MidiApi kSystemApi = {&noDevices, &noCaps, &noOpen, &noHandle, &noHandle, &noHandle};
#endif

std::atomic<const MidiApi*> g_api{&kSystemApi};

} // namespace

const MidiApi& midiApi() { return *g_api.load(std::memory_order_acquire); }

const MidiApi* setMidiApiForTesting(const MidiApi* table)
{
    return g_api.exchange(table ? table : &kSystemApi, std::memory_order_acq_rel);
}

} // namespace Kelvane
