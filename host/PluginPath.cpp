#include "host/PluginPath.h"

#include <windows.h>

namespace PomaroApp {

std::wstring pluginModulePath()
{
    // Long paths included: grow until the whole file name fits.
    std::wstring exe(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &exe[0], static_cast<DWORD>(exe.size()));
        if (n == 0)
            return std::wstring();
        if (n < exe.size()) {
            exe.resize(n);
            break;
        }
        if (exe.size() >= 32768)
            return std::wstring();
        exe.resize(exe.size() * 2);
    }
    const size_t slash = exe.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return std::wstring();
    return exe.substr(0, slash + 1) + kPluginRelativePath;
}

} // namespace PomaroApp
