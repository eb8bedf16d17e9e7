#pragma once
// Texts of the debug log that need no system call: stamps, file names, module
// information lines. Wide strings are formatted with "%ls", which means a wide
// string in every printf flavour we build with.
#include <cstddef>
#include <cstdint>

namespace PomaroApp {

namespace LogText {

constexpr std::size_t kStampLength = 13; // "hh:mm:ss.mmm "
constexpr int kLastFileCounter = 98;     // PomaroApp.log, then (2) .. (98)
constexpr std::size_t kSeparatorLength = 40;
constexpr std::size_t kInfoLineSize = 520;

// swprintf into out[size]; false when the text does not fit or cannot be formatted.
bool format(wchar_t* out, std::size_t size, const wchar_t* format, ...) noexcept;

bool formatStamp(wchar_t (&out)[16], int hour, int minute, int second, int milliseconds) noexcept;

// counter 1 is "PomaroApp.log", counter n > 1 "PomaroApp(n).log".
bool formatLogFileName(wchar_t* out, std::size_t size, int counter) noexcept;

// System message texts end in CR LF; the length without it (index n - 2 a CR cuts there).
std::size_t trimmedMessageLength(const wchar_t* text, std::size_t n) noexcept;

// Labels of the module information block: the colons of all but the processor
// architecture and feature lines stand in the 18th character of the body.
constexpr wchar_t kModuleFileNameFormat[] = L"Module file name : %ls";
constexpr wchar_t kModuleTypeFormat[] = L"Module type      : %dbit";
constexpr wchar_t kModuleFileTimeFormat[] = L"Module file time : %u/%02u/%02u %02u:%02u:%02u";
constexpr wchar_t kModuleNameFormat[] = L"Module name      : %ls";
constexpr wchar_t kModuleVersionFormat[] = L"Module version   : %u.%02u.%u.%04u";
constexpr wchar_t kBuildTypeLine[] = L"Build type       : Release";
constexpr wchar_t kOsVersionFormat[] = L"OS version       : %d.%d.%d %ls";
constexpr wchar_t kArchitectureFormat[] = L"Processor architecture : %ls";
constexpr wchar_t kProcessorInfoFormat[] = L"Processor info   : Processors=%d Level=%d Model=%d Stepping=%d";
constexpr wchar_t kFeaturesLead[] = L"Processor features :";
constexpr wchar_t kProductNameQueryFormat[] = L"\\StringFileInfo\\%04x%04x\\ProductName";

const wchar_t* architectureName(unsigned architecture) noexcept;

struct ProcessorFeature
{
    std::uint32_t id;    // IsProcessorFeaturePresent argument
    const wchar_t* text; // appended, with its leading blank, when present
};
constexpr std::size_t kProcessorFeatureCount = 8;
extern const ProcessorFeature kProcessorFeatures[kProcessorFeatureCount];

} // namespace LogText

} // namespace PomaroApp
