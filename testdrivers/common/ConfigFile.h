#pragma once
// Where the test drivers find their configuration and how they read it: a path from an
// environment variable or a registry value, the file's bytes, UTF-8 to UTF-16.

#include <windows.h>

#include <string>

namespace PomaroTestDrivers {

// The environment variable env if set (null: none), else the REG_SZ value of key under
// root; empty when neither names a file.
std::wstring configPath(const wchar_t* env, HKEY root, const wchar_t* key, const wchar_t* value);
// The whole file; false when it cannot be opened.
bool readTextFile(const std::wstring& path, std::string& text);
std::wstring widen(const std::string& utf8);

} // namespace PomaroTestDrivers
