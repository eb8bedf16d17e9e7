#include "app/AppGlobals.h"

HINSTANCE g_hInstance = nullptr;
