#pragma once
// What the test drivers' in-process COM servers share: reference counting with the
// module's count of live objects, and the work of their two entry points.

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace PomaroTestDrivers {

// Objects of the module alive now.
std::atomic<long>& liveObjects();

class RefCounted
{
public:
    RefCounted() { liveObjects().fetch_add(1, std::memory_order_relaxed); }
    virtual ~RefCounted() { liveObjects().fetch_sub(1, std::memory_order_release); }
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

protected:
    ULONG addRefImpl() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG releaseImpl();

private:
    std::atomic<ULONG> refs_{1};
};

// IUnknown's AddRef and Release for a class deriving from RefCounted.
#define POMARO_REFCOUNTED_IUNKNOWN                                                                           \
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }                                       \
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }

// Makes the server's object and asks it for riid; each object reads the test's
// configuration afresh, so one process can try several.
using CreateObjectFn = HRESULT (*)(REFIID riid, void** ppv);

// DllGetClassObject of a server of the one class served, made by create.
HRESULT getClassObject(REFCLSID asked, REFCLSID served, CreateObjectFn create, REFIID riid, void** ppv);
// DllCanUnloadNow: S_OK once no object and no server lock is left.
HRESULT canUnloadNow();

} // namespace PomaroTestDrivers
