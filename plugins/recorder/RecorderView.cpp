#include <cstdint>
#include "plugins/recorder/RecorderView.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "plugins/recorder/Ids.h"
#include "plugins/recorder/RecorderController.h"
#include "plugins/recorder/RecorderLog.h"
#include "plugins/recorder/Variant.h"

#include <windows.h>

#include <cstring>

using namespace Steinberg;

namespace Recorder {

namespace {

const wchar_t kClassName[] = L"PomaroRecorderView";
int gClassUsers = 0; // windows of this module's class; user-interface thread only

LRESULT CALLBACK viewProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* view = reinterpret_cast<RecorderView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
    case WM_NCCREATE: {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        break;
    }
    case WM_PAINT:
        if (view) {
            view->paint();
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        if (view)
            view->click(short(LOWORD(lp)), msg == WM_RBUTTONDOWN);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

bool registerClass()
{
    if (gClassUsers++ > 0)
        return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = viewProc;
    wc.hInstance = static_cast<HINSTANCE>(moduleInstance());
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kClassName;
    if (RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
        return true;
    gClassUsers = 0;
    return false;
}

void unregisterClass()
{
    if (gClassUsers > 0 && --gClassUsers == 0)
        UnregisterClassW(kClassName, static_cast<HINSTANCE>(moduleInstance()));
}

void logRect(Call& call, const ViewRect& r)
{
    call.w().kvInt("left", r.left).kvInt("top", r.top).kvInt("right", r.right).kvInt("bottom", r.bottom);
}

} // namespace

RecorderView::RecorderView(RecorderController* owner) : controller(owner), rect(0, 0, kViewWidth, kViewHeight)
{
    controller->addRef();
    liveObjects().fetch_add(1);
}

RecorderView::~RecorderView()
{
    destroyWindow();
    controller->viewGone(this);
    controller->release();
    liveObjects().fetch_sub(1);
    Call("view", "destroy").doneText("void");
}

uint32 PLUGIN_API RecorderView::release()
{
    const uint32 left = refs.drop();
    if (left == 0)
        delete this;
    return left;
}

tresult PLUGIN_API RecorderView::queryInterface(const TUID iid, void** obj)
{
    *obj = nullptr;
    tresult r = kNoInterface;
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, IPlugView::iid)) {
        *obj = static_cast<IPlugView*>(this);
        addRef();
        r = kResultOk;
    }
    return logQuery("view", iid, r);
}

tresult PLUGIN_API RecorderView::isPlatformTypeSupported(FIDString type)
{
    Call call("view", "isPlatformTypeSupported");
    call.w().kv("type", type ? type : "null");
    return call.done(type && std::strcmp(type, kPlatformTypeHWND) == 0 ? kResultTrue : kResultFalse);
}

tresult PLUGIN_API RecorderView::attached(void* parent, FIDString type)
{
    Call call("view", "attached");
    call.w().kv("parent", parent ? "ptr" : "null").kv("type", type ? type : "null");
    if (faultIs(Fault::AttachFails))
        return call.done(kResultFalse);
    if (faultIs(Fault::CrashInAttached)) {
        volatile uintptr_t address = 0x10; // opaque to the compiler: a real read at run time
        return call.done(static_cast<tresult>(*reinterpret_cast<volatile int*>(address)));
    }
    if (faultIs(Fault::RaiseInAttached)) {
        RaiseException(0xE0501234, 0, 0, nullptr);
        return call.done(kInternalError);
    }
    if (hwnd || !parent || !type || std::strcmp(type, kPlatformTypeHWND) != 0)
        return call.done(kInvalidArgument);
    if (!registerClass())
        return call.done(kInternalError);
    hwnd = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, rect.getWidth(),
                           rect.getHeight(), static_cast<HWND>(parent), nullptr,
                           static_cast<HINSTANCE>(moduleInstance()), this);
    if (!hwnd) {
        unregisterClass();
        return call.done(kInternalError);
    }
    // Real editors announce their size this way; a host that never asks getSize
    // learns it only here.
    if (frame && !faultIs(Fault::NoResizeCall)) {
        ViewRect wanted(0, 0, kViewWidth, kViewHeight);
        Call resize("frame", "resizeView");
        resize.w().kvInt("width", wanted.getWidth()).kvInt("height", wanted.getHeight());
        resize.done(frame->resizeView(this, &wanted));
    }
    return call.done(kResultOk);
}

