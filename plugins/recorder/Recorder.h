// The recorder test plug-in: an instrument that plays a sine per note and logs every call
// the host makes on it. Each DLL is the same recorder built as one variant, named like its
// file ("recorder" is the well-behaved one); the other variants misbehave in one way each,
// where the code asks faultIs("<variant>").
//
// The log: one UTF-8 line per call made on the module, factory, component, controller and view
// (and the component's call of hostapp.getName in initialize), appended to the file named by the
// environment variable POMARO_RECORDER_LOG when the module was loaded:
//     <seq> <tid> <object>.<method>[ <key>=<value>]... -> <result>
// seq counts from 1 when a call begins; a line is written when its call returns. tid is the
// Windows thread id. A result is a tresult name ("other" if unknown), a number, "ptr"/"null",
// "true"/"false" or "void". component.process lists its events as events=[<on|off>:<channel>:
// <pitch>:<velocity>:<sampleOffset>:<noteId>:<busIndex>:<flags>,...].
#pragma once

#include "pluginterfaces/base/funknown.h"

#include <atomic>
#include <cstdint>

namespace Recorder {

bool faultIs(const char* variant);

// Random ids, fixed so that a host may recognise them across builds.
static const Steinberg::FUID kComponentUid(0x5B1E2A41, 0x77C04F1D, 0x9A3E6C02, 0x1D4F8B37);
static const Steinberg::FUID kControllerUid(0x5B1E2A42, 0x77C04F1D, 0x9A3E6C02, 0x1D4F8B37);

// Parameters: 0 Level (CC 7), 1 Bend (pitch bend), 2 Mod (CC 1), 3 Pressure (channel pressure).
constexpr int kNumParams = 4;
constexpr double kDefaults[kNumParams] = {0.5, 0.5, 0.0, 0.0}; // the state: these as they are

// The log line of a call made on the plug-in (or by it on the host): begun, with its seq, when
// the call begins, written with its result when the call returns.
class Call
{
public:
    Call(const char* object, const char* method);
    Call& add(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
    Steinberg::tresult done(Steinberg::tresult r); // " -> <result name>"; returns r
    // wait false at process exit: a killed thread may have left the log's lock taken.
    void doneText(const char* result, bool wait = true);

private:
    char line[1024];
    int length{0};
};

void openLog();  // when the module is loaded
void closeLog(); // and freed

inline std::atomic<int> liveObjects{0}; // reported by ExitDll and at unload

Steinberg::FUnknown* createComponent(void*);
Steinberg::FUnknown* createController(void*);

// Counts an object of this module while it lives; a member of each class.
struct Live
{
    Live() { liveObjects.fetch_add(1); }
    ~Live() { liveObjects.fetch_sub(1); }
};

// A real read of address 0x10 at run time: an access violation the compiler cannot see coming.
inline int readAddress0x10()
{
    volatile uintptr_t address = 0x10;
    return *reinterpret_cast<volatile int*>(address);
}

} // namespace Recorder
