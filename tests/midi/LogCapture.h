#pragma once
// The debug log's lines while the object lives, from an in-memory stand-in for the log.

#include <string>
#include <vector>

namespace MidiTest {

class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Line bodies so far, without time stamps, oldest first.
    std::vector<std::wstring> lines() const;
};

} // namespace MidiTest
