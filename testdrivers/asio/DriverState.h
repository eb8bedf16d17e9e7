#pragma once
// What every driver object of the DLL shares: the configuration source, the
// counters and the log of calls that the test hooks expose.

#include "testdrivers/asio/AsioTestConfig.h"
#include "testdrivers/common/WavFile.h"
#include "testdrivers/asio/TestAsioApi.h"

#include <atomic>
#include <string>

namespace PomaroTestAsio {

struct SharedCounters
{
#define POMARO_TEST_ASIO_ATOMIC(name, key, initial) std::atomic<long> name{initial};
    POMARO_TEST_ASIO_COUNTERS(POMARO_TEST_ASIO_ATOMIC)
#undef POMARO_TEST_ASIO_ATOMIC
    std::atomic<bool> panelOpen{false};
    std::atomic<bool> resetSent{false};
    std::atomic<bool> sizeChangeSent{false};
};

SharedCounters& counters();
PomaroTestAsioStats snapshotStats();
void resetState();

// Records one driver call by name for the call log; returns its number among the
// process's calls of that name (1 for the first).
uint32_t logCall(const char* name);
std::string callLog();

// The configuration for a new driver object: the text a test set, else the file
// named by the environment, else the file named in the class key, else defaults.
// False with a message when a named source cannot be used.
bool loadConfig(AsioTestConfig& out, std::string& error);
void setConfigText(const char* text);

// The process's one recording: driver objects made one after the other (a host's
// restart) go on appending to it while the path, the rate and the format stay; any
// change starts the file again. Called by start, never while a clock runs.
PomaroTestDrivers::WavFile& openRecording(const std::wstring& path, PomaroTestDrivers::WavSamples samples,
                                          uint32_t rate);

// Writes the counters as key=value lines to a UTF-8 path.
void writeStatsFile(const std::string& path);

} // namespace PomaroTestAsio
