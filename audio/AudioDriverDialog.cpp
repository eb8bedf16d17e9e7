#include "audio/AudioDriverDialog.h"

#include "app/Host.h"
#include "audio/AsioAudioDeviceList.h"
#include "audio/BufferSizeSlider.h"
#include "audio/WasapiAudioDeviceList.h"
#include "diag/DebugLog.h"
#include "res/resource.h"

#include <commctrl.h>

#include <string>

namespace PomaroApp {

namespace {

CAudioDriverDialog* stateOf(HWND hDlg)
{
    return reinterpret_cast<CAudioDriverDialog*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA));
}

Kelvane::CAudioDeviceList* listOf(CHost* host, int32_t type)
{
    if (!host)
        return nullptr;
    if (type == Kelvane::DriverWasapi)
        return host->pWasapiList;
    if (type == Kelvane::DriverAsio)
        return host->pAsioList;
    return nullptr;
}

void setNumber(HWND control, int32_t value) { SetWindowTextW(control, std::to_wstring(value).c_str()); }

} // namespace

INT_PTR CALLBACK CAudioDriverDialog::DialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(hDlg, GWLP_USERDATA, lParam);
        if (CAudioDriverDialog* state = stateOf(hDlg))
            state->init(hDlg);
        return TRUE;

    case WM_COMMAND: {
        CAudioDriverDialog* state = stateOf(hDlg);
        const WORD id = LOWORD(wParam);
        const WORD code = HIWORD(wParam);
        if (code == CBN_SELCHANGE && id == IDC_DRIVER_COMBO) {
            if (state)
                state->setModified(true);
            return TRUE;
        }
        if (code != 0)
            return FALSE;
        switch (id) {
        case IDOK:
            if (state)
                state->apply();
            EndDialog(hDlg, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(hDlg, IDCANCEL);
            return TRUE;
        case IDC_RADIO_WASAPI:
        case IDC_RADIO_ASIO: {
            // A click on the type already listed changes nothing, the buttons included.
            const int32_t type = id == IDC_RADIO_WASAPI ? Kelvane::DriverWasapi : Kelvane::DriverAsio;
            if (state && state->listedType != type) {
                state->fillDriverList(type);
                state->setModified(true);
            }
            return TRUE;
        }
        case IDC_CONTROL_PANEL:
            if (state && state->host && state->host->pDevice) {
                // The panel's modal loop must not restart the device under the panel.
                AudioBusyScope busy(*state->host);
                state->host->pDevice->showControlPanel();
            }
            return TRUE;
        case IDC_APPLY:
            if (state) {
                state->apply();
                state->init(hDlg);
            }
            return TRUE;
        default:
            return FALSE;
        }
    }

    case WM_HSCROLL: {
        CAudioDriverDialog* state = stateOf(hDlg);
        if (!state)
            return TRUE;
        // Only a drag picks a size; keys and clicks on the channel move the thumb alone.
        const WORD request = LOWORD(wParam);
        if (request != TB_THUMBPOSITION && request != TB_THUMBTRACK)
            return TRUE;
        HWND from = reinterpret_cast<HWND>(lParam);
        if (!from || from != state->bufferSizeTrackbar)
            return FALSE;
        int32_t position = HIWORD(wParam);
        // The message carries 16 bits; a longer trackbar knows its own position.
        if (SendMessageW(from, TBM_GETRANGEMAX, 0, 0) > 0xFFFF)
            position = static_cast<int32_t>(SendMessageW(from, TBM_GETPOS, 0, 0));
        state->onBufferSizeTrack(position);
        return TRUE;
    }

    default:
        return FALSE;
    }
}

