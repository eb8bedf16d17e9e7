#pragma once
// Helpers of the Windows diagnostics tests: a private folder for log files, the
// bytes and lines of a file, and a recorder that stands in for MessageBoxW.
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

bool FileExists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
// Lines without their CR LF; a last piece without CR LF is returned as "<unterminated>...".
std::vector<std::string> ReadLines(const std::wstring& path);
// The part of a line after its 13-character time stamp.
std::string Body(const std::string& line);
bool HasStamp(const std::string& line);
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
