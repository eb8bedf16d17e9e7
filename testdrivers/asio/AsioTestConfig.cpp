#include "testdrivers/asio/AsioTestConfig.h"

#include <cerrno>
#include <cstdlib>

namespace PomaroTestAsio {

namespace {

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool toLong(const std::string& s, long& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != 0)
        return false;
    out = v;
    return true;
}

bool toBool(const std::string& s, bool& out)
{
    if (s == "yes" || s == "true" || s == "1") {
        out = true;
        return true;
    }
    if (s == "no" || s == "false" || s == "0") {
        out = false;
        return true;
    }
    return false;
}

std::vector<std::string> splitList(const std::string& s)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(',', start);
        if (comma == std::string::npos)
            comma = s.size();
        std::string item = trim(s.substr(start, comma - start));
        if (!item.empty())
            items.push_back(item);
        start = comma + 1;
    }
    return items;
}

} // namespace

bool AsioTestConfig::fails(const char* call) const
{
    for (const auto& f : failingCalls)
        if (f == call)
            return true;
    return false;
}

bool AsioTestConfig::acceptsFrames(long frames) const
{
    if (frames < minFrames || frames > maxFrames)
        return false;
    if (granularity == -1)
        return frames > 0 && (frames & (frames - 1)) == 0;
    if (granularity > 0)
        return (frames - minFrames) % granularity == 0;
    return frames == preferredFrames;
}

bool AsioTestConfig::acceptsRate(double hz) const
{
    for (double r : rates)
        if (r == hz)
            return true;
    return false;
}

bool parseAsioTestConfig(const std::string& text, AsioTestConfig& out, std::string& error)
{
    AsioTestConfig c;
    size_t pos = 0;
    int lineNumber = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;
        const auto bad = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return bad("no '='");
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        long number = 0;
        bool flag = false;
        if (key == "type" || key == "min" || key == "max" || key == "preferred" || key == "granularity" ||
            key == "outputs" || key == "inputs" || key == "reset_after" || key == "size_change_after" ||
            key == "size_change_to") {
            if (!toLong(value, number))
                return bad("'" + key + "' needs a whole number");
            long* field = key == "type"                ? &c.sampleType
                          : key == "min"               ? &c.minFrames
                          : key == "max"               ? &c.maxFrames
                          : key == "preferred"         ? &c.preferredFrames
                          : key == "granularity"       ? &c.granularity
                          : key == "outputs"           ? &c.outputs
                          : key == "inputs"            ? &c.inputs
                          : key == "reset_after"       ? &c.resetAfter
                          : key == "size_change_after" ? &c.sizeChangeAfter
                                                       : &c.sizeChangeTo;
            *field = number;
        } else if (key == "rates") {
            c.rates.clear();
            for (const auto& item : splitList(value)) {
                if (!toLong(item, number) || number <= 0)
                    return bad("bad rate '" + item + "'");
                c.rates.push_back(static_cast<double>(number));
            }
        } else if (key == "init_error") {
            c.initFails = true;
            c.initError = value;
        } else if (key == "fail") {
            for (const auto& item : splitList(value))
                c.failingCalls.push_back(item);
        } else if (key == "panel") {
            if (!toBool(value, flag))
                return bad("'panel' is yes or no");
            c.hasPanel = flag;
        } else if (key == "callback") {
            if (value != "timeinfo" && value != "switch")
                return bad("'callback' is switch or timeinfo");
            c.forceTimeInfo = value == "timeinfo";
        } else if (key == "wav") {
            c.wavPath = value;
        } else if (key == "stats") {
            c.statsPath = value;
        } else {
            return bad("unknown key '" + key + "'");
        }
    }
    if (c.minFrames < 1 || c.maxFrames < c.minFrames) {
        error = "buffer range " + std::to_string(c.minFrames) + ".." + std::to_string(c.maxFrames) + " is empty";
        return false;
    }
    out = std::move(c);
    return true;
}

} // namespace PomaroTestAsio
