#pragma once
// The program's one diagnostic channel: time-stamped lines in the ANSI code page,
// each on disk when its call returns. Every call does nothing while the log is not open.
#include <cstdint>

namespace PomaroApp {

class DebugLog
{
public:
    // Same shape as MessageBoxW; the owner is always null.
    using MessageBoxFunction = int (*)(void* owner, const wchar_t* text, const wchar_t* caption,
                                       unsigned style);

    // folder: the application folder with a trailing backslash. The file is
    // PomaroApp.log there, or PomaroApp(2).log .. PomaroApp(98).log when that name is
    // taken. A second call only logs that it was called again.
    static bool Open(const wchar_t* folder);
    static bool IsOpen();

    static void WriteLine(const wchar_t* text, bool showBox = false);
    static void WriteSeparator();
    static void Write(const wchar_t* section, const wchar_t* message, bool showBox);
    static void WriteError(const wchar_t* section, const wchar_t* message, std::uint32_t errorCode,
                           bool showBox);
    static void WriteErrorDetail(const wchar_t* section, const wchar_t* message, const wchar_t* detail,
                                 std::uint32_t errorCode);
    // Module file, version resource, build, system and processor; also reads the
    // product name used as the caption of every error box.
    static void WriteModuleInfo();

    // The product name from the version resource; null until WriteModuleInfo found it.
    static const wchar_t* Caption();

    // Shows an error box (no owner, OK button, error icon) with the caption.
    static void ShowErrorBox(const wchar_t* text);
    // Replaces the function that shows error boxes (MessageBoxW by default);
    // returns the previous one. Null restores the default.
    static MessageBoxFunction SetMessageBoxFunctionForTesting(MessageBoxFunction function);
};

} // namespace PomaroApp
