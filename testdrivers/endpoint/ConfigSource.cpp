#include "testdrivers/endpoint/ConfigSource.h"

#include "testdrivers/endpoint/TestEndpointApi.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace PomaroTestEndpoint {

namespace {

std::wstring configPath()
{
    wchar_t buf[MAX_PATH * 2];
    DWORD n =
        GetEnvironmentVariableW(POMARO_TEST_ENDPOINT_CONFIG_ENV, buf, DWORD(sizeof buf / sizeof buf[0]));
    if (n > 0 && n < sizeof buf / sizeof buf[0])
        return std::wstring(buf, n);
    DWORD bytes = sizeof buf;
    if (RegGetValueW(HKEY_CURRENT_USER, POMARO_TEST_ENDPOINT_KEY, L"Config", RRF_RT_REG_SZ, nullptr, buf,
                     &bytes) == ERROR_SUCCESS)
        return std::wstring(buf);
    return std::wstring();
}

std::string narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

} // namespace

bool loadEndpointConfig(EndpointConfig& out, std::string& error)
{
    std::wstring path = configPath();
    if (path.empty()) {
        out = defaultEndpointConfig();
        return true;
    }
    std::FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) {
        error = "cannot read " + narrow(path);
        return false;
    }
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    std::fclose(f);
    if (!parseEndpointConfig(text, out, error)) {
        error = narrow(path) + ": " + error;
        return false;
    }
    return true;
}

} // namespace PomaroTestEndpoint
