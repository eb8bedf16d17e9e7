#pragma once
// State of the modal audio driver settings dialog (dialog resource 104): driver type,
// device and buffer size, applied while the program plays.

#include <windows.h>

#include <cstdint>

namespace PomaroApp {

class CHost;

class CAudioDriverDialog
{
public:
    // The dialog procedure; lParam of WM_INITDIALOG is the address of this state.
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

    // Fills the controls from the host's current device; at the opening and after Apply.
    void init(HWND hDlg);
    // Lists the devices of one type (1 Windows, 2 ASIO); combo index = list index.
    void fillDriverList(int32_t type);
    // OK and Apply are enabled together; Cancel always stays usable.
    void setModified(bool on);
    // Takes the selection over and restarts audio output with it.
    void apply();
    // The trackbar's thumb was dragged to position.
    void onBufferSizeTrack(int32_t position);

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
    int32_t granularity = 1;    // frames per trackbar step; negative: powers of two
    int32_t selectedFrames = 0; // 0: nothing dragged since the last refresh
    BOOL modified = FALSE;
    int32_t listedType = 0; // the type whose devices the combo box holds; 0 = none
};

} // namespace PomaroApp
