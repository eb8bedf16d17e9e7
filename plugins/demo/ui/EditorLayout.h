// Geometry of the editor: one row per adjustable parameter (name, slider,
// value) and the output meter beneath, stretched to the width the host gives.
// Pure arithmetic so it is tested without a window system.
#pragma once

#include <cstdint>

namespace PomaroDemo {

struct Rect
{
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
};

struct EditorSize
{
    int32_t width = 0, height = 0;
};

// The rows of the editor, top to bottom, and the parameter each one drives.
constexpr int kEditorRows = 6;
uint32_t editorRowParam(int row);
int editorRowOfParam(uint32_t id); // -1 when the parameter has no row

struct RowRects
{
    Rect label, slider, value;
};

struct EditorLayout
{
    Rect title;
    RowRects rows[kEditorRows];
    Rect meterLabel, meter, meterValue;
};

constexpr EditorSize kEditorDefault{520, 300};
constexpr EditorSize kEditorMin{360, 260};
constexpr EditorSize kEditorMax{1200, 600};

// Clamps a proposed size into the editor's limits; true when it had to change.
bool constrainEditorSize(EditorSize& size);

// Lays the controls out in a client area of the given size (clamped first).
EditorLayout layoutEditor(EditorSize size);

// Meter bar fill: the part of `meter` lit by a normalized level.
Rect meterFill(const Rect& meter, double normalized);

} // namespace PomaroDemo
