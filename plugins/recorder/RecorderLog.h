// The recorder's log: one UTF-8 line per call, appended to the file named by the
// environment variable POMARO_RECORDER_LOG (nothing is written when it is unset).
// The line format is described at the top of RecorderEntry.cpp.
#pragma once

#include "pluginterfaces/base/funknown.h"
#include "plugins/recorder/LineWriter.h"
#include "plugins/recorder/SlotRing.h"

#include <atomic>
#include <cstdint>

namespace Recorder {

// Taken when a call begins, so nested calls keep their true order when sorted.
uint32_t nextSeq();
uint32_t currentThreadId();

const char* resultName(Steinberg::tresult r);
const char* iidName(const Steinberg::TUID iid, char (&hexBuffer)[40]);

// One record of a call made on the plug-in (or by it on the host), built on the stack
// and written, with its result, when the call returns.
class Call
{
public:
    Call(const char* object, const char* method);
    LineWriter& w() { return line; }
    Steinberg::tresult done(Steinberg::tresult r); // " -> <result name>", written; returns r
    void doneText(const char* result);             // " -> <result>", written
    void doneInt(int64_t result);
    void doneNum(double result);
    // For the process-exit notice: threads that were killed may have left the log's lock
    // taken, so this gives the line up rather than wait.
    void doneTextIfFree(const char* result);

private:
    void finish();
    char buffer[2048];
    LineWriter line;
};

// Writes one finished line (a newline is added). Waiting process records go first.
void writeLine(const char* text, size_t length);
bool writeLineIfFree(const char* text, size_t length);

// Process records: formatted by the audio thread into a preallocated slot; written out
// by drainProcessRecords, which every other record, the flusher thread, setProcessing,
// setActive and terminate call. A full ring drops the record and counts it.
using ProcessRing = SlotRing<512, 1024>;
ProcessRing& processRing();
void drainProcessRecords();

// A background thread that drains the process records every 20 ms, so a running host's
// records reach the file while it plays. Started by setActive(true), stopped by
// setActive(false) and terminate; counted, so several active components share it.
void startFlusher();
void stopFlusher();

// Objects of this module still alive; reported by ExitDll and at unload.
std::atomic<int>& liveObjects();

} // namespace Recorder
