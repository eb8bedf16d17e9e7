#pragma once
// What the test drivers' in-process COM servers share: reference counting, one
// QueryInterface for all their objects, and the work of their two entry points.

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace PomaroTestDrivers {

// Objects of the module alive now, its class factories included.
inline std::atomic<long> g_liveObjects{0};

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
        const ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0)
            delete this;
        return n;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// A COM object of the interfaces First, Rest...: IUnknown answers as First.
template <class First, class... Rest> class ComObject : public First, public Rest..., public RefCounted
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == __uuidof(First) ? static_cast<First*>(this) : nullptr;
        ((*ppv = *ppv ? *ppv : riid == __uuidof(Rest) ? static_cast<Rest*>(this) : nullptr), ...);
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseImpl(); }
};

// Makes the server's object (each reads the test's configuration afresh) and asks it for riid.
using CreateObjectFn = HRESULT (*)(REFIID riid, void** ppv);

// Hands the new object (one reference) to the caller as riid.
template <class T> HRESULT handOver(T* object, REFIID riid, void** ppv)
{
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

class ClassFactory final : public ComObject<IClassFactory>
{
public:
    explicit ClassFactory(CreateObjectFn create) : create_(create) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : create_(riid, ppv);
    }
    // The module is never unloaded, so there is nothing to lock.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    CreateObjectFn create_;
};

// DllGetClassObject of a server of the one class served, made by create.
inline HRESULT getClassObject(REFCLSID asked, REFCLSID served, CreateObjectFn create, REFIID riid, void** ppv)
{
    *ppv = nullptr;
    return asked != served ? CLASS_E_CLASSNOTAVAILABLE : handOver(new ClassFactory(create), riid, ppv);
}

// DllCanUnloadNow: once no object is left. The program never asks; the tests ask it
// whether a driver object outlived its release.
inline HRESULT canUnloadNow() { return g_liveObjects.load(std::memory_order_acquire) == 0 ? S_OK : S_FALSE; }

} // namespace PomaroTestDrivers
