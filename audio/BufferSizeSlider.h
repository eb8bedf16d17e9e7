#pragma once
// Arithmetic of the settings dialog's buffer-size trackbar: which sizes its positions
// stand for. Platform-free.
//
// A positive step is frames per position, position 0 being the smallest size. A negative
// step (an ASIO driver's granularity of -1) means the driver takes powers of two only:
// position i is then the i-th power of two at or above the smallest size, so the
// trackbar offers exactly those, never a size the driver would have to round.

#include <cstdint>
#include <string>

namespace Kelvane {

// The step the trackbar uses for a device's granularity. 0 (any size) gives an eighth of
// the range so that the trackbar has about eight positions, at least 1 frame; a positive
// or negative granularity is kept.
int32_t bufferSizeStep(int32_t minFrames, int32_t maxFrames, int32_t granularity);

// The trackbar's last position; positions run from 0. Never negative.
int32_t bufferSizeLastPosition(int32_t minFrames, int32_t maxFrames, int32_t step);

// The position showing a size. With a positive step it is (frames - min) / step, which
// may lie outside the range (the trackbar clamps it); with powers of two it is the
// largest power not above frames, or 0.
int32_t bufferSizePosition(int32_t frames, int32_t minFrames, int32_t maxFrames, int32_t step);

// The size a position stands for; a position outside 0..last counts as its nearest end.
int32_t bufferSizeAt(int32_t position, int32_t minFrames, int32_t maxFrames, int32_t step);

// The texts of the dialog's "current driver" line: "Windowsドライバ：name",
// "ASIOドライバ：name", and "（なし）" for any other type. At most 255 characters.
std::wstring currentDriverText(int32_t driverType, const wchar_t* name);

} // namespace Kelvane
