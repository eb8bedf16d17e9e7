#include "plugins/demo/vst/DemoEditor.h"

#include <commctrl.h>

#include <cstring>

#include "plugins/demo/dsp/DemoParams.h"
#include "plugins/demo/vst/DemoController.h"

namespace PomaroDemo {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

const wchar_t kClassName[] = L"PomaroDemoEditor";
constexpr int kSliderSteps = 1000;
constexpr COLORREF kBackground = RGB(34, 37, 43);
constexpr COLORREF kText = RGB(225, 228, 235);
constexpr COLORREF kTitle = RGB(240, 170, 80);
constexpr COLORREF kMeterOff = RGB(52, 56, 64);
constexpr COLORREF kMeterLow = RGB(80, 200, 120);
constexpr COLORREF kMeterMid = RGB(230, 200, 70);
constexpr COLORREF kMeterHigh = RGB(235, 80, 70);

// Editors of every instance share one window class, registered while any is open
// and removed with the last one so the module can unload cleanly.
int gClassUsers = 0;

HINSTANCE moduleInstance()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

int sliderSteps(ParamID id)
{
    const int32 steps = paramDesc(id).stepCount;
    return steps > 0 ? steps : kSliderSteps;
}

void place(HWND hwnd, const Rect& r)
{
    if (hwnd)
        MoveWindow(hwnd, r.left, r.top, r.width(), r.height(), TRUE);
}

RECT toRECT(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

void fill(HDC dc, const Rect& r, COLORREF color)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const RECT rc = toRECT(r);
    SetBkColor(dc, color);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
}

std::wstring widen(const char* text)
{
    std::wstring out;
    for (; text && *text; ++text)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return out;
}

} // namespace

DemoEditor::DemoEditor(DemoController* controller) : EditorView(controller)
{
    const EditorSize size = controller->editorSize();
    rect = ViewRect(0, 0, size.width, size.height);
}

DemoEditor::~DemoEditor()
{
    // A host that never called removed still must not leave a window with our procedure.
    if (hwnd_ || classHeld_)
        removed();
}

DemoController* DemoEditor::demoController() const { return static_cast<DemoController*>(getController()); }

tresult PLUGIN_API DemoEditor::isPlatformTypeSupported(FIDString type)
{
    return type && std::strcmp(type, kPlatformTypeHWND) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API DemoEditor::attached(void* parent, FIDString type)
{
    if (!parent || isPlatformTypeSupported(type) != kResultTrue)
        return kResultFalse;
    if (hwnd_)
        return kResultFalse;
    const HINSTANCE instance = moduleInstance();
    if (gClassUsers == 0) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &DemoEditor::windowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kClassName;
        if (!RegisterClassExW(&wc))
            return kResultFalse;
    }
    ++gClassUsers;
    classHeld_ = true;

    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    background_.reset(CreateSolidBrush(kBackground));
    font_.reset(CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI"));
    titleFont_.reset(CreateFontW(-19, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, L"Segoe UI"));

    EditorSize size = demoController()->editorSize();
    constrainEditorSize(size);
    rect = ViewRect(0, 0, size.width, size.height);
    hwnd_ = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, size.width,
                            size.height, static_cast<HWND>(parent), nullptr, instance, this);
    if (!hwnd_) {
        releaseWindowClass();
        return kResultFalse;
    }
    createControls();
    applyLayout(size);
    for (int row = 0; row < kEditorRows; ++row)
        updateRow(row);
    parameterChanged(kParamOutputLevel);

    EditorView::attached(parent, type);
    // The host learns our size only from this call.
    if (plugFrame) {
        ViewRect wanted = rect;
        plugFrame->resizeView(this, &wanted);
    }
    return kResultOk;
}

tresult PLUGIN_API DemoEditor::removed()
{
    endOpenEdits();
    if (hwnd_)
        DestroyWindow(hwnd_); // WM_NCDESTROY forgets the handle
    releaseWindowClass();
    return EditorView::removed();
}

