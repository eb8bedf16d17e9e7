#pragma once
#include <windows.h>

// The program's module handle, saved first thing by the entry point; every window
// class, window, dialog, icon and resource is made with it.
extern HINSTANCE g_hInstance;
