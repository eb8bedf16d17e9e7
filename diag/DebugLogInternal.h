#pragma once
// Line primitives shared by the files of the debug log. All of them expect the
// caller to hold a LineLock and the log to be open.
#include <cstdint>

namespace PomaroApp {

namespace DebugLogInternal {

class LineLock
{
public:
    LineLock();
    ~LineLock();
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;
};

void beginLine();
void appendText(const wchar_t* text);
void appendErrorText(std::uint32_t errorCode);
void endLine();
// Body of the current line (after the stamp), as the error box shows it.
const wchar_t* lineBody();
void setCaption(const wchar_t* caption);

// Writes one whole line under its own lock, if the log is open.
void writeWholeLine(const wchar_t* body);

} // namespace DebugLogInternal

} // namespace PomaroApp
