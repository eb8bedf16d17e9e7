#include "input/KeyboardWindow.h"

#include "app/AppGlobals.h"
#include "app/Host.h"
#include "res/resource.h"

#include <d2d1.h>
#include <wincodec.h>
#include <wrl/client.h>

namespace PomaroApp {

namespace KG = KeyboardGeometry;

namespace {
constexpr wchar_t kClassName[] = L"KeyboardWindow";
constexpr wchar_t kPngType[] = L"PNG";
// D2DERR_RECREATE_TARGET; one of the SDK headers defines it without the HRESULT type.
constexpr HRESULT kRecreateTarget = static_cast<HRESULT>(0x8899000CUL);
// About 60 frames a second: a flood of notes costs one drawing per frame, not one per note.
constexpr ULONGLONG kStripFrameMs = 16;
// The frame ticks stop after this long without a change.
constexpr ULONGLONG kStripIdleMs = 250;
constexpr UINT_PTR kStripFrameTimerId = 1;

template <class T> void releaseCom(T*& p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

D2D1_RECT_F toRectF(const KG::Rect& r)
{
    return D2D1_RECT_F{static_cast<FLOAT>(r.left), static_cast<FLOAT>(r.top), static_cast<FLOAT>(r.right),
                       static_cast<FLOAT>(r.bottom)};
}

HRESULT lastErrorOrFail()
{
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}
} // namespace

CKeyboardWindow::CKeyboardWindow()
{
    for (auto& key : keyShown)
        key.store(0, std::memory_order_relaxed);
    windowClass.style = 0;
    windowClass.lpfnWndProc = &CKeyboardWindow::windowProc;
    windowClass.hInstance = g_hInstance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
}

HRESULT CKeyboardWindow::create(HWND parent)
{
    HRESULT hr = S_OK;
    if (!d2dFactory)
        hr = D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                               reinterpret_cast<void**>(&d2dFactory));
    if (SUCCEEDED(hr) && !wicFactory)
        hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&wicFactory));
    if (FAILED(hr) || hwnd.load(std::memory_order_relaxed))
        return hr;
    HWND window = CreateWindowExW(0, kClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                                  KG::kStripWidth, KG::kStripHeight, parent, nullptr, g_hInstance, nullptr);
    if (!window)
        return HRESULT_FROM_WIN32(GetLastError());
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // Published after the window can find this object, so a posted note is never lost
    // to a window that does not know its owner yet.
    hwnd.store(window, std::memory_order_release);
    return S_OK;
}

void CKeyboardWindow::destroy()
{
    releaseCom(d2dFactory);
    releaseCom(wicFactory);
    UnregisterClassW(kClassName, g_hInstance);
}

void CKeyboardWindow::showNote(int32_t note, bool pressed)
{
    if (note < 0 || note > 127)
        return;
    keyShown[note].store(pressed ? 1 : 0, std::memory_order_release);
    HWND window = hwnd.load(std::memory_order_acquire);
    if (!window || note < KG::kLowestNote || note > KG::kHighestDrawnNote) // nothing to show
        return;
    // The frame clears the flag before it reads keyShown, so a change made while the
    // flag is set is still seen by that frame or announces itself to the next one.
    // While the frame ticks run, they find the flag: no message, no call into the system
    // (a post waits for the window system's server, which a drawing window keeps busy).
    if (framePending.exchange(true, std::memory_order_seq_cst) ||
        framesRunning.load(std::memory_order_seq_cst))
        return;
    if (!PostMessageW(window, WM_KEYBOARD_SHOWNOTE, static_cast<WPARAM>(note), pressed ? 1 : 0))
        framePending.store(false, std::memory_order_release);
}

int32_t CKeyboardWindow::hitTest(int32_t x, int32_t y) { return KG::hitTest(x, y); }

