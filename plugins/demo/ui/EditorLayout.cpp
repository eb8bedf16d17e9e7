#include "plugins/demo/ui/EditorLayout.h"

#include <algorithm>

#include "plugins/demo/dsp/DemoParams.h"

namespace PomaroDemo {
namespace {

constexpr uint32_t kRowParams[kEditorRows] = {kParamVolume,  kParamTone,      kParamRelease,
                                              kParamVibrato, kParamPitchBend, kParamSustain};
constexpr int32_t kMargin = 12;
constexpr int32_t kTitleHeight = 28;
constexpr int32_t kLabelWidth = 96;
constexpr int32_t kValueWidth = 84;
constexpr int32_t kGap = 8;
constexpr int32_t kMeterHeight = 14;

Rect makeRect(int32_t l, int32_t t, int32_t r, int32_t b)
{
    Rect rc;
    rc.left = l;
    rc.top = t;
    rc.right = r;
    rc.bottom = b;
    return rc;
}

} // namespace

uint32_t editorRowParam(int row) { return kRowParams[row]; }

int editorRowOfParam(uint32_t id)
{
    for (int i = 0; i < kEditorRows; ++i)
        if (kRowParams[i] == id)
            return i;
    return -1;
}

bool constrainEditorSize(EditorSize& size)
{
    const EditorSize in = size;
    size.width = std::min(kEditorMax.width, std::max(kEditorMin.width, size.width));
    size.height = std::min(kEditorMax.height, std::max(kEditorMin.height, size.height));
    return size.width != in.width || size.height != in.height;
}

EditorLayout layoutEditor(EditorSize size)
{
    constrainEditorSize(size);
    EditorLayout out;
    out.title = makeRect(kMargin, kMargin / 2, size.width - kMargin, kMargin / 2 + kTitleHeight);

    // Rows share the height left between the title and the meter, at most 60 px each.
    const int32_t meterBlock = kMeterHeight + 2 * kMargin;
    const int32_t rowsTop = out.title.bottom + kGap / 2;
    const int32_t rowsHeight = size.height - rowsTop - meterBlock;
    const int32_t rowHeight = std::min<int32_t>(60, rowsHeight / kEditorRows);
    const int32_t sliderLeft = kMargin + kLabelWidth + kGap;
    const int32_t valueLeft = size.width - kMargin - kValueWidth;
    for (int i = 0; i < kEditorRows; ++i) {
        const int32_t top = rowsTop + i * rowHeight;
        const int32_t bottom = top + rowHeight;
        const int32_t textTop = top + (rowHeight - 18) / 2;
        out.rows[i].label = makeRect(kMargin, textTop, kMargin + kLabelWidth, textTop + 18);
        out.rows[i].slider = makeRect(sliderLeft, top + 2, valueLeft - kGap, bottom - 2);
        out.rows[i].value = makeRect(valueLeft, textTop, size.width - kMargin, textTop + 18);
    }
    const int32_t meterTop = size.height - kMargin - kMeterHeight;
    out.meterLabel = makeRect(kMargin, meterTop - 2, kMargin + kLabelWidth, meterTop + 16);
    out.meter = makeRect(sliderLeft, meterTop, valueLeft - kGap, meterTop + kMeterHeight);
    out.meterValue = makeRect(valueLeft, meterTop - 2, size.width - kMargin, meterTop + 16);
    return out;
}

Rect meterFill(const Rect& meter, double normalized)
{
    const double n = normalized > 1.0 ? 1.0 : normalized > 0.0 ? normalized : 0.0;
    Rect fill = meter;
    fill.right = meter.left + static_cast<int32_t>(n * meter.width() + 0.5);
    return fill;
}

} // namespace PomaroDemo
