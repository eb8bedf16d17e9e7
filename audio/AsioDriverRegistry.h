#pragma once
// The ASIO drivers installed on the machine, read once from the registry, and the
// instances made of them: one driver is never instantiated twice through here.

#include "audio/AsioDriver.h"

#include <windows.h>

#include <cstdint>

namespace Kelvane {

struct AsioDriverEntry
{
    int32_t number; // entries before it: the list index
    CLSID clsid;    // all zero when the registry text did not parse
    wchar_t dllPath[512];
    wchar_t name[128];    // at most 127 characters
    IAsioDriver* pDriver; // the instance made through openDriver, until releaseDriver
    AsioDriverEntry* pNext;
};

// Results of openDriver besides 0 and a failing HRESULT.
constexpr int32_t kAsioOpenNoPointer = -5001;
constexpr int32_t kAsioOpenInUse = -5002;
constexpr int32_t kAsioOpenNoEntry = -5003;

struct AsioDriverRegistry
{
    AsioDriverEntry* pHead = nullptr;
    int32_t count = 0;

    AsioDriverRegistry() = default;
    ~AsioDriverRegistry(); // releases every held driver
    AsioDriverRegistry(const AsioDriverRegistry&) = delete;
    AsioDriverRegistry& operator=(const AsioDriverRegistry&) = delete;

    // HKEY_LOCAL_MACHINE "software\asio" against HKEY_CLASSES_ROOT "clsid".
    void load();
    // Test seam: the same walk over keys the caller opened (roots of the test's own).
    void loadForTesting(HKEY asioKey, HKEY clsidKey) { walk(asioKey, clsidKey); }

    AsioDriverEntry* find(int32_t number) const;
    // 0 with the instance in *driver and kept by the entry; see the constants above,
    // or the HRESULT of CoCreateInstance.
    int32_t openDriver(int32_t number, IAsioDriver** driver);
    // Releases and forgets the entry's instance.
    void releaseDriver(int32_t number);

private:
    void walk(HKEY asioKey, HKEY clsidKey);
    void clear();
};

// The in-process server file of a class id text (any case, braces included) under
// clsidKey; the text is lowered in place. True only for an existing file that is not
// a folder.
bool findAsioDriverFile(HKEY clsidKey, wchar_t* classIdText, wchar_t* path, size_t pathChars);

} // namespace Kelvane
