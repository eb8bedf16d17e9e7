#pragma once
// How a test wants the test ASIO driver to behave, read from key = value lines:
//
//   type = 18                 sample type of every channel (16, 18, 19 or any other)
//   rates = 44100, 48000      rates canSampleRate accepts
//   min = 64   max = 4096   preferred = 512   granularity = 1   (-1: powers of two)
//   outputs = 2   inputs = 0
//   init_error = Device busy  init fails; getErrorMessage gives the text
//   fail = start, createBuffers#2   these calls (#n: only the process's n-th one)
//                             answer ASE_HWMalfunction
//   panel = no                controlPanel answers ASE_NotPresent
//   panel = reset             controlPanel is a modal box that asks for a reset while open
//   reset_after = 20          kAsioResetRequest after 20 buffer switches, once a process ...
//   reset_burst = 20          ... sent 20 times in a row ...
//   reset_every_init = yes    ... or once for every driver object, as after every init
//   size_change_after = 20    kAsioBufferSizeChange after 20 buffer switches (before a
//   size_change_to = 256      reset due at the same switch), with this size (default: the current one)
//   after_stop = 5            stop returns at once and 5 more buffer switches follow
//   callback_in_start = yes   start calls bufferSwitch itself before it returns
//   thread_every = 50         every 50th buffer switch comes from a new thread
//   callback = timeinfo       bufferSwitchTimeInfo even when the host did not ask
//   wav = C:\out\asio.wav     what the host rendered, channel 0 left, 1 right
//   stats = C:\out\asio.txt   counters, written at stop and release
// Lines starting with # and blank lines are skipped. Platform-free.

#include "testdrivers/common/TextParse.h"

#include <cstdint>
#include <string>
#include <vector>

namespace PomaroTestAsio {

struct AsioTestConfig
{
    long sampleType = 18;
    std::vector<double> rates{22050.0, 44100.0, 48000.0, 96000.0};
    long minFrames = 32;
    long maxFrames = 4096;
    long preferredFrames = 480;
    long granularity = 1;
    long outputs = 2;
    long inputs = 0;
    bool initFails = false;
    std::string initError;
    std::vector<PomaroTestDrivers::CallRule> failingCalls;
    bool hasPanel = true;
    bool panelAsksReset = false;
    long resetAfter = 0; // 0: never
    long resetBurst = 1;
    bool resetEveryInit = false;
    long sizeChangeAfter = 0; // 0: never
    long sizeChangeTo = 0;    // 0: the current size
    long afterStop = 0;
    bool callbackInStart = false;
    long threadEvery = 0; // 0: every switch from the clock thread
    bool forceTimeInfo = false;
    std::string wavPath;   // UTF-8
    std::string statsPath; // UTF-8

    // Whether the nth call (1-based, counted over the process) of call fails.
    bool fails(const char* call, uint32_t nth) const;
    // Whether createBuffers accepts this size under min, max and granularity.
    bool acceptsFrames(long frames) const;
    bool acceptsRate(double hz) const;
};

// False with "line N: ..." in error on the first line it cannot use.
bool parseAsioTestConfig(const std::string& text, AsioTestConfig& out, std::string& error);

} // namespace PomaroTestAsio
