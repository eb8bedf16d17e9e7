#include "app/AppFolders.h"

#include <knownfolders.h>
#include <shlwapi.h>

#include <cwchar>

namespace PomaroApp {

wchar_t documentsFolder[MAX_PATH] = {};
wchar_t tuningFolder[MAX_PATH] = {};
bool foldersReady = false;

bool PrepareAppFolders()
{
    if (foldersReady)
        return true;
    const bool documents = GetKnownSubFolder(documentsFolder, FOLDERID_Documents, L"Pomaro", nullptr);
    const bool tuning = GetKnownSubFolder(tuningFolder, FOLDERID_ProgramData, L"Kelvane\\Pomaro", L"Tuning");
    foldersReady = documents && tuning;
    return foldersReady;
}

bool GetKnownSubFolder(wchar_t* destination, REFKNOWNFOLDERID id, const wchar_t* subPath, const wchar_t* leaf)
{
    if (!destination || !subPath)
        return false;
    wchar_t buffer[MAX_PATH] = {};
    PWSTR known = nullptr;
    bool combined = false;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &known)))
        combined = PathCombineW(buffer, known, subPath) != nullptr;
    if (known)
        CoTaskMemFree(known); // the shell hands out its string even on some failures
    if (!combined)
        return false;
    if (leaf && !PathAppendW(buffer, leaf))
        return false;
    if (!PathAddBackslashW(buffer))
        return false;
    if (wcscpy_s(destination, MAX_PATH, buffer) != 0)
        return false;
    return CreateDirectoryTree(buffer);
}

bool CreateDirectoryTree(const wchar_t* path)
{
    if (!path)
        return false;
    wchar_t folder[MAX_PATH];
    if (wcscpy_s(folder, MAX_PATH, path) != 0)
        return false;
    PathRemoveBackslashW(folder);
    if (PathIsDirectoryW(folder))
        return true;
    wchar_t parent[MAX_PATH];
    if (wcscpy_s(parent, MAX_PATH, folder) != 0 || !PathRemoveFileSpecW(parent))
        return false;
    if (!PathFileExistsW(parent) && !CreateDirectoryTree(parent))
        return false;
    return CreateDirectoryW(folder, nullptr) != FALSE;
}

} // namespace PomaroApp
