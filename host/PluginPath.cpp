#include "host/PluginPath.h"

#include <windows.h>

namespace PomaroApp {

std::wstring g_pluginBaseFolder;

std::wstring pluginModulePath()
{
    std::wstring folder = g_pluginBaseFolder;
    if (folder.empty()) {
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
        folder = exe.substr(0, slash);
    }
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    return folder + kPluginRelativePath;
}

} // namespace PomaroApp
