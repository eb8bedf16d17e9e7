#include "testdrivers/endpoint/EndpointConfig.h"

#include "testdrivers/common/TextParse.h"

#include <initializer_list>

namespace PomaroTestEndpoint {

using namespace PomaroTestDrivers;

namespace {

std::string defaultId(size_t index)
{
    return "{0.0.0.00000000}.{pomaro-test-endpoint-" + std::to_string(index) + "}";
}

bool parseU32(const std::string& v, uint32_t& out, uint64_t lo = 0, uint64_t hi = 0xFFFFFFFFu)
{
    uint64_t x = 0;
    if (!parseUnsigned(v, x) || x < lo || x > hi)
        return false;
    out = uint32_t(x);
    return true;
}

// One of the names in the order of values, or false.
template <class T>
bool parseChoice(const std::string& v, std::initializer_list<const char*> names,
                 std::initializer_list<T> values, T& out)
{
    for (size_t i = 0; i < names.size(); ++i) {
        if (v == names.begin()[i]) {
            out = values.begin()[i];
            return true;
        }
    }
    return false;
}

bool endpointKey(EndpointSpec& e, const std::string& key, const std::string& value, std::string& why)
{
    uint32_t period = 0;
    bool ok = true;
    if (key == "name") {
        e.name = value;
        e.hasName = true;
    } else if (key == "id") {
        ok = !value.empty();
        e.id = value;
    } else if (key == "state") {
        ok = parseChoice<uint32_t>(value, {"active", "disabled", "notpresent", "unplugged"},
                                   {StateActive, StateDisabled, StateNotPresent, StateUnplugged}, e.state);
    } else if (key == "flow") {
        ok = parseChoice(value, {"render", "capture"}, {true, false}, e.render);
    } else if (key == "rates") {
        e.rates.clear();
        for (const std::string& item : splitList(value)) {
            uint32_t hz = 0;
            ok = ok && parseU32(item, hz, 1000, 768000);
            e.rates.push_back(hz);
        }
    } else if (key == "period" || key == "min_period") {
        // Periods above one second are no audio device's; zero would divide by zero later.
        ok = parseU32(value, period, 1, 10000000);
        (key == "period" ? e.defaultPeriod : e.minPeriod) = period;
    } else if (key == "align") {
        ok = parseU32(value, e.alignFrames);
    } else if (key == "not_aligned") {
        const size_t colon = value.find(':');
        ok = colon != std::string::npos && parseU32(trim(value.substr(0, colon)), e.notAlignedRequest, 1) &&
             parseU32(trim(value.substr(colon + 1)), e.notAlignedAnswer, 1);
    } else if (key == "extra_frames") {
        ok = parseU32(value, e.extraFrames, 0, 1u << 20);
    } else if (key == "fail") {
        return parseFailRules(value, false, e.failures, why);
    } else {
        why = "unknown key '" + key + "' in [endpoint]";
        return false;
    }
    if (!ok)
        why = "bad " + key + " '" + value + "'";
    return ok;
}

} // namespace

EndpointConfig defaultEndpointConfig()
{
    EndpointConfig c;
    EndpointSpec e;
    e.id = defaultId(0);
    e.name = "Pomaro Test Endpoint";
    e.hasName = true;
    e.rates = {22050, 44100, 48000, 96000};
    c.endpoints.push_back(e);
    return c;
}

bool parseEndpointConfig(const std::string& text, EndpointConfig& out, std::string& error)
{
    EndpointConfig c;
    bool inEndpoint = false;
    size_t lineNo = 0;
    size_t pos = 0;
    // A UTF-8 byte-order mark from an editor is not part of the first key.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        std::string why;
        if (line[0] == '[') {
            if (line != "[endpoint]") {
                why = "unknown section " + line;
            } else {
                EndpointSpec e;
                e.id = defaultId(c.endpoints.size());
                e.rates = {44100, 48000};
                c.endpoints.push_back(e);
                inEndpoint = true;
            }
        } else {
            size_t eq = line.find('=');
            if (eq == std::string::npos) {
                why = "expected key = value";
            } else {
                std::string key = trim(line.substr(0, eq));
                std::string value = trim(line.substr(eq + 1));
                if (inEndpoint) {
                    endpointKey(c.endpoints.back(), key, value, why);
                } else if (key == "wav") {
                    c.wavPath = value;
                } else if (key == "stats") {
                    c.statsPath = value;
                } else if (key == "fail") {
                    parseFailRules(value, true, c.failures, why);
                } else {
                    why = "unknown key '" + key + "'";
                }
            }
        }
        if (!why.empty()) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        }
    }
    for (const EndpointSpec& e : c.endpoints) {
        if (e.minPeriod > e.defaultPeriod) {
            error = "endpoint '" + e.id + "': min_period above period";
            return false;
        }
        for (const EndpointSpec& f : c.endpoints) {
            if (&e != &f && e.id == f.id) {
                error = "two endpoints with the id '" + e.id + "'";
                return false;
            }
        }
    }
    if (c.statsPath.empty() && !c.wavPath.empty())
        c.statsPath = c.wavPath + ".stats.txt";
    out = std::move(c);
    return true;
}

} // namespace PomaroTestEndpoint
