#pragma once
// The on-screen keyboard strip under the editor: plays notes with the mouse and shows
// every note the host receives. Drawn with Direct2D from two PNG resources.

#include "input/KeyboardGeometry.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

struct ID2D1Factory;
struct ID2D1RenderTarget;
struct ID2D1BitmapRenderTarget;
struct ID2D1Bitmap;
struct IWICImagingFactory;
struct IWICBitmap;

namespace PomaroApp {

class CHost;

// A key changed: wParam the note, lParam 1 pressed / 0 released. One message stands for
// every change until the next frame; keyShown holds what each key is to show.
constexpr UINT WM_KEYBOARD_SHOWNOTE = WM_USER;
constexpr UINT WM_KEYBOARD_RELEASEALL = WM_USER + 1;

class CKeyboardWindow
{
public:
    // Registers the window class "KeyboardWindow".
    CKeyboardWindow();
    ~CKeyboardWindow() { destroy(); }
    CKeyboardWindow(const CKeyboardWindow&) = delete;
    CKeyboardWindow& operator=(const CKeyboardWindow&) = delete;

    // Makes the factories, then the strip as a child of parent (591 x 30 at 0, 0).
    HRESULT create(HWND parent);
    // Releases the factories and unregisters the class; the window dies with its parent.
    // Runs with the host's destruction; a second call does nothing more.
    void destroy();
    // Callable from any thread, and never waits: records the key and, unless a frame is
    // already due, the frame ticks run or the key is not drawn, tells the window by a
    // posted message.
    void showNote(int32_t note, bool pressed);

    // Window thread only.
    static int32_t hitTest(int32_t x, int32_t y);
    HRESULT createDeviceResources(HWND window);
    void releaseDeviceResources();
    HRESULT loadPngResource(int id, ID2D1Bitmap** out);
    HRESULT onPaint(HWND window);
    HRESULT present(HWND window);
    void drawKey(int32_t note, bool pressed);
    void releaseAllKeys();
    // Key changes are drawn and presented at most once per frame, or on WM_PAINT.
    void requestFrame();
    void onFrameTick(HWND window);
    void beginFrame();
    void drawFrame(HWND window);
    bool drawChangedKeys(); // false when every key already showed its state
    HRESULT composeAndPresent(HWND window);
    void onMouseDown(int32_t x, int32_t y);
    void onMouseMove(int32_t x, int32_t y);
    void onMouseUp();

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    CHost* owner = nullptr;
    WNDCLASSW windowClass{};
    // Read by other threads before they post to the window.
    std::atomic<HWND> hwnd{nullptr};
    ID2D1Factory* d2dFactory = nullptr;
    IWICImagingFactory* wicFactory = nullptr;
    // The strip is composed by Direct2D into a bitmap in memory and shown with GDI:
    // a window render target's output does not reach the screen from a child window
    // on every system (Wine's OpenGL presentation among them).
    IWICBitmap* presentBitmap = nullptr;
    ID2D1RenderTarget* renderTarget = nullptr;
    ID2D1BitmapRenderTarget* offscreenTarget = nullptr;
    ID2D1Bitmap* offscreenBitmap = nullptr;
    ID2D1Bitmap* keysBitmap = nullptr;
    ID2D1Bitmap* labelsBitmap = nullptr;
    std::atomic<int32_t> keyShown[128];
    // Set by a change, cleared by the frame before it reads keyShown: while it is set, a
    // change needs no message of its own.
    std::atomic<bool> framePending{false};
    // The frame ticks run (written by the window thread): they find framePending, so a
    // change posts nothing.
    std::atomic<bool> framesRunning{false};
    // Window thread only: what the offscreen picture shows of each key, and the frame pacing.
    int32_t keyDrawn[128] = {};
    bool frameTimerRunning = false;
    ULONGLONG lastFrameTick = 0;
    ULONGLONG lastChangeTick = 0;
    int32_t octave = 5;
    bool mouseDown = false;
    int32_t mouseNote = -1;

private:
    void sendNotes(const KeyboardGeometry::MouseNotes& notes);
};

} // namespace PomaroApp
