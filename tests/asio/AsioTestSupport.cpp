#include "tests/asio/AsioTestSupport.h"
#include "tests/diag/DiagTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

std::wstring testDriverPath() { return BesideExe(L"PomaroTestAsio.dll"); }

ScratchRegistry::ScratchRegistry()
{
    static std::atomic<int> serial{0};
    root_ = L"Software\\PomaroAsioTest\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(serial.fetch_add(1));
    RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\asio").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &asio_, nullptr);
    RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\clsid").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &clsid_, nullptr);
}

ScratchRegistry::~ScratchRegistry()
{
    RegCloseKey(asio_);
    RegCloseKey(clsid_);
    RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
}

HKEY ScratchRegistry::addDriver(const wchar_t* keyName, const wchar_t* clsid, const wchar_t* description)
{
    HKEY key = nullptr;
    RegCreateKeyExW(asio_, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (clsid)
        setRaw(key, L"clsid", REG_SZ, clsid, DWORD((lstrlenW(clsid) + 1) * sizeof(wchar_t)));
    if (description)
        setRaw(key, L"description", REG_SZ, description,
               DWORD((lstrlenW(description) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    RegOpenKeyExW(asio_, keyName, 0, KEY_ALL_ACCESS, &key);
    return key; // the caller adds values and closes it
}

void ScratchRegistry::addClass(const wchar_t* classKeyName, const wchar_t* serverPath)
{
    HKEY key = nullptr;
    RegCreateKeyExW(clsid_, classKeyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (serverPath) {
        HKEY server = nullptr;
        RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &server, nullptr);
        setRaw(server, nullptr, REG_SZ, serverPath, DWORD((lstrlenW(serverPath) + 1) * sizeof(wchar_t)));
        RegCloseKey(server);
    }
    RegCloseKey(key);
}

void ScratchRegistry::setRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes)
{
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
}

void ScratchRegistry::load(Kelvane::AsioDriverRegistry& registry) { registry.loadForTesting(asio_, clsid_); }

void registerTestDriverClass()
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\" POMARO_TEST_ASIO_CLSID_TEXT L"\\InprocServer32",
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring path = testDriverPath();
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   DWORD((path.size() + 1) * sizeof(wchar_t)));
    static const wchar_t model[] = L"Apartment";
    RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model);
    RegCloseKey(key);
}

TestDriverHooks::TestDriverHooks()
{
    // The same path COM loads, so the hooks reach the instance COM made.
    module = LoadLibraryW(testDriverPath().c_str());
    auto get = [this](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
    configureFn = reinterpret_cast<PomaroTestAsioConfigureFn>(get("PomaroTestAsioConfigure"));
    statsFn = reinterpret_cast<PomaroTestAsioStatsFn>(get("PomaroTestAsioStats"));
    resetFn = reinterpret_cast<PomaroTestAsioResetFn>(get("PomaroTestAsioReset"));
    callLogFn = reinterpret_cast<PomaroTestAsioCallLogFn>(get("PomaroTestAsioCallLog"));
}

std::string TestDriverHooks::calls() const
{
    char text[4096];
    callLogFn(text, sizeof text);
    return text;
}
