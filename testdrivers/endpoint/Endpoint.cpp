// The endpoint's configuration, the device enumerator and its endpoints, and the DLL's
// COM entry points.
#include "testdrivers/endpoint/Endpoint.h"

#include "testdrivers/common/ComServer.h"
#include "testdrivers/common/ConfigFile.h"
#include "testdrivers/common/TextParse.h"
#include "testdrivers/endpoint/TestEndpointApi.h"

#include <mmdeviceapi.h>
#include <propsys.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <sstream>

namespace PomaroTestEndpoint {

using namespace PomaroTestDrivers;

int32_t FaultPlan::onCall(Call c)
{
    const uint32_t n = counts_[int(c)].fetch_add(1, std::memory_order_relaxed) + 1;
    for (const Rule& r : rules)
        if (r.call == c && (r.nth == 0 || r.nth == n))
            return r.hr;
    return 0;
}

namespace {

const char* const kCallNames[int(Call::Count)] = {
#define POMARO_CALL_NAME(name) #name,
    POMARO_ENDPOINT_CALLS(POMARO_CALL_NAME)
#undef POMARO_CALL_NAME
};

constexpr HRESULT kNotFound = HRESULT(0x80070490); // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)

bool parseFailRules(const std::string& text, bool enumeratorLevel, FaultPlan& plan, std::string& error)
{
    std::vector<CallRule> named;
    if (!parseCallRules(text, named, error))
        return false;
    for (const CallRule& n : named) {
        int call = 0;
        while (call < int(Call::Count) && n.name != kCallNames[call])
            ++call;
        // Only the enumeration fails before the first [endpoint], and only there.
        if (call == int(Call::Count) || (call == int(Call::EnumAudioEndpoints)) != enumeratorLevel) {
            error = "no call '" + n.name + "' to fail here";
            return false;
        }
        uint64_t v = 0x80004005u; // E_FAIL unless the test names another result
        // Only failures make sense here: a success code would silently do nothing.
        if (!n.code.empty() && (!parseUnsigned(n.code, v) || v > 0xFFFFFFFFu || (v & 0x80000000u) == 0)) {
            error = "bad failure result '" + n.code + "'";
            return false;
        }
        plan.rules.push_back({Call(call), n.nth, int32_t(uint32_t(v))});
    }
    return true;
}

bool parseNumber(const std::string& v, uint64_t lo, uint64_t hi, uint32_t& out)
{
    uint64_t x = 0;
    if (!parseUnsigned(v, x) || x < lo || x > hi)
        return false;
    out = uint32_t(x);
    return true;
}

bool endpointKey(EndpointSetup& e, const std::string& key, const std::string& value, std::string& why)
{
    // In the order of the DEVICE_STATE_ bits.
    static const char* const kStates[] = {"active", "disabled", "notpresent", "unplugged"};
    uint32_t n = 0;
    bool ok = true;
    if (key == "name") {
        e.name = widen(value);
        e.hasName = true;
    } else if (key == "state") {
        ok = false;
        for (uint32_t i = 0; i < 4 && !ok; ++i)
            if ((ok = value == kStates[i]))
                e.state = 1u << i;
    } else if (key == "flow") {
        ok = value == "render" || value == "capture";
        e.render = value == "render";
    } else if (key == "rates") {
        e.rates.clear();
        for (const std::string& item : splitList(value)) {
            ok = ok && parseNumber(item, 1000, 768000, n);
            e.rates.push_back(n);
        }
    } else if (key == "period" || key == "min_period") {
        // Periods above one second are no audio device's; zero would divide by zero later.
        ok = parseNumber(value, 1, 10000000, n);
        (key == "period" ? e.defaultPeriod : e.minPeriod) = n;
    } else if (key == "align") {
        ok = parseNumber(value, 0, 0xFFFFFFFFu, e.alignFrames);
    } else if (key == "not_aligned") {
        const size_t colon = value.find(':');
        ok = colon != std::string::npos &&
             parseNumber(trim(value.substr(0, colon)), 1, 0xFFFFFFFFu, e.notAlignedRequest) &&
             parseNumber(trim(value.substr(colon + 1)), 1, 0xFFFFFFFFu, e.notAlignedAnswer);
    } else if (key == "extra_frames") {
        ok = parseNumber(value, 0, 1u << 20, e.extraFrames);
    } else if (key == "fail") {
        return parseFailRules(value, false, *e.faults, why);
    } else {
        why = "unknown key '" + key + "' in [endpoint]";
        return false;
    }
    if (!ok)
        why = "bad " + key + " '" + value + "'";
    return ok;
}

} // namespace

bool parseEndpointConfig(const std::string& text, EndpointModel& c, std::string& error)
{
    // A UTF-8 byte-order mark from an editor is not part of the first key.
    std::istringstream in(text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text);
    size_t lineNo = 0;
    for (std::string raw; std::getline(in, raw); ++lineNo) {
        const std::string line = trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        std::string why;
        const size_t eq = line.find('=');
        if (line[0] == '[') {
            if (line == "[endpoint]") {
                c.endpoints.emplace_back();
                c.endpoints.back().id =
                    L"{0.0.0.00000000}.{pomaro-test-endpoint-" + std::to_wstring(c.endpoints.size()) + L"}";
            } else {
                why = "unknown section " + line;
            }
        } else if (eq == std::string::npos) {
            why = "expected key = value";
        } else {
            const std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
            if (!c.endpoints.empty())
                endpointKey(c.endpoints.back(), key, value, why);
            else if (key == "wav")
                c.wavPath = widen(value);
            else if (key == "fail")
                parseFailRules(value, true, c.faults, why);
            else
                why = "unknown key '" + key + "'";
        }
        if (!why.empty()) {
            error = "line " + std::to_string(lineNo + 1) + ": " + why;
            return false;
        }
    }
    return true;
}

namespace {

// A task-allocator copy of a wide string, as COM callers free it.
wchar_t* coTaskStrDup(const std::wstring& s)
{
    const size_t bytes = (s.size() + 1) * sizeof(wchar_t);
    auto* p = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (p)
        std::memcpy(p, s.c_str(), bytes);
    return p;
}

// PKEY_Device_FriendlyName: the one property an endpoint has, its configured name.
const PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

// What an endpoint's objects hold: the model and their endpoint in it.
struct OfEndpoint
{
    std::shared_ptr<EndpointModel> model;
    size_t index;
    const EndpointSetup& setup() const { return model->endpoints[index]; }
    int32_t fault(Call c) const { return setup().faults->onCall(c); }
};

class PropertyStore final : public ComObject<IPropertyStore>, OfEndpoint
{
public:
    explicit PropertyStore(OfEndpoint of) : OfEndpoint(std::move(of)) {}
    // No client of this endpoint lists its properties.
    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        PropVariantInit(value);
        // A property the endpoint lacks reads as VT_EMPTY with success, as on the system.
        if (setup().hasName && key.pid == kFriendlyName.pid &&
            std::memcmp(&key.fmtid, &kFriendlyName.fmtid, sizeof key.fmtid) == 0) {
            if (!(value->pwszVal = coTaskStrDup(setup().name)))
                return E_OUTOFMEMORY;
            value->vt = VT_LPWSTR;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }
};

class Device final : public ComObject<IMMDevice>, OfEndpoint
{
public:
    explicit Device(OfEndpoint of) : OfEndpoint(std::move(of)) {}
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** ppv) override
    {
        *ppv = nullptr;
        if (HRESULT hr = fault(Call::Activate))
            return hr;
        if (setup().state != DEVICE_STATE_ACTIVE)
            return AUDCLNT_E_DEVICE_INVALIDATED;
        if (iid != __uuidof(IAudioClient) && iid != IID_IUnknown)
            return E_NOINTERFACE;
        *ppv = newAudioClient(model, index);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** out) override
    {
        *out = nullptr;
        if ((access & 3) != STGM_READ)
            return E_ACCESSDENIED;
        *out = new PropertyStore(*this);
        return S_OK;
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
        *out = nullptr;
        if (i >= members_.size())
            return E_INVALIDARG;
        *out = new Device(OfEndpoint{model_, members_[i]});
        return S_OK;
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
    // No client of this endpoint asks for a default: it would have to be chosen by name.
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** out) override
    {
        *out = nullptr;
        for (size_t i = 0; i < model_->endpoints.size(); ++i)
            if (model_->endpoints[i].id == id) {
                const OfEndpoint of{model_, i};
                const HRESULT hr = of.fault(Call::GetDevice);
                *out = hr ? nullptr : new Device(of);
                return hr;
            }
        return kNotFound;
    }
    // The endpoints never change while a test runs, so there is nothing to notify.
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return S_OK;
    }

private:
    std::shared_ptr<EndpointModel> model_;
};

HRESULT createEnumerator(REFIID riid, void** ppv)
{
    // The file named by the environment, else by the registry.
    auto model = std::make_shared<EndpointModel>();
    const std::wstring path =
        configPath(POMARO_TEST_ENDPOINT_CONFIG_ENV, HKEY_CURRENT_USER, POMARO_TEST_ENDPOINT_KEY, L"Config");
    std::string text, error = "cannot read the file";
    if (!readTextFile(path, text) || !parseEndpointConfig(text, *model, error)) {
        const std::string line = "PomaroTestEndpoint: " + narrow(path) + ": " + error + "\n";
        OutputDebugStringA(line.c_str());
        std::fputs(line.c_str(), stderr);
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