void RecorderView::destroyWindow()
{
    if (hwnd) {
        DestroyWindow(static_cast<HWND>(hwnd));
        hwnd = nullptr;
        unregisterClass();
    }
}

tresult PLUGIN_API RecorderView::removed()
{
    Call call("view", "removed");
    call.w().kvInt("wasAttached", hwnd ? 1 : 0);
    if (!hwnd)
        return call.done(kResultFalse);
    destroyWindow();
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderView::onWheel(float distance)
{
    Call call("view", "onWheel");
    call.w().kvNum("distance", distance);
    return call.done(kResultFalse);
}

tresult PLUGIN_API RecorderView::onKeyDown(char16 key, int16 keyCode, int16 modifiers)
{
    Call call("view", "onKeyDown");
    call.w().kvInt("key", key).kvInt("keyCode", keyCode).kvInt("modifiers", modifiers);
    return call.done(kResultFalse);
}

tresult PLUGIN_API RecorderView::onKeyUp(char16 key, int16 keyCode, int16 modifiers)
{
    Call call("view", "onKeyUp");
    call.w().kvInt("key", key).kvInt("keyCode", keyCode).kvInt("modifiers", modifiers);
    return call.done(kResultFalse);
}

tresult PLUGIN_API RecorderView::getSize(ViewRect* size)
{
    Call call("view", "getSize");
    if (!size)
        return call.done(kInvalidArgument);
    *size = rect;
    logRect(call, rect);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderView::onSize(ViewRect* newSize)
{
    Call call("view", "onSize");
    if (!newSize)
        return call.done(kInvalidArgument);
    logRect(call, *newSize);
    rect = *newSize;
    if (hwnd)
        MoveWindow(static_cast<HWND>(hwnd), 0, 0, rect.getWidth(), rect.getHeight(), TRUE);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderView::onFocus(TBool state)
{
    Call call("view", "onFocus");
    call.w().kvInt("state", state);
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderView::setFrame(IPlugFrame* newFrame)
{
    Call call("view", "setFrame");
    call.w().kv("frame", newFrame ? "ptr" : "null");
    frame = newFrame;
    return call.done(kResultOk);
}

tresult PLUGIN_API RecorderView::canResize()
{
    return Call("view", "canResize").done(faultIs(Fault::FixedSizeView) ? kResultFalse : kResultTrue);
}

tresult PLUGIN_API RecorderView::checkSizeConstraint(ViewRect* r)
{
    Call call("view", "checkSizeConstraint");
    if (!r)
        return call.done(kInvalidArgument);
    logRect(call, *r);
    if (faultIs(Fault::FixedSizeView)) {
        *r = ViewRect(r->left, r->top, r->left + kViewWidth, r->top + kViewHeight);
        return call.done(kResultFalse);
    }
    if (r->getWidth() < kViewMinWidth)
        r->right = r->left + kViewMinWidth;
    if (r->getHeight() < kViewMinHeight)
        r->bottom = r->top + kViewMinHeight;
    return call.done(kResultTrue);
}

void RecorderView::refresh()
{
    if (hwnd)
        InvalidateRect(static_cast<HWND>(hwnd), nullptr, FALSE);
}

void RecorderView::paint()
{
    HWND w = static_cast<HWND>(hwnd);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT client;
    GetClientRect(w, &client);
    HBRUSH back = CreateSolidBrush(RGB(32, 40, 56));
    FillRect(dc, &client, back);
    DeleteObject(back);
    // The level as a bar along the bottom edge: what a click sets.
    RECT bar = client;
    bar.top = bar.bottom - 12;
    bar.right = bar.left + LONG(controller->value(kLevel) * (client.right - client.left));
    HBRUSH fill = CreateSolidBrush(RGB(96, 176, 96));
    FillRect(dc, &bar, fill);
    DeleteObject(fill);
    char text[96];
    LineWriter line(text, sizeof(text));
    line.text("recorder: ").text(variantName()).text("  level ").number(controller->value(kLevel));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(230, 230, 230));
    TextOutA(dc, 8, 8, text, int(line.size()));
    EndPaint(w, &ps);
}

void RecorderView::click(int x, bool right)
{
    if (right) {
        controller->restartFromView(Vst::kParamValuesChanged);
        return;
    }
    const int width = rect.getWidth() > 0 ? rect.getWidth() : 1;
    double v = double(x) / width;
    v = v < 0 ? 0 : v > 1 ? 1 : v;
    controller->editFromView(kLevel, v);
    refresh();
}

} // namespace Recorder
