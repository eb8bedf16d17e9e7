// The endpoint's configuration, the device enumerator and its endpoints, and the DLL's
// COM entry points.
#include "testdrivers/endpoint/Endpoint.h"

#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/ConfigFile.h"

#include <propsys.h>

#include <cstdio>
#include <sstream>

namespace PomaroTestEndpoint {

using namespace PomaroTestDrivers;

namespace {

// In the order of the DEVICE_STATE_ bits.
const char* const kStates[] = {"active", "disabled", "notpresent", "unplugged"};

// Zero is no period or rate: it would divide by zero later.
bool number(const std::string& text, uint32_t& out, uint64_t lo = 1)
{
    uint64_t v = 0;
    const bool ok = parseUnsigned(text, v) && v >= lo && v <= 0xFFFFFFFFu;
    out = ok ? uint32_t(v) : out;
    return ok;
}

// What is wrong with the rules; empty when they are good.
std::string parseFailRules(const std::string& text, bool enumeratorLevel, FaultPlan& plan)
{
    std::string error;
    if (!parseCallRules(text, plan.rules, error))
        return error;
    // A rule where its call is never made would pass a test silently.
    for (const CallRule& r : plan.rules)
        if (callIndex(r.name) == std::size(kCalls) || (callIndex(r.name) == 0) != enumeratorLevel)
            return "no call '" + r.name + "' to fail here";
    return error;
}

std::string endpointKey(EndpointSetup& e, const std::string& key, const std::string& value)
{
    bool ok = true;
    if (key == "name") {
        e.name = widen(value);
        e.hasName = true;
    } else if (key == "state") {
        const auto at = std::find(std::begin(kStates), std::end(kStates), value);
        ok = at != std::end(kStates);
        e.state = 1u << (at - kStates);
    } else if (key == "flow") {
        e.render = value == "render";
        ok = e.render || value == "capture";
    } else if (key == "rates") {
        e.rates.clear();
        for (const std::string& item : splitList(value))
            ok = number(item, e.rates.emplace_back()) && ok;
    } else if (key == "period" || key == "min_period" || key == "extra_frames") {
        ok = key == "extra_frames" ? number(value, e.extraFrames, 0)
                                   : number(value, key == "period" ? e.defaultPeriod : e.minPeriod);
    } else if (key == "not_aligned") {
        const size_t colon = value.find(':');
        ok = colon != std::string::npos && number(trim(value.substr(0, colon)), e.notAlignedRequest) &&
             number(trim(value.substr(colon + 1)), e.notAlignedAnswer);
    } else if (key == "fail") {
        return parseFailRules(value, false, e.faults);
    } else {
        return "unknown key '" + key + "' in [endpoint]";
    }
    return ok ? "" : "bad " + key + " '" + value + "'";
}

// False with "line N: ..." in error on the first bad line.
bool parseConfig(const std::string& text, EndpointModel& c, std::string& error)
{
    std::istringstream in(text);
    std::wstring wav;
    size_t lineNo = 1;
    for (std::string raw; error.empty() && std::getline(in, raw); ++lineNo) {
        const std::string line = trim(raw);
        const size_t eq = line.find('=');
        const std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
        std::string why;
        if (line.empty() || line[0] == '#') {
        } else if (line == "[endpoint]") {
            c.endpoints.emplace_back().id =
                L"{0.0.0.00000000}.{pomaro-test-endpoint-" + std::to_wstring(c.endpoints.size()) + L"}";
            c.endpoints.back().wavPath = wav;
        } else if (line[0] == '[' || eq == line.npos) {
            why = "expected [endpoint] or key = value";
        } else if (!c.endpoints.empty()) {
            why = endpointKey(c.endpoints.back(), key, value);
        } else if (key == "wav") {
            wav = widen(value);
        } else {
            why = key == "fail" ? parseFailRules(value, true, c.faults) : "unknown key '" + key + "'";
        }
        error = why.empty() ? "" : "line " + std::to_string(lineNo) + ": " + why;
    }
    return error.empty();
}

// A task-allocator copy of a wide string, as COM callers free it.
wchar_t* coTaskStrDup(const std::wstring& s)
{
    auto* p = static_cast<wchar_t*>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
    return p ? static_cast<wchar_t*>(std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(wchar_t))) : p;
}

// PKEY_Device_FriendlyName: the one property an endpoint has, its configured name.
const PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

// An endpoint and its property store, which holds just its name.
class Device final : public ComObject<IMMDevice, IPropertyStore>
{
public:
    explicit Device(Endpoint e) : e_(std::move(e)) {}
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** ppv) override
    {
        *ppv = nullptr;
        if (HRESULT hr = e_->faults.onCall("Activate"))
            return hr;
        if (iid != __uuidof(IAudioClient) && iid != IID_IUnknown)
            return E_NOINTERFACE;
        *ppv = newAudioClient(e_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** out) override
    {
        *out = nullptr;
        return access != STGM_READ ? E_ACCESSDENIED : QueryInterface(IID_PPV_ARGS(out));
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override
    {
        return (*id = coTaskStrDup(e_->id)) ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override { return *state = e_->state, S_OK; }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        PropVariantInit(value);
        // A property the endpoint lacks reads as VT_EMPTY with success, as on the system.
        if (!e_->hasName || key.pid != kFriendlyName.pid || key.fmtid != kFriendlyName.fmtid)
            return S_OK;
        value->vt = (value->pwszVal = coTaskStrDup(e_->name)) ? VT_LPWSTR : VT_EMPTY;
        return value->pwszVal ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }

private:
    const Endpoint e_;
};

class DeviceCollection final : public ComObject<IMMDeviceCollection>
{
public:
    explicit DeviceCollection(std::vector<Endpoint> members) : members_(std::move(members)) {}
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override { return *count = UINT(members_.size()), S_OK; }
    HRESULT STDMETHODCALLTYPE Item(UINT i, IMMDevice** out) override
    {
        *out = i < members_.size() ? new Device(members_[i]) : nullptr;
        return *out ? S_OK : E_INVALIDARG;
    }

private:
    const std::vector<Endpoint> members_; // in collection order
};

class Enumerator final : public ComObject<IMMDeviceEnumerator>
{
public:
    explicit Enumerator(std::shared_ptr<EndpointModel> model) : model_(std::move(model)) {}
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                                 IMMDeviceCollection** out) override
    {
        *out = nullptr;
        if (HRESULT hr = model_->faults.onCall("EnumAudioEndpoints"))
            return hr;
        std::vector<Endpoint> members;
        for (EndpointSetup& e : model_->endpoints)
            if ((flow == eAll || (flow == eRender) == e.render) && (e.state & stateMask))
                members.emplace_back(model_, &e);
        *out = new DeviceCollection(std::move(members));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** out) override
    {
        *out = nullptr;
        for (EndpointSetup& e : model_->endpoints)
            if (e.id == id) {
                const HRESULT hr = e.faults.onCall("GetDevice");
                *out = FAILED(hr) ? nullptr : new Device(Endpoint(model_, &e));
                return hr;
            }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    // Calls the program never makes.
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return E_NOTIMPL;
    }

private:
    const std::shared_ptr<EndpointModel> model_;
};

HRESULT createEnumerator(REFIID riid, void** ppv)
{
    auto model = std::make_shared<EndpointModel>();
    // The file named by the environment, else by the registry.
    const std::wstring path = configPath(L"POMARO_TEST_ENDPOINT_CONFIG", HKEY_CURRENT_USER,
                                         L"Software\\PomaroTest\\Endpoint", L"Config");
    std::string text, error = "cannot read the file";
    if (!readTextFile(path, text) || (error.clear(), !parseConfig(text, *model, error))) {
        std::fwprintf(stderr, L"PomaroTestEndpoint: %ls: %hs\n", path.c_str(), error.c_str());
        return HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
    }
    return handOver(new Enumerator(std::move(model)), riid, ppv);
}

} // namespace

} // namespace PomaroTestEndpoint

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return PomaroTestDrivers::getClassObject(clsid, __uuidof(MMDeviceEnumerator),
                                             PomaroTestEndpoint::createEnumerator, riid, ppv);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return PomaroTestDrivers::canUnloadNow();
}
