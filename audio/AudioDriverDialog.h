#pragma once
// State of the modal audio driver settings dialog (dialog resource 104).

#include <windows.h>

#include <cstdint>

namespace PomaroApp {

class CHost;

class CAudioDriverDialog
{
public:
    // The dialog procedure; lParam of WM_INITDIALOG is the address of this state.
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

    CHost* host = nullptr; // set by the menu handler before each opening
    HWND radioWasapi = nullptr;
    HWND radioAsio = nullptr;
    HWND driverCombo = nullptr;
    HWND currentText = nullptr;
    HWND bufferSizeText = nullptr;
    HWND bufferSizeTrackbar = nullptr;
    HWND panelButton = nullptr;
    HWND okButton = nullptr;
    HWND cancelButton = nullptr;
    HWND applyButton = nullptr;
    int32_t minFrames = 0;
    int32_t maxFrames = 1;
    int32_t granularity = 1;
    int32_t selectedFrames = 0;
    BOOL modified = FALSE;
    int32_t listedType = 0;
};

} // namespace PomaroApp
