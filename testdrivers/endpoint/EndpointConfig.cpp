#include "testdrivers/endpoint/EndpointConfig.h"

#include "testdrivers/common/TextParse.h"

namespace PomaroTestEndpoint {

using namespace PomaroTestDrivers;

namespace {

std::string defaultId(size_t index)
{
    return "{0.0.0.00000000}.{pomaro-test-endpoint-" + std::to_string(index) + "}";
}

bool parseU32(const std::string& v, uint32_t& out)
{
    uint64_t x = 0;
    if (!parseUnsigned(v, x) || x > 0xFFFFFFFFu)
        return false;
    out = uint32_t(x);
    return true;
}

bool parsePeriod(const std::string& v, int64_t& out)
{
    uint64_t x = 0;
    // Periods above one second are no audio device's; zero would divide by zero later.
    if (!parseUnsigned(v, x) || x == 0 || x > 10000000)
        return false;
    out = int64_t(x);
    return true;
}

bool endpointKey(EndpointSpec& e, const std::string& key, const std::string& value, std::string& why)
{
    if (key == "name") {
        e.name = value;
        e.hasName = true;
    } else if (key == "id") {
        if (value.empty()) {
            why = "empty id";
            return false;
        }
        e.id = value;
    } else if (key == "state") {
        if (value == "active")
            e.state = StateActive;
        else if (value == "disabled")
            e.state = StateDisabled;
        else if (value == "notpresent")
            e.state = StateNotPresent;
        else if (value == "unplugged")
            e.state = StateUnplugged;
        else {
            why = "unknown state '" + value + "'";
            return false;
        }
    } else if (key == "flow") {
        if (value == "render")
            e.render = true;
        else if (value == "capture")
            e.render = false;
        else {
            why = "unknown flow '" + value + "'";
            return false;
        }
    } else if (key == "rates") {
        e.rates.clear();
        for (const std::string& item : splitList(value)) {
            uint32_t hz = 0;
            if (!parseU32(item, hz) || hz < 1000 || hz > 768000) {
                why = "bad rate '" + item + "'";
                return false;
            }
            e.rates.push_back(hz);
        }
    } else if (key == "period") {
        if (!parsePeriod(value, e.defaultPeriod)) {
            why = "bad period '" + value + "'";
            return false;
        }
    } else if (key == "min_period") {
        if (!parsePeriod(value, e.minPeriod)) {
            why = "bad min_period '" + value + "'";
            return false;
        }
    } else if (key == "align") {
        if (!parseU32(value, e.alignFrames)) {
            why = "bad align '" + value + "'";
            return false;
        }
    } else if (key == "not_aligned") {
        size_t colon = value.find(':');
        if (colon == std::string::npos || !parseU32(trim(value.substr(0, colon)), e.notAlignedRequest) ||
            !parseU32(trim(value.substr(colon + 1)), e.notAlignedAnswer) || e.notAlignedRequest == 0 ||
            e.notAlignedAnswer == 0) {
            why = "not_aligned wants REQUEST:ALIGNED frame counts";
            return false;
        }
    } else if (key == "extra_frames") {
        if (!parseU32(value, e.extraFrames) || e.extraFrames > 1u << 20) {
            why = "bad extra_frames '" + value + "'";
            return false;
        }
    } else if (key == "fail") {
        return parseFailRules(value, false, e.failures, why);
    } else {
        why = "unknown key '" + key + "' in [endpoint]";
        return false;
    }
    return true;
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
