#include "app/FrameLayout.h"

#include <gtest/gtest.h>

#include <vector>

using namespace PomaroApp;

TEST(FrameLayout, StripIsCentredAndCutOnBothSidesAndTheDragIsRewrittenAroundTheEditor)
{
    EXPECT_EQ(keyboardStripX(1000), 204);
    EXPECT_EQ(keyboardStripX(500), -45); // -91 / 2 truncates toward zero
    EXPECT_EQ(keyboardStripY(230), 200);

    const int32_t ncWidth = 8, ncHeight = 50;
    FrameRect drag{100, 200, 100 + 8 + 300, 200 + 50 + 30 + 150};
    const FrameRect editor = editorRectForDrag(drag, ncWidth, ncHeight);
    EXPECT_EQ(std::vector<int32_t>({editor.left, editor.top, editor.width(), editor.height()}),
              std::vector<int32_t>({0, 0, 300, 150}));
    // A constraint that answers with an offset rectangle still counts by its size.
    fitDragToEditor(drag, FrameRect{10, 10, 410, 210}, ncWidth, ncHeight);
    EXPECT_EQ(std::vector<int32_t>({drag.left, drag.top, drag.width(), drag.height()}),
              std::vector<int32_t>({100, 200, 400 + ncWidth, 200 + ncHeight + 30}));
}
