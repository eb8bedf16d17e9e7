#pragma once
// What tests need to read the program's log and stand in for its message box.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    const std::wstring& Path() const { return path_; } // with trailing backslash
    std::wstring File(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
};

// A file in the folder of the running test program (the test drivers lie there).
std::wstring BesideExe(const wchar_t* name);
std::string ReadBytes(const std::wstring& path);
// The log file's CR LF-terminated lines without their time stamps; a line without a stamp comes
// back as "<no stamp>...".
std::vector<std::string> LogBodies(const std::wstring& path);
std::string Narrow(const std::wstring& ascii);

struct RecordedBox
{
    bool ownerNull;
    std::wstring text, caption;
    unsigned style;
};

// Replaces the log's message box while alive; whileShown runs as each box is on screen.
class BoxRecorder
{
public:
    explicit BoxRecorder(void (*whileShown)() = nullptr);
    ~BoxRecorder();
    static std::vector<RecordedBox>& Boxes() { return boxes_; }

private:
    inline static std::vector<RecordedBox> boxes_;
};

// The program's log read back as line bodies decoded from the ANSI code page. Under Windows it is opened
// once per process in a folder of its own; natively a stand-in takes the lines (LogCaptureNative.cpp).
class LogCapture
{
public:
    // The lines written since the capture began, and since the last call.
    std::vector<std::wstring> lines() const { return since(start_); }
    std::vector<std::wstring> newLines()
    {
        std::vector<std::wstring> fresh = since(seen_);
        seen_ += fresh.size();
        return fresh;
    }

private:
    static std::vector<std::wstring> all();
    std::vector<std::wstring> since(std::size_t from) const
    {
        const std::vector<std::wstring> lines = all();
        return {lines.begin() + std::min(from, lines.size()), lines.end()};
    }
    std::size_t start_ = all().size(), seen_ = start_;
};