HRESULT CKeyboardWindow::createDeviceResources(HWND)
{
    HRESULT hr = S_OK;
    if (!renderTarget) {
        if (!d2dFactory || !wicFactory)
            return E_FAIL;
        if (!presentBitmap) {
            hr = wicFactory->CreateBitmap(static_cast<UINT>(KG::kStripWidth),
                                          static_cast<UINT>(KG::kStripHeight), GUID_WICPixelFormat32bppPBGRA,
                                          WICBitmapCacheOnLoad, &presentBitmap);
            if (FAILED(hr))
                return hr;
        }
        const D2D1_RENDER_TARGET_PROPERTIES props{D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                                  {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
                                                  0.0f,
                                                  0.0f,
                                                  D2D1_RENDER_TARGET_USAGE_NONE,
                                                  D2D1_FEATURE_LEVEL_DEFAULT};
        hr = d2dFactory->CreateWicBitmapRenderTarget(presentBitmap, &props, &renderTarget);
        if (FAILED(hr))
            return hr;
    }
    if (!offscreenTarget) {
        hr = renderTarget->CreateCompatibleRenderTarget(
            nullptr, nullptr, nullptr, D2D1_COMPATIBLE_RENDER_TARGET_OPTIONS_NONE, &offscreenTarget);
        if (FAILED(hr))
            return hr;
    }
    if (!keysBitmap) {
        hr = loadPngResource(IDR_PNG_KEYS, &keysBitmap);
        if (FAILED(hr))
            return hr;
    }
    if (!labelsBitmap) {
        hr = loadPngResource(IDR_PNG_KEY_LABELS, &labelsBitmap);
        if (FAILED(hr))
            return hr;
    }
    if (!offscreenBitmap) {
        hr = offscreenTarget->GetBitmap(&offscreenBitmap);
        if (FAILED(hr))
            return hr;
        // A fresh picture: eight whole octaves and the first 31 pixels of the ninth.
        offscreenTarget->BeginDraw();
        const D2D1_RECT_F octaveSource{0.0f, 0.0f, static_cast<FLOAT>(KG::kOctaveWidth),
                                       static_cast<FLOAT>(KG::kStripHeight)};
        for (int32_t o = 0; o < KG::kWholeOctaves; ++o) {
            const FLOAT left = static_cast<FLOAT>(KG::kOctaveWidth * o);
            const D2D1_RECT_F destination{left, 0.0f, left + KG::kOctaveWidth,
                                          static_cast<FLOAT>(KG::kStripHeight)};
            offscreenTarget->DrawBitmap(keysBitmap, &destination, 1.0f,
                                        D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, &octaveSource);
        }
        const FLOAT ninth = static_cast<FLOAT>(KG::kOctaveWidth * KG::kWholeOctaves);
        const D2D1_RECT_F lastDestination{ninth, 0.0f, static_cast<FLOAT>(KG::kStripWidth),
                                          static_cast<FLOAT>(KG::kStripHeight)};
        const D2D1_RECT_F lastSource{0.0f, 0.0f, static_cast<FLOAT>(KG::kPartialOctaveWidth),
                                     static_cast<FLOAT>(KG::kStripHeight)};
        offscreenTarget->DrawBitmap(keysBitmap, &lastDestination, 1.0f,
                                    D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, &lastSource);
        hr = offscreenTarget->EndDraw();
        // Every key is up in the new picture; the next frame draws the pressed ones again.
        for (int32_t& drawn : keyDrawn)
            drawn = 0;
    }
    return hr;
}

void CKeyboardWindow::releaseDeviceResources()
{
    releaseCom(offscreenBitmap);
    releaseCom(keysBitmap);
    releaseCom(labelsBitmap);
    releaseCom(offscreenTarget);
    releaseCom(renderTarget);
    releaseCom(presentBitmap);
}

HRESULT CKeyboardWindow::loadPngResource(int id, ID2D1Bitmap** out)
{
    if (!out)
        return E_POINTER;
    if (!renderTarget || !wicFactory)
        return E_FAIL;

    HRSRC found = FindResourceW(g_hInstance, MAKEINTRESOURCEW(id), kPngType);
    if (!found)
        return lastErrorOrFail();
    HGLOBAL loaded = LoadResource(g_hInstance, found);
    if (!loaded)
        return lastErrorOrFail();
    void* bytes = LockResource(loaded);
    if (!bytes)
        return lastErrorOrFail();
    const DWORD size = SizeofResource(g_hInstance, found);
    if (!size)
        return lastErrorOrFail();

    Microsoft::WRL::ComPtr<IWICStream> stream;
    Microsoft::WRL::ComPtr<IWICBitmapDecoder> decoder;
    Microsoft::WRL::ComPtr<IWICBitmapFrameDecode> frame;
    Microsoft::WRL::ComPtr<IWICFormatConverter> converter;
    HRESULT hr = wicFactory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromMemory(static_cast<BYTE*>(bytes), size);
    if (SUCCEEDED(hr))
        hr = wicFactory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                                 &decoder);
    if (SUCCEEDED(hr))
        hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr))
        hr = wicFactory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr))
        hr = renderTarget->CreateBitmapFromWicBitmap(converter.Get(), nullptr, out);
    return hr;
}

