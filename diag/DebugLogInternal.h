#pragma once
// Line primitives shared by the files of the debug log. All of them expect the
// caller to hold a LineLock and the log to be open.
#include <cstdint>

namespace DebugLogInternal {

class LineLock
{
public:
    LineLock();
    ~LineLock();
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;
};

void BeginLine();
void AppendText(const wchar_t* text);
void AppendErrorText(std::uint32_t errorCode);
void EndLine();
// Body of the current line (after the stamp), as the error box shows it.
const wchar_t* LineBody();
void SetCaption(const wchar_t* caption);

// Writes one whole line under its own lock, if the log is open.
void WriteWholeLine(const wchar_t* body);

} // namespace DebugLogInternal
