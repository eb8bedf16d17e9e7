// strippost <msg> <wparam> <lparam>: posts a message to the keyboard strip of the
// running program's frame, as the host's MIDI path does (end-to-end tests).
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    HWND frame = FindWindowW(L"HostWindow", nullptr);
    HWND strip = frame ? FindWindowExW(frame, nullptr, L"KeyboardWindow", nullptr) : nullptr;
    if (!strip)
        return 1;
    return !PostMessageW(strip, static_cast<UINT>(wcstoul(argv[1], nullptr, 0)),
                         static_cast<WPARAM>(wcstoull(argv[2], nullptr, 0)),
                         static_cast<LPARAM>(wcstoll(argv[3], nullptr, 0)));
}
