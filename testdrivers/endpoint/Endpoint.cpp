// The endpoint's configuration, the device enumerator and its endpoints, and the DLL's
// COM entry points.
#include "testdrivers/endpoint/Endpoint.h"

#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/ConfigFile.h"
#include "testdrivers/common/TextParse.h"

#include <propsys.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace PomaroTestEndpoint {

using namespace PomaroTestDrivers;

namespace {

const char* const kCallNames[int(Call::Count)] = {"EnumAudioEndpoints", "GetDevice",  "Activate",
                                                  "GetDevicePeriod",    "Initialize", "GetBuffer",
                                                  "ReleaseBuffer"};
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
    std::vector<CallRule> named;
    std::string error;
    if (!parseCallRules(text, named, error))
        return error;
    for (const CallRule& n : named) {
        const int call = int(std::find(kCallNames, kCallNames + int(Call::Count), n.name) - kCallNames);
        // A rule where its call is never made would pass a test silently.
        if (call == int(Call::Count) || (call == int(Call::EnumAudioEndpoints)) != enumeratorLevel)
            return "no call '" + n.name + "' to fail here";
        plan.rules.push_back({Call(call), n.nth, HRESULT(n.code ? n.code : 0x80004005u)}); // E_FAIL
    }
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
    size_t lineNo = 0;
    for (std::string raw; std::getline(in, raw) && error.empty();) {
        const std::string line = trim(raw);
        const size_t eq = line.find('=');
        const std::string key = trim(line.substr(0, eq)),
                          value = trim(line.substr(eq == line.npos ? 0 : eq + 1));
        std::string why;
        ++lineNo;
        if (line.empty() || line[0] == '#') {
        } else if (line == "[endpoint]") {
            c.endpoints.emplace_back().id =
                L"{0.0.0.00000000}.{pomaro-test-endpoint-" + std::to_wstring(c.endpoints.size()) + L"}";
        } else if (line[0] == '[') {
            why = "unknown section " + line;
        } else if (eq == line.npos) {
            why = "expected key = value";
        } else if (!c.endpoints.empty()) {
            why = endpointKey(c.endpoints.back(), key, value);
        } else if (key == "wav") {
            c.wavPath = widen(value);
        } else {
            why = key == "fail" ? parseFailRules(value, true, c.faults) : "unknown key '" + key + "'";
        }
        if (!why.empty())
            error = "line " + std::to_string(lineNo) + ": " + why;
    }
    return error.empty();
}

// A task-allocator copy of a wide string, as COM callers free it.
wchar_t* coTaskStrDup(const std::wstring& s)
{
    auto* p = static_cast<wchar_t*>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
    if (p)
        std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
    return p;
}

// PKEY_Device_FriendlyName: the one property an endpoint has, its configured name.
const PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

// An endpoint and its property store, which holds just its name.
class Device final : public ComObject<IMMDevice, IPropertyStore>
{
public:
    Device(std::shared_ptr<EndpointModel> model, size_t index) : model(std::move(model)), index(index) {}
    const std::shared_ptr<EndpointModel> model;
    const size_t index;
    const EndpointSetup& setup() const { return model->endpoints[index]; }
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** ppv) override
    {
        *ppv = nullptr;
        if (HRESULT hr = model->endpoints[index].faults.onCall(Call::Activate))
            return hr;
        if (iid != __uuidof(IAudioClient) && iid != IID_IUnknown)
            return E_NOINTERFACE;
        *ppv = newAudioClient(model, index);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** out) override
    {
        *out = nullptr;
        return (access & 3) == STGM_READ
                   ? QueryInterface(__uuidof(IPropertyStore), reinterpret_cast<void**>(out))
                   : E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override
    {
        *id = coTaskStrDup(setup().id);
        return *id ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override
    {
        *state = setup().state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        PropVariantInit(value);
        // A property the endpoint lacks reads as VT_EMPTY with success, as on the system.
        if (setup().hasName && key.pid == kFriendlyName.pid && key.fmtid == kFriendlyName.fmtid) {
            if (!(value->pwszVal = coTaskStrDup(setup().name)))
                return E_OUTOFMEMORY;
            value->vt = VT_LPWSTR;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }
};

class DeviceCollection final : public ComObject<IMMDeviceCollection>
{
public:
    DeviceCollection(std::shared_ptr<EndpointModel> model, std::vector<size_t> members)
        : model_(std::move(model)), members_(std::move(members))
    {}
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override
    {
        *count = UINT(members_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT i, IMMDevice** out) override
    {
        *out = i < members_.size() ? new Device(model_, members_[i]) : nullptr;
        return *out ? S_OK : E_INVALIDARG;
    }

private:
    std::shared_ptr<EndpointModel> model_;
    std::vector<size_t> members_; // endpoint indices in collection order
};

class Enumerator final : public ComObject<IMMDeviceEnumerator>
{
public:
    explicit Enumerator(std::shared_ptr<EndpointModel> model) : model_(std::move(model)) {}
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                                 IMMDeviceCollection** out) override
    {
        *out = nullptr;
        if (HRESULT hr = model_->faults.onCall(Call::EnumAudioEndpoints))
            return hr;
        std::vector<size_t> members;
        for (size_t i = 0; i < model_->endpoints.size(); ++i) {
            const EndpointSetup& e = model_->endpoints[i];
            if ((flow == eAll || (flow == eRender) == e.render) && (e.state & stateMask))
                members.push_back(i);
        }
        *out = new DeviceCollection(model_, std::move(members));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** out) override
    {
        *out = nullptr;
        for (size_t i = 0; i < model_->endpoints.size(); ++i)
            if (model_->endpoints[i].id == id) {
                const HRESULT hr = model_->endpoints[i].faults.onCall(Call::GetDevice);
                *out = FAILED(hr) ? nullptr : new Device(model_, i);
                return hr;
            }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    // Calls the program never makes.
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return E_NOTIMPL;
    }

private:
    std::shared_ptr<EndpointModel> model_;
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
