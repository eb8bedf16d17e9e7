#include "testdrivers/common/ComServer.h"

namespace PomaroTestDrivers {

namespace {

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
    // The module is never unloaded, so there is nothing to lock.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    CreateObjectFn create_;
};

} // namespace

HRESULT getClassObject(REFCLSID asked, REFCLSID served, CreateObjectFn create, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return asked != served ? CLASS_E_CLASSNOTAVAILABLE : handOver(new ClassFactory(create), riid, ppv);
}

} // namespace PomaroTestDrivers
