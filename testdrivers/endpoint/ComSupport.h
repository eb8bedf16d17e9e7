#pragma once
// Reference counting shared by the endpoint's COM objects, and the module's count
// of live objects that DllCanUnloadNow answers from.

#include <windows.h>

#include <atomic>

namespace PomaroTestEndpoint {

extern std::atomic<long> g_liveObjects;
extern std::atomic<long> g_serverLocks;

class RefCounted
{
public:
    RefCounted() { g_liveObjects.fetch_add(1, std::memory_order_relaxed); }
    virtual ~RefCounted() { g_liveObjects.fetch_sub(1, std::memory_order_release); }
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

protected:
    ULONG addRefImpl() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG releaseImpl()
    {
        ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0)
            delete this;
        return n;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// IUnknown's AddRef and Release for a class deriving from RefCounted.
#define POMARO_REFCOUNTED_IUNKNOWN                                                                           \
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }                                       \
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }

// A task-allocator copy of a wide string, as COM callers free it.
wchar_t* coTaskStrDup(const wchar_t* s);

// The "not found" answer of the device enumerator.
constexpr HRESULT kNotFound = HRESULT(0x80070490); // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)

} // namespace PomaroTestEndpoint
