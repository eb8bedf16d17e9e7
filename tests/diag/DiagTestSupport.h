#pragma once
// Helpers of the tests that read the program's log: a private folder for log files, the
// bytes and lines of a file, the log's lines as a test sees them, and a recorder that
// stands in for MessageBoxW.
#include <cstddef>
#include <string>
#include <vector>

class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path_; } // with trailing backslash
    std::wstring File(const std::wstring& name) const { return path_ + name; }
    std::vector<std::wstring> FileNames() const;

private:
    std::wstring path_;
};

// A file in the folder of the running test program (the test drivers lie there).
std::wstring BesideExe(const wchar_t* name);
std::string ReadBytes(const std::wstring& path);
// The log file's lines without their time stamps and CR LF; a line without a stamp comes
// back as "<no stamp>...", a last piece without CR LF as "<unterminated>...".
std::vector<std::string> LogBodies(const std::wstring& path);
std::string Narrow(const std::wstring& ascii);

struct RecordedBox
{
    bool ownerNull;
    std::wstring text;
    bool captionNull;
    std::wstring caption;
    unsigned style;
};

// Replaces the log's message box while alive; every box lands in Boxes().
class BoxRecorder
{
public:
    using Hook = void (*)();
    explicit BoxRecorder(Hook whileShown = nullptr);
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;
    static std::vector<RecordedBox>& Boxes();
};

// The program's log as a test reads it back: line bodies without their time stamps,
// decoded from the ANSI code page they are written in. Under Windows the log is opened
// once per process in a folder of its own, as the program never closes it; natively an
// in-memory stand-in takes the lines (LogCaptureNative.cpp).
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The lines written since the capture began, oldest first.
    std::vector<std::wstring> lines() const;
    // The lines written since the last call.
    std::vector<std::wstring> newLines();

private:
    std::size_t start_ = 0;
    std::size_t seen_ = 0;
};
