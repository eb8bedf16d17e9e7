#pragma once
// What test programs may ask the test ASIO driver beyond the driver interface: its
// class, where its configuration comes from, and what it saw. The exported functions
// act on the copy of the DLL that COM loaded into the process.

#include <windows.h>

// {6F0D3C5E-8B2A-4E61-9C47-3A1B5D2E7F90}
#define POMARO_TEST_ASIO_CLSID_TEXT L"{6F0D3C5E-8B2A-4E61-9C47-3A1B5D2E7F90}"
static const CLSID CLSID_PomaroTestAsio = {
    0x6f0d3c5e, 0x8b2a, 0x4e61, {0x9c, 0x47, 0x3a, 0x1b, 0x5d, 0x2e, 0x7f, 0x90}};

// Path of a configuration file (UTF-8 text); takes precedence over the registry value
// "PomaroConfig" of the class key HKEY_CLASSES_ROOT\CLSID\{...}.
#define POMARO_TEST_ASIO_CONFIG_ENV L"POMARO_TEST_ASIO_CONFIG"

struct PomaroTestAsioStats
{
    long instances;     // driver objects created since the last reset
    long liveInstances; // driver objects alive now
    long callbacks;     // buffer switches completed
    long timeInfoCallbacks;
    long lateCallbacks; // begun more than half a period after their time
    long maxLateMicros;
    long sampleRate; // of the last createBuffers
    long bufferFrames;
    long resetAnswer; // the host's answer to the reset request, -1 before it was sent
    long sizeChangeAnswer;
    long messagesSent;
    long callbacksAfterStop; // buffer switches made after stop had returned
    long callbacksInStart;   // buffer switches made inside start
    long threadCallbacks;    // buffer switches made from a thread of their own
    long callsInPanel;       // driver calls that arrived while controlPanel was running
};

extern "C" {
// Text configuration for every driver object created from now on; null goes back
// to the file and registry sources.
typedef void(__stdcall* PomaroTestAsioConfigureFn)(const char* text);
// Counters as above.
typedef void(__stdcall* PomaroTestAsioStatsFn)(PomaroTestAsioStats* stats);
// Clears the counters and the call log.
typedef void(__stdcall* PomaroTestAsioResetFn)();
// The driver calls made since the last reset, names separated by spaces; returns the
// length of the full text.
typedef int(__stdcall* PomaroTestAsioCallLogFn)(char* out, int size);
}
