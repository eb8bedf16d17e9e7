#pragma once
// The two application folders: the user's (log) and the shared data folder.

#include <windows.h>
#include <shlobj.h>

namespace PomaroApp {

// Documents\Pomaro\ with a trailing backslash; the debug log lives here.
extern wchar_t documentsFolder[MAX_PATH];
// ProgramData\Kelvane\Pomaro\Tuning\ with a trailing backslash.
extern wchar_t tuningFolder[MAX_PATH];
// True once both folders exist.
extern bool foldersReady;

// Creates both folders (each is tried even when the other fails); true when both exist.
bool PrepareAppFolders();

// destination (MAX_PATH characters) receives known folder + subPath [+ leaf] + '\', which
// is then created with its parents. leaf may be null.
bool GetKnownSubFolder(wchar_t* destination, REFKNOWNFOLDERID id, const wchar_t* subPath,
                       const wchar_t* leaf);

// Creates the folder and every missing parent; true when it exists afterwards.
bool CreateDirectoryTree(const wchar_t* path);

} // namespace PomaroApp
