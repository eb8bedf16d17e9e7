#pragma once
// Drives the real dialog resource 104 with the messages its controls send when used:
// button clicks, a drag of the trackbar's thumb, keys in the combo box.

#include <windows.h>

#include <string>

namespace PomaroTest {

std::wstring windowText(HWND hwnd);
void click(HWND button);
// Presses the thumb, moves it pixel by pixel until the trackbar shows position, lets go.
// False when no point of the channel gives that position.
bool dragThumbTo(HWND trackbar, int position);
// Moves the thumb to the channel's far right end and lets go there.
void dragThumbPastEnd(HWND trackbar);
void pressKey(HWND control, UINT vk);
int trackbarPos(HWND trackbar);
int trackbarMax(HWND trackbar);

} // namespace PomaroTest
