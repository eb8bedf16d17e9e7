#include "app/Host.h"

#include "app/AppGlobals.h"
#include "audio/AsioAudioDeviceList.h"
#include "audio/WasapiAudioDeviceList.h"
#include "res/resource.h"

#include "base/source/fstring.h"

#include <xmmintrin.h>

namespace PomaroApp {

using namespace Steinberg;

namespace {
constexpr wchar_t kHostClassName[] = L"HostWindow";
constexpr wchar_t kVstClassName[] = L"VstWindow";
constexpr wchar_t kProductName[] = L"Pomaro";
// Flush-to-zero and denormals-are-zero on, every floating-point exception masked:
// denormals would otherwise crawl through the editor's and the host's arithmetic.
constexpr unsigned kUiThreadMxcsr = 0x9FC0;
} // namespace

CHost::CHost()
{
    fillKeyToNote(keyToNote);
    initMidiCtrlMap(midiCtrlMap);
    _mm_setcsr(kUiThreadMxcsr);
    keyboard.owner = this;

    wcHost.style = 0;
    wcHost.lpfnWndProc = HostWindowProc;
    wcHost.hInstance = g_hInstance;
    wcHost.hIcon = LoadIconW(g_hInstance, MAKEINTRESOURCEW(IDI_POMARO));
    wcHost.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wcHost.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wcHost.lpszMenuName = MAKEINTRESOURCEW(IDR_MAINMENU);
    wcHost.lpszClassName = kHostClassName;
    RegisterClassW(&wcHost);

    wcVst.style = 0;
    wcVst.lpfnWndProc = VstWindowProc;
    wcVst.hInstance = g_hInstance;
    wcVst.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wcVst.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wcVst.lpszClassName = kVstClassName;
    RegisterClassW(&wcVst);
}

CHost::~CHost()
{
    shutdown();
    UnregisterClassW(kHostClassName, g_hInstance);
    UnregisterClassW(kVstClassName, g_hInstance);
    // The members go in reverse order: the ring, the (empty) port list, the queues, the
    // process data, then the keyboard, which releases its factories and its class.
}

void CHost::shutdown()
{
    closeAudioDevice();
    midiInputs.clear();
    delete pWasapiList;
    pWasapiList = nullptr;
    delete pAsioList;
    pAsioList = nullptr;
    unloadVstPlugin();
    if (hwndFrame)
        DestroyWindow(hwndFrame);
}

tresult PLUGIN_API CHost::queryInterface(const TUID iid, void** obj)
{
    if (!obj)
        return kInvalidArgument;
    if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid)) {
        addRef();
        *obj = static_cast<IPlugFrame*>(this);
        return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(iid, Vst::IComponentHandler::iid)) {
        addRef();
        *obj = static_cast<Vst::IComponentHandler*>(this);
        return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
        FUnknownPrivate::iidEqual(iid, Vst::IHostApplication::iid)) {
        addRef();
        *obj = static_cast<Vst::IHostApplication*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kResultFalse;
}

uint32 PLUGIN_API CHost::addRef()
{
    return static_cast<uint32>(refCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

uint32 PLUGIN_API CHost::release()
{
    // acq_rel: every use of the object by any thread happens before its deletion.
    const int32_t count = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
        delete this;
        return 0;
    }
    return static_cast<uint32>(count);
}

tresult PLUGIN_API CHost::getName(Vst::String128 name)
{
    if (name) {
        const String product(reinterpret_cast<const char16*>(kProductName));
        product.copyTo16(name, 0, 127);
    }
    return kResultOk;
}

} // namespace PomaroApp
