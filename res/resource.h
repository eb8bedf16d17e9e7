/* Resource and control ids of Pomaro.exe. Shared by the resource script and the C++
   code, so only plain #defines and comments belong here. */
#ifndef POMARO_RES_RESOURCE_H
#define POMARO_RES_RESOURCE_H

/* Images of the on-screen keyboard (resource type "PNG"). */
#define IDR_PNG_KEYS 101
#define IDR_PNG_KEY_LABELS 102

/* Frame window menu, settings dialog, application icon group. */
#define IDR_MAINMENU 103
#define IDD_AUDIODRIVER 104
#define IDI_POMARO 106

/* Menu commands. */
#define IDM_FILE_EXIT 40001
#define IDM_SETTINGS_AUDIODRIVER 40002

/* Controls of the audio driver dialog; OK and Cancel are the system's IDOK (1) and IDCANCEL (2). */
#define IDC_RADIO_WASAPI 1001
#define IDC_RADIO_ASIO 1002
#define IDC_DRIVER_COMBO 1004
#define IDC_CURRENT_DRIVER 1005
#define IDC_BUFFER_SIZE_TEXT 1007
#define IDC_BUFFER_SIZE_TRACKBAR 1008
#define IDC_CONTROL_PANEL 1009
#define IDC_APPLY 1010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif /* POMARO_RES_RESOURCE_H */
