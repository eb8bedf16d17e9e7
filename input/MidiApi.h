#pragma once
// The winmm MIDI input calls the ports make, gathered in one table so that a test can
// put a simulated MIDI service in their place. The table starts out as winmm itself.
//
// Outside Windows the same names are declared here with winmm's shapes and values, so
// the port code also builds natively and runs under the sanitizers against a simulated
// service; there the default table lists no device.

#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#else
#include <cstdint>

#define WINAPI
#define CALLBACK

using UINT = unsigned int;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using MMRESULT = UINT;
using MMVERSION = UINT;
using WCHAR = wchar_t;
struct HMIDIIN__;
using HMIDIIN = HMIDIIN__*;

constexpr UINT MAXPNAMELEN = 32;
struct MIDIINCAPSW
{
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    WCHAR szPname[MAXPNAMELEN];
    DWORD dwSupport;
};

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr UINT MIM_OPEN = 0x3C1;
constexpr UINT MIM_CLOSE = 0x3C2;
constexpr UINT MIM_DATA = 0x3C3;
constexpr UINT MIM_LONGDATA = 0x3C4;
constexpr UINT MIM_ERROR = 0x3C5;
constexpr UINT MIM_LONGERROR = 0x3C6;
constexpr UINT MIM_MOREDATA = 0x3CC;
#endif

namespace Kelvane {

// The callback shape of CALLBACK_FUNCTION mode.
using MidiInCallback = void(CALLBACK*)(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                       DWORD_PTR param2);

struct MidiApi
{
    UINT(WINAPI* getNumDevs)();
    MMRESULT(WINAPI* getDevCaps)(UINT_PTR deviceId, MIDIINCAPSW* caps, UINT capsSize);
    MMRESULT(WINAPI* open)
    (HMIDIIN* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
    MMRESULT(WINAPI* start)(HMIDIIN handle);
    MMRESULT(WINAPI* stop)(HMIDIIN handle);
    MMRESULT(WINAPI* close)(HMIDIIN handle);
};

// The table in use. Read by every port operation; the callback thread never reads it.
const MidiApi& midiApi();

// Test seam: puts table in place of the system's MIDI service (null: back to the
// system) and returns the table that was in use. Only while no port is open.
const MidiApi* setMidiApiForTesting(const MidiApi* table);

} // namespace Kelvane
