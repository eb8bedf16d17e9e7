#pragma once
// What test programs may ask the test ASIO driver beyond the driver interface: its
// class, where its configuration comes from, and what it counts. The exported function
// acts on the copy of the DLL that COM loaded into the process.

#include <windows.h>

#define POMARO_TEST_ASIO_CLSID_TEXT L"{6F0D3C5E-8B2A-4E61-9C47-3A1B5D2E7F90}"
static const CLSID CLSID_PomaroTestAsio = {
    0x6f0d3c5e, 0x8b2a, 0x4e61, {0x9c, 0x47, 0x3a, 0x1b, 0x5d, 0x2e, 0x7f, 0x90}};

// The registry value "PomaroConfig" of its class key names its configuration file (UTF-8 text).

// What the driver counts: the field, its key in the statistics file, its value after
// PomaroTestAsioConfigure. Whether a driver object is alive, DllCanUnloadNow tells.
#define POMARO_TEST_ASIO_COUNTERS(X)                                                                         \
    X(instances, "instances", 0)       /* driver objects created since configuring */                        \
    X(resetAnswer, "reset_answer", -1) /* the host's answer to the reset request, -1 before it was sent */   \
    X(sizeChangeAnswer, "size_change_answer", -1)                                                            \
    X(messagesSent, "messages_sent", 0)                                                                      \
    X(callbacksAfterStop, "callbacks_after_stop", 0) /* buffer switches made after stop had returned */      \
    X(callbacksInStart, "callbacks_in_start", 0)     /* buffer switches made inside start */                 \
    X(threadCallbacks, "thread_callbacks", 0)        /* buffer switches made from a thread of their own */   \
    X(callsInPanel, "calls_in_panel", 0)             /* driver calls that arrived while controlPanel ran */

extern "C" {
// Clears the counters and sets the text configuration of every driver object created
// from now on; null or empty goes back to the file and registry sources.
typedef void(__stdcall* PomaroTestAsioConfigureFn)(const char* text);
}
