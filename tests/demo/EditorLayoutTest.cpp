#include <gtest/gtest.h>

#include <vector>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/ui/EditorLayout.h"

using namespace PomaroDemo;

namespace {

bool inside(const Rect& r, EditorSize s)
{
    return r.left >= 0 && r.top >= 0 && r.right <= s.width && r.bottom <= s.height && r.width() > 0 &&
           r.height() > 0;
}
bool overlap(const Rect& a, const Rect& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

} // namespace

TEST(EditorLayout, EveryAdjustableParameterHasOneRow)
{
    for (uint32_t id = 0; id < kNumParams; ++id) {
        const int row = editorRowOfParam(id);
        if (paramDesc(id).readOnly) {
            EXPECT_EQ(row, -1);
        } else {
            ASSERT_GE(row, 0) << id;
            EXPECT_EQ(editorRowParam(row), id);
        }
    }
}

TEST(EditorLayout, SizeConstraintClampsToLimits)
{
    EditorSize s{100, 2000};
    EXPECT_TRUE(constrainEditorSize(s));
    EXPECT_EQ(s.width, kEditorMin.width);
    EXPECT_EQ(s.height, kEditorMax.height);
    EditorSize ok = kEditorDefault;
    EXPECT_FALSE(constrainEditorSize(ok));
    EXPECT_EQ(ok.width, kEditorDefault.width);
    EditorSize zero{0, -5};
    constrainEditorSize(zero);
    EXPECT_EQ(zero.width, kEditorMin.width);
    EXPECT_EQ(zero.height, kEditorMin.height);
}

TEST(EditorLayout, ControlsFitWithoutOverlapAtEverySize)
{
    for (EditorSize s : {kEditorMin, kEditorDefault, kEditorMax, EditorSize{777, 333}}) {
        const EditorLayout l = layoutEditor(s);
        std::vector<Rect> all{l.title, l.meterLabel, l.meter, l.meterValue};
        for (const RowRects& r : l.rows) {
            all.push_back(r.label);
            all.push_back(r.slider);
            all.push_back(r.value);
            EXPECT_GE(r.slider.height(), 20) << s.width << "x" << s.height;
            EXPECT_GE(r.slider.width(), 100);
        }
        for (size_t i = 0; i < all.size(); ++i) {
            EXPECT_TRUE(inside(all[i], s)) << i << " at " << s.width << "x" << s.height;
            for (size_t j = i + 1; j < all.size(); ++j)
                EXPECT_FALSE(overlap(all[i], all[j]))
                    << i << "," << j << " at " << s.width << "x" << s.height;
        }
    }
}

TEST(EditorLayout, SlidersStretchWithTheWidth)
{
    const EditorLayout narrow = layoutEditor(kEditorMin);
    const EditorLayout wide = layoutEditor({kEditorMin.width + 200, kEditorMin.height});
    EXPECT_EQ(wide.rows[0].slider.width(), narrow.rows[0].slider.width() + 200);
    EXPECT_EQ(wide.meter.width(), narrow.meter.width() + 200);
}

TEST(EditorLayout, MeterFillFollowsTheLevel)
{
    Rect meter;
    meter.left = 10;
    meter.right = 110;
    meter.top = 0;
    meter.bottom = 10;
    EXPECT_EQ(meterFill(meter, 0.0).right, 10);
    EXPECT_EQ(meterFill(meter, 0.5).right, 60);
    EXPECT_EQ(meterFill(meter, 1.0).right, 110);
    EXPECT_EQ(meterFill(meter, 7.0).right, 110);
    EXPECT_EQ(meterFill(meter, -1.0).right, 10);
}
