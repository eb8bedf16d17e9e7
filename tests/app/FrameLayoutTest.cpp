#include "app/FrameLayout.h"

#include <gtest/gtest.h>

using namespace PomaroApp;

TEST(FrameLayout, StripIsCentredAndCutOnBothSidesWhenTheClientIsNarrower)
{
    EXPECT_EQ(keyboardStripX(591), 0);
    EXPECT_EQ(keyboardStripX(1000), 204);
    EXPECT_EQ(keyboardStripX(500), -45); // -91 / 2 truncates toward zero
    EXPECT_EQ(keyboardStripX(0), -295);
    EXPECT_EQ(keyboardStripY(230), 200);
}

TEST(FrameLayout, DragRectangleIsRewrittenAroundTheAcceptedEditorSize)
{
    const int32_t ncWidth = 8, ncHeight = 50;
    FrameRect drag{100, 200, 100 + 8 + 300, 200 + 50 + 30 + 150};
    const FrameRect editor = editorRectForDrag(drag, ncWidth, ncHeight);
    EXPECT_EQ(editor.left, 0);
    EXPECT_EQ(editor.top, 0);
    EXPECT_EQ(editor.width(), 300);
    EXPECT_EQ(editor.height(), 150);

    // A constraint that answers with an offset rectangle still counts by its size.
    fitDragToEditor(drag, FrameRect{10, 10, 410, 210}, ncWidth, ncHeight);
    EXPECT_EQ(drag.left, 100);
    EXPECT_EQ(drag.top, 200);
    EXPECT_EQ(drag.width(), 400 + ncWidth);
    EXPECT_EQ(drag.height(), 200 + ncHeight + 30);
}