void CAudioDriverDialog::init(HWND hDlg)
{
    listedType = 0;
    radioWasapi = GetDlgItem(hDlg, IDC_RADIO_WASAPI);
    radioAsio = GetDlgItem(hDlg, IDC_RADIO_ASIO);
    driverCombo = GetDlgItem(hDlg, IDC_DRIVER_COMBO);
    currentText = GetDlgItem(hDlg, IDC_CURRENT_DRIVER);
    bufferSizeText = GetDlgItem(hDlg, IDC_BUFFER_SIZE_TEXT);
    bufferSizeTrackbar = GetDlgItem(hDlg, IDC_BUFFER_SIZE_TRACKBAR);
    panelButton = GetDlgItem(hDlg, IDC_CONTROL_PANEL);
    okButton = GetDlgItem(hDlg, IDOK);
    cancelButton = GetDlgItem(hDlg, IDCANCEL);
    applyButton = GetDlgItem(hDlg, IDC_APPLY);

    minFrames = 0;
    maxFrames = 1;
    selectedFrames = 0;
    granularity = 1;

    // Through "on" first, so that a fresh dialog's buttons follow the state whatever
    // the previous opening left in it.
    setModified(true);
    EnableWindow(panelButton, FALSE);

    Kelvane::CAudioDevice* device = host ? host->pDevice : nullptr;
    if (device) {
        const int32_t type = device->getDriverType();
        if (type == Kelvane::DriverWasapi || type == Kelvane::DriverAsio) {
            SendMessageW(type == Kelvane::DriverWasapi ? radioWasapi : radioAsio, BM_SETCHECK, BST_CHECKED,
                         0);
            fillDriverList(type);
            SetWindowTextW(currentText, Kelvane::currentDriverText(type, device->getName()).c_str());
        }
    }

    if (listedType == 0) {
        SetWindowTextW(currentText, Kelvane::currentDriverText(0, nullptr).c_str());
        SetWindowTextW(bufferSizeText, L"0");
    } else {
        setNumber(bufferSizeText, host->blockSize);
        int32_t lo = 0, hi = 0, step = 0;
        if (device->getBufferSizeRange(device->getSampleRate(), &lo, &hi, nullptr, &step)) {
            minFrames = lo;
            maxFrames = hi;
            granularity = Kelvane::bufferSizeStep(lo, hi, step);
            const int32_t last = Kelvane::bufferSizeLastPosition(lo, hi, granularity);
            // The 32-bit range messages: a fine-grained driver may need more than 16 bits.
            SendMessageW(bufferSizeTrackbar, TBM_SETRANGEMIN, FALSE, 0);
            SendMessageW(bufferSizeTrackbar, TBM_SETRANGEMAX, TRUE, last);
            SendMessageW(bufferSizeTrackbar, TBM_SETPOS, TRUE,
                         Kelvane::bufferSizePosition(host->blockSize, lo, hi, granularity));
            selectedFrames = 0;
        }
        if (device->hasControlPanel())
            EnableWindow(panelButton, TRUE);
    }

    setModified(false);
}

void CAudioDriverDialog::fillDriverList(int32_t type)
{
    Kelvane::CAudioDeviceList* list = listOf(host, type);
    if (!list)
        return;
    listedType = type;
    SendMessageW(driverCombo, CB_RESETCONTENT, 0, 0);
    const int32_t count = list->getCount();
    for (int32_t i = 0; i < count; ++i) {
        const wchar_t* name = list->getName(i);
        SendMessageW(driverCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name ? name : L""));
    }
    Kelvane::CAudioDevice* device = host->pDevice;
    const int32_t selection = device && device->getDriverType() == type ? device->getIndex() : 0;
    SendMessageW(driverCombo, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

void CAudioDriverDialog::setModified(bool on)
{
    if ((modified != FALSE) == on)
        return;
    modified = on ? TRUE : FALSE;
    EnableWindow(okButton, on);
    EnableWindow(applyButton, on);
}

void CAudioDriverDialog::onBufferSizeTrack(int32_t position)
{
    selectedFrames = Kelvane::bufferSizeAt(position, minFrames, maxFrames, granularity);
    setNumber(bufferSizeText, selectedFrames);
    setModified(true);
}

void CAudioDriverDialog::apply()
{
    const LRESULT sel = SendMessageW(driverCombo, CB_GETCURSEL, 0, 0);
    if (sel < 0 || !host)
        return;
    setModified(false);

    // A size dragged while there was no device came from a trackbar that stood for none.
    Kelvane::CAudioDevice* device = host->pDevice;
    if (selectedFrames > 0 && device)
        host->requestedBufferSize = selectedFrames;

    Kelvane::DriverType type = Kelvane::DriverAuto;
    if (SendMessageW(radioWasapi, BM_GETCHECK, 0, 0) == BST_CHECKED)
        type = Kelvane::DriverWasapi;
    else if (SendMessageW(radioAsio, BM_GETCHECK, 0, 0) == BST_CHECKED)
        type = Kelvane::DriverAsio;
    // The name belongs to the list, which lives as long as the host.
    Kelvane::CAudioDeviceList* list = listOf(host, type);
    const wchar_t* name = list ? list->getName(static_cast<int32_t>(sel)) : nullptr;

    // A size belongs to the device it was picked for: another device starts from its own
    // preferred size.
    if (device && (device->getDriverType() != type || device->getIndex() != sel))
        host->requestedBufferSize = 0;

    if (type == Kelvane::DriverAuto)
        return;
    host->restartRequests.userChoseDevice();
    DebugLog::WriteLine(L"オーディオドライバを変更します。");
    host->reopenAudioDevice(type, name);
}

} // namespace PomaroApp
