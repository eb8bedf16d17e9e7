#include "testdrivers/common/ConfigFile.h"

namespace PomaroTestDrivers {

std::wstring configPath(const wchar_t* env, HKEY root, const wchar_t* key, const wchar_t* value)
{
    wchar_t path[1024];
    const DWORD n = env ? GetEnvironmentVariableW(env, path, 1024) : 0;
    if (n > 0 && n < 1024)
        return std::wstring(path, n);
    DWORD bytes = sizeof path;
    const bool found = RegGetValueW(root, key, value, RRF_RT_REG_SZ, nullptr, path, &bytes) == ERROR_SUCCESS;
    return found ? std::wstring(path) : std::wstring();
}

bool readTextFile(const std::wstring& path, std::string& text)
{
    // Shared for deletion: a test may replace the file while a driver reads it.
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    const bool sized = GetFileSizeEx(f, &size) && size.QuadPart < (1 << 24);
    text.assign(sized ? size_t(size.QuadPart) : 0, '\0');
    DWORD got = 0;
    const bool read = sized && (text.empty() || ReadFile(f, &text[0], DWORD(text.size()), &got, nullptr));
    text.resize(got);
    CloseHandle(f);
    return read;
}

std::wstring widen(const std::string& utf8)
{
    std::wstring w(utf8.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &w[0], int(w.size()));
    w.resize(n > 0 ? size_t(n) : 0);
    return w;
}

} // namespace PomaroTestDrivers