void DemoEditor::releaseWindowClass()
{
    // Only once no window of the class is left may it be unregistered.
    if (!classHeld_)
        return;
    classHeld_ = false;
    if (--gClassUsers == 0)
        UnregisterClassW(kClassName, moduleInstance());
}

tresult PLUGIN_API DemoEditor::onSize(ViewRect* newSize)
{
    if (!newSize)
        return kInvalidArgument;
    // Before attached the host's child window is only a placeholder; our own
    // size goes to the host through resizeView once the editor exists.
    if (!hwnd_)
        return kResultTrue;
    rect = *newSize;
    const EditorSize size{newSize->getWidth(), newSize->getHeight()};
    MoveWindow(hwnd_, 0, 0, size.width, size.height, TRUE);
    applyLayout(size);
    EditorSize kept = size;
    constrainEditorSize(kept);
    demoController()->setEditorSize(kept);
    return kResultTrue;
}

tresult PLUGIN_API DemoEditor::checkSizeConstraint(ViewRect* r)
{
    if (!r)
        return kInvalidArgument;
    EditorSize size{r->getWidth(), r->getHeight()};
    constrainEditorSize(size);
    r->right = r->left + size.width;
    r->bottom = r->top + size.height;
    return kResultTrue;
}

void DemoEditor::createControls()
{
    const HINSTANCE instance = moduleInstance();
    auto makeStatic = [&](const wchar_t* text, DWORD align) {
        HWND h = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_NOPREFIX | align, 0, 0, 10,
                                 10, hwnd_, nullptr, instance, nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        return h;
    };
    for (int row = 0; row < kEditorRows; ++row) {
        const ParamID id = editorRowParam(row);
        labels_[row] = makeStatic(widen(paramDesc(id).title).c_str(), SS_LEFT);
        values_[row] = makeStatic(L"", SS_RIGHT);
        sliders_[row] = CreateWindowExW(
            0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_HORZ | TBS_NOTICKS | TBS_BOTH,
            0, 0, 10, 10, hwnd_, nullptr, instance, nullptr);
        SendMessageW(sliders_[row], TBM_SETRANGEMIN, FALSE, 0);
        SendMessageW(sliders_[row], TBM_SETRANGEMAX, FALSE, sliderSteps(id));
        SendMessageW(sliders_[row], TBM_SETLINESIZE, 0, sliderSteps(id) >= 100 ? sliderSteps(id) / 100 : 1);
        SendMessageW(sliders_[row], TBM_SETPAGESIZE, 0, sliderSteps(id) >= 10 ? sliderSteps(id) / 10 : 1);
    }
    meterLabel_ = makeStatic(widen(paramDesc(kParamOutputLevel).title).c_str(), SS_LEFT);
    meterValue_ = makeStatic(L"", SS_RIGHT);
}

