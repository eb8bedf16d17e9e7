#include "audio/AsioDriverRegistry.h"

#include "audio/AsioRules.h"

#include <new>

namespace Kelvane {

namespace {

// Reads a text value into out (outChars characters) without trusting the stored
// value: a wrong type, a value without terminator or one larger than the buffer
// never runs past it. False leaves out empty.
bool readText(HKEY key, const wchar_t* valueName, wchar_t* out, size_t outChars, DWORD bufferBytes)
{
    BYTE data[1024];
    if (bufferBytes > sizeof data)
        bufferBytes = sizeof data;
    DWORD type = 0;
    DWORD size = bufferBytes;
    out[0] = 0;
    if (RegQueryValueExW(key, valueName, nullptr, &type, data, &size) != ERROR_SUCCESS)
        return false;
    if (size > bufferBytes)
        size = bufferBytes;
    return copyRegistryText(data, size, type, out, outChars);
}

bool sameLowered(const wchar_t* a, const wchar_t* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

} // namespace

bool findAsioDriverFile(HKEY clsidKey, wchar_t* classIdText, wchar_t* path, size_t pathChars)
{
    path[0] = 0;
    CharLowerBuffW(classIdText, static_cast<DWORD>(lstrlenW(classIdText)));
    bool found = false;
    wchar_t name[512];
    // The first equal name ends the search, whatever its contents.
    for (DWORD index = 0; RegEnumKeyW(clsidKey, index, name, 512) == ERROR_SUCCESS; ++index) {
        name[511] = 0;
        CharLowerBuffW(name, static_cast<DWORD>(lstrlenW(name)));
        if (!sameLowered(name, classIdText))
            continue;
        HKEY classKey = nullptr;
        if (RegOpenKeyExW(clsidKey, name, 0, KEY_READ, &classKey) == ERROR_SUCCESS) {
            HKEY serverKey = nullptr;
            if (RegOpenKeyExW(classKey, L"InprocServer32", 0, KEY_READ, &serverKey) == ERROR_SUCCESS) {
                if (readText(serverKey, nullptr, path, pathChars, 1024)) {
                    const DWORD attributes = GetFileAttributesW(path);
                    found = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
                }
                RegCloseKey(serverKey);
            }
            RegCloseKey(classKey);
        }
        break;
    }
    if (!found)
        path[0] = 0;
    return found;
}

AsioDriverRegistry::~AsioDriverRegistry() { clear(); }

void AsioDriverRegistry::clear()
{
    // From the last entry back to the first, as they were appended.
    while (pHead) {
        AsioDriverEntry** last = &pHead;
        while ((*last)->pNext)
            last = &(*last)->pNext;
        if ((*last)->pDriver)
            (*last)->pDriver->Release();
        delete *last;
        *last = nullptr;
    }
    count = 0;
}

void AsioDriverRegistry::load()
{
    HKEY asioKey = nullptr;
    if (RegOpenKeyW(HKEY_LOCAL_MACHINE, L"software\\asio", &asioKey) != ERROR_SUCCESS) {
        clear();
        return;
    }
    HKEY clsidKey = nullptr;
    if (RegOpenKeyW(HKEY_CLASSES_ROOT, L"clsid", &clsidKey) != ERROR_SUCCESS)
        clsidKey = nullptr;
    walk(asioKey, clsidKey);
    if (clsidKey)
        RegCloseKey(clsidKey);
    RegCloseKey(asioKey);
}

void AsioDriverRegistry::walk(HKEY asioKey, HKEY clsidKey)
{
    clear();
    AsioDriverEntry** tail = &pHead;
    wchar_t keyName[128];
    for (DWORD index = 0; RegEnumKeyW(asioKey, index, keyName, 128) == ERROR_SUCCESS; ++index) {
        keyName[127] = 0;
        HKEY driverKey = nullptr;
        if (RegOpenKeyExW(asioKey, keyName, 0, KEY_READ, &driverKey) != ERROR_SUCCESS)
            continue;
        wchar_t classId[256];
        wchar_t path[512];
        if (!readText(driverKey, L"clsid", classId, 256, 512) || !clsidKey ||
            !findAsioDriverFile(clsidKey, classId, path, 512)) {
            RegCloseKey(driverKey);
            continue;
        }
        auto* entry = new (std::nothrow) AsioDriverEntry{};
        if (!entry) {
            RegCloseKey(driverKey);
            break;
        }
        entry->number = count;
        CLSID parsed;
        if (CLSIDFromString(classId, &parsed) == NOERROR)
            entry->clsid = parsed;
        // A description too long for the field is cut at 127 characters.
        if (!readText(driverKey, L"description", entry->name, 128, 512))
            lstrcpynW(entry->name, keyName, 128);
        lstrcpynW(entry->dllPath, path, 512);
        RegCloseKey(driverKey);
        *tail = entry;
        tail = &entry->pNext;
        ++count;
    }
}

AsioDriverEntry* AsioDriverRegistry::find(int32_t number) const
{
    for (AsioDriverEntry* e = pHead; e; e = e->pNext)
        if (e->number == number)
            return e;
    return nullptr;
}

int32_t AsioDriverRegistry::openDriver(int32_t number, IAsioDriver** driver)
{
    if (!driver)
        return kAsioOpenNoPointer;
    AsioDriverEntry* entry = find(number);
    if (!entry)
        return kAsioOpenNoEntry;
    if (entry->pDriver)
        return kAsioOpenInUse;
    IAsioDriver* instance = nullptr;
    // Every ASIO driver answers its own class id as the interface id.
    const HRESULT hr = CoCreateInstance(entry->clsid, nullptr, CLSCTX_INPROC_SERVER, entry->clsid,
                                        reinterpret_cast<void**>(&instance));
    if (FAILED(hr))
        return static_cast<int32_t>(hr);
    if (!instance)
        return static_cast<int32_t>(E_POINTER);
    entry->pDriver = instance;
    *driver = instance;
    return 0;
}

void AsioDriverRegistry::releaseDriver(int32_t number)
{
    if (AsioDriverEntry* entry = find(number)) {
        if (entry->pDriver) {
            entry->pDriver->Release();
            entry->pDriver = nullptr;
        }
    }
}

} // namespace Kelvane