HRESULT CKeyboardWindow::onPaint(HWND window)
{
    beginFrame();
    HRESULT hr = createDeviceResources(window);
    if (SUCCEEDED(hr)) {
        drawChangedKeys();
        hr = composeAndPresent(window);
    }
    if (hr == kRecreateTarget) {
        // The device is gone: everything is rebuilt on the next paint.
        releaseDeviceResources();
        hr = S_OK;
    }
    return hr;
}

void CKeyboardWindow::beginFrame()
{
    // Cleared before keyShown is read, by an exchange that sees the poster's change:
    // a change from now on posts again.
    framePending.exchange(false, std::memory_order_acq_rel);
    lastFrameTick = GetTickCount64();
}

// Composing costs far more than drawing a key (under Wine the picture is read back
// from the device), so a frame whose keys all show what they did composes nothing.
void CKeyboardWindow::drawFrame(HWND window)
{
    beginFrame();
    if (!offscreenTarget) {
        InvalidateRect(window, nullptr, FALSE); // the paint makes the resources first
        return;
    }
    if (!drawChangedKeys())
        return;
    if (composeAndPresent(window) == kRecreateTarget) {
        releaseDeviceResources();
        InvalidateRect(window, nullptr, FALSE);
    }
}

HRESULT CKeyboardWindow::composeAndPresent(HWND window)
{
    renderTarget->BeginDraw();
    const D2D1_RECT_F strip{0.0f, 0.0f, static_cast<FLOAT>(KG::kStripWidth),
                            static_cast<FLOAT>(KG::kStripHeight)};
    renderTarget->DrawBitmap(offscreenBitmap, &strip, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR,
                             nullptr);
    // The labels follow the computer-keyboard octave; the strip clips what lies outside.
    const FLOAT x = static_cast<FLOAT>(KG::labelsX(octave));
    const D2D1_SIZE_F size = labelsBitmap->GetSize();
    const D2D1_RECT_F labels{x, 0.0f, x + size.width, size.height};
    renderTarget->DrawBitmap(labelsBitmap, &labels, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR,
                             nullptr);
    const HRESULT hr = renderTarget->EndDraw();
    return SUCCEEDED(hr) ? present(window) : hr;
}

// Copies the composed strip to the window with GDI.
HRESULT CKeyboardWindow::present(HWND window)
{
    const WICRect all{0, 0, KG::kStripWidth, KG::kStripHeight};
    Microsoft::WRL::ComPtr<IWICBitmapLock> lock;
    HRESULT hr = presentBitmap->Lock(&all, WICBitmapLockRead, &lock);
    if (FAILED(hr))
        return hr;
    UINT bytes = 0;
    UINT stride = 0;
    BYTE* pixels = nullptr;
    hr = lock->GetStride(&stride);
    if (SUCCEEDED(hr))
        hr = lock->GetDataPointer(&bytes, &pixels);
    constexpr UINT kRowBytes = 4u * KG::kStripWidth;
    constexpr UINT kLastRow = KG::kStripHeight - 1;
    if (SUCCEEDED(hr) && (stride % 4 != 0 || stride < kRowBytes || bytes < stride * kLastRow + kRowBytes))
        hr = WINCODEC_ERR_BADIMAGE;
    if (SUCCEEDED(hr)) {
        if (HDC dc = GetDC(window)) {
            // Rows may be padded past the strip's width, the last one need not be: all
            // rows but the last go as a DIB as wide as a row, the last one on its own.
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(info.bmiHeader);
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            const auto blit = [&](int32_t top, int32_t rows, UINT rowBytes, const BYTE* bits) {
                info.bmiHeader.biWidth = static_cast<LONG>(rowBytes / 4);
                info.bmiHeader.biHeight = -rows; // top-down, as the bitmap's rows are
                SetDIBitsToDevice(dc, 0, top, KG::kStripWidth, static_cast<DWORD>(rows), 0, 0, 0,
                                  static_cast<UINT>(rows), bits, &info, DIB_RGB_COLORS);
            };
            blit(0, KG::kStripHeight - 1, stride, pixels);
            blit(KG::kStripHeight - 1, 1, kRowBytes, pixels + stride * kLastRow);
            ReleaseDC(window, dc);
        }
    }
    return hr;
}

// Into the offscreen picture only: the frame that calls it presents the strip.
void CKeyboardWindow::drawKey(int32_t note, bool pressed)
{
    KG::KeySprite sprite{};
    if (!offscreenTarget || !keysBitmap || !KG::keySprite(note, pressed, sprite))
        return;
    const D2D1_RECT_F destination = toRectF(sprite.destination);
    const D2D1_RECT_F source = toRectF(sprite.source);
    offscreenTarget->BeginDraw();
    offscreenTarget->DrawBitmap(keysBitmap, &destination, 1.0f,
                                D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, &source);
    offscreenTarget->EndDraw();
}

