#pragma once
// How a test wants the test ASIO driver to behave, read from key = value lines:
//
//   type = 18                 sample type of every channel (16, 18, 19 or any other)
//   rates = 44100, 48000      rates canSampleRate accepts
//   min = 64   max = 4096   preferred = 512   granularity = 1   (-1: powers of two)
//   outputs = 2   inputs = 0
//   init_error = Device busy  init fails; getErrorMessage gives the text
//   fail = start, createBuffers   these calls answer ASE_HWMalfunction
//   panel = no                controlPanel answers ASE_NotPresent
//   reset_after = 20          kAsioResetRequest after 20 buffer switches
//   size_change_after = 20    kAsioBufferSizeChange after 20 buffer switches ...
//   size_change_to = 256      ... with this size (default: the current one)
//   callback = timeinfo       bufferSwitchTimeInfo even when the host did not ask
//   wav = C:\out\asio.wav     what the host rendered, channel 0 left, 1 right
//   stats = C:\out\asio.txt   counters, written at stop and release
// Lines starting with # and blank lines are skipped. Platform-free.

#include <cstdint>
#include <string>
#include <vector>

namespace PomaroTestAsio {

struct AsioTestConfig {
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
    std::vector<std::string> failingCalls;
    bool hasPanel = true;
    long resetAfter = 0;      // 0: never
    long sizeChangeAfter = 0; // 0: never
    long sizeChangeTo = 0;    // 0: the current size
    bool forceTimeInfo = false;
    std::string wavPath;      // UTF-8
    std::string statsPath;    // UTF-8

    bool fails(const char* call) const;
    // Whether createBuffers accepts this size under min, max and granularity.
    bool acceptsFrames(long frames) const;
    bool acceptsRate(double hz) const;
};

// False with "line N: ..." in error on the first line it cannot use.
bool parseAsioTestConfig(const std::string& text, AsioTestConfig& out, std::string& error);

} // namespace PomaroTestAsio
