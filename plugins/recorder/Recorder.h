// The recorder test plug-in: an instrument that plays a sine per note and logs every call
// the host makes on it. Each DLL is the same recorder built with one fault switched on
// (RECORDER_FAULT, set per DLL by the build); the log's format is described in
// RecorderEntry.cpp.
#pragma once

#include "pluginterfaces/base/funknown.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Recorder {

enum class Fault
{
    None,                  // recorder: a complete, well-behaved instrument
    NoInitDll,             // no InitDll/ExitDll exports
    NullFactory,           // GetPluginFactory returns null
    Class0Controller,      // the factory lists the controller class first
    NoAudioProcessor,      // class 0 answers IComponent but not IAudioProcessor
    ComponentInitFails,    // component initialize returns kResultFalse
    NoController,          // one class only; getControllerClassId returns kResultFalse
    ControllerInitFails,   // controller initialize returns kResultFalse
    NullView,              // createView returns null
    AttachFails,           // IPlugView::attached returns kResultFalse
    MonoOutput,            // the output bus has one channel
    TwoOutputs,            // two stereo output buses
    NoEventInput,          // no event input bus
    SetProcessingNotImpl,  // setProcessing returns kNotImplemented
    GetStateRefused,       // component getState returns kResultFalse
    NoMidiMapping,         // the controller has no IMidiMapping
    NoConnection,          // neither side has IConnectionPoint
    ComponentNoConnection, // only the controller has IConnectionPoint
    FixedSizeView,         // canResize kResultFalse, checkSizeConstraint refuses
    NoResizeCall,          // the view never calls IPlugFrame::resizeView
    SetupRefused,          // setupProcessing always kResultFalse
    SetupRefusedSecond,    // setupProcessing accepted once, refused afterwards
    SetActiveRefused,      // setActive(true) returns kResultFalse
    SilentOutput,          // process writes nothing into its outputs and leaves their silence flags
    StallInProcess,        // the first process call with a note-on sleeps 5 s, then plays on
    // Faults that take the whole program down, for the crash report's tests:
    CrashInAttached, // attached reads address 0x10 (an access violation)
    RaiseInAttached, // attached raises a structured exception of a code nobody knows
    CrashInProcess,  // the first process call with a note-on reads address 0x10
};

bool faultIs(Fault f);
void* moduleInstance(); // HINSTANCE of this DLL

// Random ids, fixed so that a host may recognise them across builds.
static const Steinberg::FUID kComponentUid(0x5B1E2A41, 0x77C04F1D, 0x9A3E6C02, 0x1D4F8B37);
static const Steinberg::FUID kControllerUid(0x5B1E2A42, 0x77C04F1D, 0x9A3E6C02, 0x1D4F8B37);

// Parameters: 0 Level (CC 7), 1 Bend (pitch bend), 2 Mod (CC 1), 3 Pressure (channel pressure).
constexpr int kNumParams = 4;
constexpr double kDefaults[kNumParams] = {0.5, 0.5, 0.0, 0.0};
constexpr int kStateBytes = kNumParams * 8; // the parameters as doubles

// Fixed-capacity text builder for the log lines. It never allocates and never calls into the
// C library's formatting (whose locale handling may lock), so the audio thread can format
// its own records.
class LineWriter
{
public:
    LineWriter(char* buffer, size_t capacity) : buf(buffer), cap(capacity) { buf[0] = 0; }
    LineWriter& ch(char c);
    LineWriter& text(const char* s);
    LineWriter& integer(int64_t v);
    LineWriter& number(double v); // up to six decimals, trailing zeros dropped ("48000", "0.5")
    // key=value pairs, preceded by a space; kv writes space, '%' and control characters of
    // its value as %XX, so a value never splits a line into more fields.
    LineWriter& kv(const char* key, const char* value);
    LineWriter& kvInt(const char* key, int64_t v) { return ch(' ').text(key).ch('=').integer(v); }
    LineWriter& kvNum(const char* key, double v) { return ch(' ').text(key).ch('=').number(v); }
    const char* data() const { return buf; }
    size_t size() const { return len; }

private:
    char* buf;
    size_t cap;
    size_t len{0};
};

// One record of a call made on the plug-in (or by it on the host), built on the stack and
// written, with its result, when the call returns.
class Call
{
public:
    Call(const char* object, const char* method);
    LineWriter& w() { return line; }
    Steinberg::tresult done(Steinberg::tresult r); // " -> <result name>", written; returns r
    // wait false, for the process-exit notice: threads that were killed may have left the
    // log's lock taken, so the line is given up rather than waited for.
    void doneText(const char* result, bool wait = true);

private:
    char buffer[1024];
    LineWriter line;
};

// Taken when a call begins, so nested calls keep their true order when sorted.
uint32_t nextSeq();
uint32_t currentThreadId();

// Process records: formatted by the audio thread into a slot of a preallocated lock-free
// ring (fill(text, capacity) returns the length), written out by every other record, by a
// flusher thread every 20 ms while a component is active (startFlusher / stopFlusher) and
// at setProcessing(false). A full ring drops the record.
bool pushProcessRecord(size_t (*fill)(char*, size_t, const void*), const void* context);
void drainProcessRecords();
void startFlusher();
void stopFlusher();

// Objects of this module still alive; reported by ExitDll and at unload.
std::atomic<int>& liveObjects();

// IHostApplication::getName, recorded as "hostapp.getName name=<UTF-8>".
void logHostName(Steinberg::FUnknown* context);

// The two classes, for the factory.
Steinberg::FUnknown* createComponent(void*);
Steinberg::FUnknown* createController(void*);

// Counts an object of this module while it lives; a member of each class.
struct Live
{
    Live() { liveObjects().fetch_add(1); }
    ~Live() { liveObjects().fetch_sub(1); }
};

// A real read of address 0x10 at run time: an access violation the compiler cannot see coming.
inline int readAddress0x10()
{
    volatile uintptr_t address = 0x10;
    return *reinterpret_cast<volatile int*>(address);
}

} // namespace Recorder
