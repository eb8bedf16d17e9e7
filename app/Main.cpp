// The program's entry point.

#include "app/AppGlobals.h"
#include "app/RunApplication.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    g_hInstance = instance;

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    // List view, tree view, bars (the settings dialog's trackbar), tab, up-down,
    // progress, hot key and animation classes.
    controls.dwICC = 0xFF;
    InitCommonControlsEx(&controls);

    // The user-interface thread is a single-threaded apartment.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    const int exitCode = PomaroApp::RunGuardedApplication();

    if (exitCode == PomaroApp::kExitFatalError)
        PomaroApp::endAfterFatalReport();
    CoUninitialize();
    return exitCode;
}