void DemoEditor::applyLayout(EditorSize size)
{
    layout_ = layoutEditor(size);
    for (int row = 0; row < kEditorRows; ++row) {
        place(labels_[row], layout_.rows[row].label);
        place(sliders_[row], layout_.rows[row].slider);
        place(values_[row], layout_.rows[row].value);
    }
    place(meterLabel_, layout_.meterLabel);
    place(meterValue_, layout_.meterValue);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void DemoEditor::showValue(HWND label, ParamID id)
{
    if (!label)
        return;
    String128 text = {};
    EditController* controller = getController();
    controller->getParamStringByValue(id, controller->getParamNormalized(id), text);
    std::wstring line;
    for (int i = 0; i < 128 && text[i]; ++i)
        line += static_cast<wchar_t>(text[i]);
    const char* units = paramDesc(id).units;
    if (units && *units)
        line += L" " + widen(units);
    SetWindowTextW(label, line.c_str());
}

void DemoEditor::updateRow(int row)
{
    const ParamID id = editorRowParam(row);
    // While the user drags, the thumb is theirs; only the text follows.
    if (!editing_[row]) {
        const double value = getController()->getParamNormalized(id);
        SendMessageW(sliders_[row], TBM_SETPOS, TRUE, static_cast<LPARAM>(value * sliderSteps(id) + 0.5));
    }
    showValue(values_[row], id);
}

void DemoEditor::parameterChanged(ParamID id)
{
    if (!hwnd_)
        return;
    if (id == kParamOutputLevel) {
        meterLevel_ = getController()->getParamNormalized(id);
        showValue(meterValue_, id);
        const RECT meter = toRECT(layout_.meter);
        InvalidateRect(hwnd_, &meter, FALSE);
        return;
    }
    const int row = editorRowOfParam(id);
    if (row >= 0)
        updateRow(row);
}

void DemoEditor::onSlider(HWND slider, int code)
{
    int row = 0;
    while (row < kEditorRows && sliders_[row] != slider)
        ++row;
    if (row == kEditorRows)
        return;
    const ParamID id = editorRowParam(row);
    EditController* controller = getController();
    if (code == TB_ENDTRACK) {
        if (editing_[row]) {
            editing_[row] = false;
            controller->endEdit(id);
        }
        return;
    }
    const double value = double(SendMessageW(slider, TBM_GETPOS, 0, 0)) / sliderSteps(id);
    if (!editing_[row]) {
        editing_[row] = true;
        controller->beginEdit(id);
    }
    if (value != controller->getParamNormalized(id)) {
        controller->setParamNormalized(id, value);
        controller->performEdit(id, value);
    }
}

void DemoEditor::endOpenEdits()
{
    for (int row = 0; row < kEditorRows; ++row) {
        if (!editing_[row])
            continue;
        editing_[row] = false;
        getController()->endEdit(editorRowParam(row));
    }
}

void DemoEditor::paint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    const RECT& dirty = ps.rcPaint;
    Rect all;
    all.left = dirty.left;
    all.top = dirty.top;
    all.right = dirty.right;
    all.bottom = dirty.bottom;
    fill(dc, all, kBackground);

    const RECT title = toRECT(layout_.title);
    HGDIOBJ oldFont = SelectObject(dc, titleFont_.get());
    SetTextColor(dc, kTitle);
    SetBkMode(dc, TRANSPARENT);
    RECT titleRect = title;
    DrawTextW(dc, L"Pomaro Electric Piano", -1, &titleRect,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, oldFont);

    // Meter: green up to -12 dB, amber to -3 dB, red above.
    const Rect lit = meterFill(layout_.meter, meterLevel_);
    const Rect amberStart = meterFill(layout_.meter, levelToNormalized(0.25119)); // -12 dB
    const Rect redStart = meterFill(layout_.meter, levelToNormalized(0.70795));   // -3 dB
    Rect part = layout_.meter;
    part.right = lit.right < amberStart.right ? lit.right : amberStart.right;
    fill(dc, part, kMeterLow);
    part.left = part.right;
    part.right = lit.right < redStart.right ? lit.right : redStart.right;
    if (part.right > part.left)
        fill(dc, part, kMeterMid);
    part.left = part.right > part.left ? part.right : part.left;
    part.right = lit.right;
    if (part.right > part.left)
        fill(dc, part, kMeterHigh);
    Rect off = layout_.meter;
    off.left = lit.right;
    fill(dc, off, kMeterOff);
    EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK DemoEditor::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<DemoEditor*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        // Also reached when the parent is destroyed before removed is called.
        if (self && self->hwnd_ == hwnd)
            self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (self && self->hwnd_ == hwnd)
        return self->handleMessage(message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT DemoEditor::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers every pixel
    case WM_PAINT:
        paint();
        return 0;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, kText);
        SetBkColor(dc, kBackground);
        return reinterpret_cast<LRESULT>(background_.get());
    }
    case WM_HSCROLL:
        if (lParam)
            onSlider(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
        return 0;
    default:
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

} // namespace PomaroDemo
