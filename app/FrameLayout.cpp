#include "app/FrameLayout.h"

namespace PomaroApp {

FrameRect editorRectForDrag(const FrameRect& drag, int32_t ncWidth, int32_t ncHeight)
{
    return FrameRect{0, 0, drag.width() - ncWidth, drag.height() - ncHeight - kKeyboardStripHeight};
}

void fitDragToEditor(FrameRect& drag, const FrameRect& editor, int32_t ncWidth, int32_t ncHeight)
{
    drag.right = drag.left + editor.width() + ncWidth;
    drag.bottom = drag.top + editor.height() + ncHeight + kKeyboardStripHeight;
}

} // namespace PomaroApp
