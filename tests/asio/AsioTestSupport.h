#pragma once
// Shared pieces of the ASIO tests under Wine: registry keys of their own and the test
// driver's hooks.

#include "audio/AsioDriverRegistry.h"
#include "audio/AudioDevice.h"
#include "testdrivers/asio/TestAsioApi.h"
#include "tests/wasapi/FakeProvider.h"

#include <windows.h>

#include <atomic>
#include <string>

std::wstring testDriverPath();

// A registry tree under HKEY_CURRENT_USER with "asio" and "clsid" keys that play the
// parts of the machine's driver list and class keys; removed at the end.
class ScratchRegistry
{
public:
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    // A driver key; a null clsid or description leaves that value out.
    HKEY addDriver(const wchar_t* keyName, const wchar_t* clsid, const wchar_t* description);
    // A class key whose InprocServer32 default value is serverPath (null: no such key).
    void addClass(const wchar_t* classKeyName, const wchar_t* serverPath);
    // Any value as raw bytes, of any type.
    static void setRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes);

    void load(Kelvane::AsioDriverRegistry& registry);
    HKEY clsidKey() const { return clsid_; }

private:
    std::wstring root_;
    HKEY asio_ = nullptr;
    HKEY clsid_ = nullptr;
};

// Makes the test driver's class known to COM (the machine's class key).
void registerTestDriverClass();

struct TestDriverHooks
{
    TestDriverHooks();
    void configure(const char* text) const { configureFn(text); }
    PomaroTestAsioStats stats() const
    {
        PomaroTestAsioStats s{};
        statsFn(&s);
        return s;
    }
    void reset() const { resetFn(); }
    std::string calls() const;

    HMODULE module = nullptr;
    PomaroTestAsioConfigureFn configureFn = nullptr;
    PomaroTestAsioStatsFn statsFn = nullptr;
    PomaroTestAsioResetFn resetFn = nullptr;
    PomaroTestAsioCallLogFn callLogFn = nullptr;
};

// Waits up to timeoutMs for predicate; true when it held.
template <typename F> bool waitFor(F predicate, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!predicate()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(2);
    }
    return true;
}