bool CKeyboardWindow::drawChangedKeys()
{
    bool drawn = false;
    for (int32_t note = KG::kLowestNote; note <= KG::kHighestDrawnNote; ++note) {
        const int32_t shown = keyShown[note].load(std::memory_order_acquire);
        if (shown != keyDrawn[note]) {
            drawKey(note, shown != 0);
            keyDrawn[note] = shown;
            drawn = true;
        }
    }
    return drawn;
}

void CKeyboardWindow::releaseAllKeys()
{
    for (int32_t note = 0; note < 128; ++note) {
        if (keyShown[note].load(std::memory_order_acquire) == 1)
            keyShown[note].store(0, std::memory_order_release);
    }
    requestFrame();
}

// A change awaits: the frame ticks run, and a frame comes at once when the last one is
// at least a frame old, else with the next tick.
void CKeyboardWindow::requestFrame()
{
    HWND window = hwnd.load(std::memory_order_relaxed);
    if (!window)
        return;
    const ULONGLONG now = GetTickCount64();
    lastChangeTick = now;
    if (!frameTimerRunning) {
        frameTimerRunning =
            SetTimer(window, kStripFrameTimerId, static_cast<UINT>(kStripFrameMs), nullptr) != 0;
        framesRunning.store(frameTimerRunning, std::memory_order_seq_cst);
    }
    if (!frameTimerRunning || now - lastFrameTick >= kStripFrameMs)
        drawFrame(window);
}

void CKeyboardWindow::onFrameTick(HWND window)
{
    const ULONGLONG now = GetTickCount64();
    if (!framePending.load(std::memory_order_seq_cst)) {
        if (now - lastChangeTick < kStripIdleMs)
            return;
        // Quiet for a while: the ticks stop and the next change posts. Either that
        // change sees them stopped or this check sees its flag.
        framesRunning.store(false, std::memory_order_seq_cst);
        if (!framePending.load(std::memory_order_seq_cst)) {
            KillTimer(window, kStripFrameTimerId);
            frameTimerRunning = false;
            return;
        }
        framesRunning.store(true, std::memory_order_seq_cst);
    }
    lastChangeTick = now;
    drawFrame(window);
}

void CKeyboardWindow::sendNotes(const KG::MouseNotes& notes)
{
    if (!owner)
        return;
    Kelvane::IMidiDataListener* listener = owner;
    for (int32_t i = 0; i < notes.count; ++i)
        listener->onMidiData(notes.messages[i]);
}

void CKeyboardWindow::onMouseDown(int32_t x, int32_t y)
{
    sendNotes(KG::mouseButtonDown(mouseDown, mouseNote, x, y));
}

void CKeyboardWindow::onMouseMove(int32_t x, int32_t y)
{
    sendNotes(KG::mouseMove(mouseDown, mouseNote, x, y));
}

void CKeyboardWindow::onMouseUp() { sendNotes(KG::mouseButtonUp(mouseDown, mouseNote)); }

LRESULT CALLBACK CKeyboardWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CKeyboardWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    // Points arrive as two unsigned words: left of or above the strip is a large value.
    const int32_t x = static_cast<int32_t>(LOWORD(lParam));
    const int32_t y = static_cast<int32_t>(HIWORD(lParam));
    switch (message) {
    case WM_KEYBOARD_SHOWNOTE:
        if (self)
            self->requestFrame();
        return 0;
    case WM_TIMER:
        if (self && wParam == kStripFrameTimerId)
            self->onFrameTick(window);
        return 0;
    case WM_KEYBOARD_RELEASEALL:
        if (self)
            self->releaseAllKeys();
        return 0;
    case WM_PAINT:
        if (self)
            self->onPaint(window);
        ValidateRect(window, nullptr);
        return 0;
    case WM_SIZE:
        return 0; // the strip keeps its size; its picture is composed at that size
    case WM_LBUTTONDOWN:
        if (self) {
            SetCapture(window);
            self->onMouseDown(x, y);
        }
        return 0;
    case WM_MOUSEMOVE:
        if (self)
            self->onMouseMove(x, y);
        return 0;
    case WM_LBUTTONUP:
        if (self) {
            ReleaseCapture();
            self->onMouseUp();
        }
        return 0;
    case WM_DESTROY:
        if (self) {
            self->releaseDeviceResources();
            self->hwnd.store(nullptr, std::memory_order_release);
            self->frameTimerRunning = false; // the timer went with the window
            self->framesRunning.store(false, std::memory_order_release);
            self->framePending.store(false, std::memory_order_release);
        }
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace PomaroApp
