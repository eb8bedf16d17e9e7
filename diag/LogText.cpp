#include "diag/LogText.h"

#include <cstdarg>
#include <cwchar>

namespace PomaroApp {

namespace LogText {

bool format(wchar_t* out, std::size_t size, const wchar_t* format, ...) noexcept
{
    if (!out || size == 0)
        return false;
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(out, size, format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) >= size) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool formatStamp(wchar_t (&out)[16], int hour, int minute, int second, int milliseconds) noexcept
{
    return format(out, 16, L"%02d:%02d:%02d.%03d ", hour, minute, second, milliseconds);
}

bool formatLogFileName(wchar_t* out, std::size_t size, int counter) noexcept
{
    if (counter <= 1)
        return format(out, size, L"%ls%ls", L"PomaroApp", L".log");
    return format(out, size, L"%ls(%d)%ls", L"PomaroApp", counter, L".log");
}

std::size_t trimmedMessageLength(const wchar_t* text, std::size_t n) noexcept
{
    if (text && n >= 2 && text[n - 2] == L'\r')
        return n - 2;
    return n;
}

const wchar_t* architectureName(unsigned architecture) noexcept
{
    switch (architecture) {
    case 0:
        return L"x86";
    case 6:
        return L"IA64";
    case 9:
        return L"x64";
    default:
        return L"UNKNOWN";
    }
}

const ProcessorFeature kProcessorFeatures[kProcessorFeatureCount] = {
    {3, L" MMX"},    {6, L" SSE"}, {10, L" SSE2"}, {13, L" SSE3"},
    {7, L" 3DNow!"}, {9, L" PAE"}, {8, L" RDTSC"}, {1, L" FLOATING_POINT_EMULATED"},
};

} // namespace LogText

} // namespace PomaroApp
