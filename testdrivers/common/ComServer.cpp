#include "testdrivers/common/ComServer.h"

namespace PomaroTestDrivers {

namespace {

std::atomic<long> g_serverLocks{0};

class ClassFactory final : public ComObject<IClassFactory>
{
public:
    explicit ClassFactory(CreateObjectFn create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : create_(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        g_serverLocks.fetch_add(lock ? 1 : -1, std::memory_order_relaxed);
        return S_OK;
    }

private:
    CreateObjectFn create_;
};

} // namespace

ULONG RefCounted::releaseImpl()
{
    ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0)
        delete this;
    return n;
}

std::atomic<long>& liveObjects()
{
    static std::atomic<long> live{0};
    return live;
}

HRESULT getClassObject(REFCLSID asked, REFCLSID served, CreateObjectFn create, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return asked != served ? CLASS_E_CLASSNOTAVAILABLE : handOver(new ClassFactory(create), riid, ppv);
}

HRESULT canUnloadNow()
{
    return liveObjects().load(std::memory_order_acquire) == 0 &&
                   g_serverLocks.load(std::memory_order_acquire) == 0
               ? S_OK
               : S_FALSE;
}

} // namespace PomaroTestDrivers
