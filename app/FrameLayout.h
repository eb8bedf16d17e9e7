#pragma once
// Frame layout arithmetic: the keyboard strip under the editor and the sizes the frame
// takes around the editor. Platform-free so it is tested natively.

#include "input/KeyboardGeometry.h"

#include <cstdint>

namespace PomaroApp {

// The strip's size is the keyboard's own.
constexpr int32_t kKeyboardStripHeight = KeyboardGeometry::kStripHeight;
constexpr int32_t kKeyboardWidth = KeyboardGeometry::kStripWidth;

struct FrameRect
{
    int32_t left, top, right, bottom;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
};

// The strip is centred; a client narrower than the strip gives a negative x (signed
// division truncating toward zero), cutting the strip on both sides.
inline int32_t keyboardStripX(int32_t clientWidth) { return (clientWidth - kKeyboardWidth) / 2; }
inline int32_t keyboardStripY(int32_t clientHeight) { return clientHeight - kKeyboardStripHeight; }

// Editor size that a dragged outer window rectangle leaves, given the frame's
// non-client width and height (borders, caption, menu bar).
FrameRect editorRectForDrag(const FrameRect& drag, int32_t ncWidth, int32_t ncHeight);

// Rewrites the drag rectangle so that it holds the editor size the view accepted;
// the top-left corner stays where the user has it.
void fitDragToEditor(FrameRect& drag, const FrameRect& editor, int32_t ncWidth, int32_t ncHeight);

} // namespace PomaroApp
