#include "testdrivers/asio/AsioTestConfig.h"

namespace PomaroTestAsio {

using namespace PomaroTestDrivers;

bool AsioTestConfig::fails(const char* call, uint32_t nth) const
{
    for (const auto& f : failingCalls)
        if (f.name == call && (f.nth == 0 || f.nth == nth))
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
    long* const numbers[] = {&c.sampleType,  &c.minFrames,       &c.maxFrames,    &c.preferredFrames,
                             &c.granularity, &c.outputs,         &c.inputs,       &c.resetAfter,
                             &c.resetBurst,  &c.sizeChangeAfter, &c.sizeChangeTo, &c.afterStop,
                             &c.threadEvery};
    const char* const numberKeys[] = {
        "type",           "min",        "max",         "preferred",   "granularity",
        "outputs",        "inputs",     "reset_after", "reset_burst", "size_change_after",
        "size_change_to", "after_stop", "thread_every"};
    bool* const flags[] = {&c.resetEveryInit, &c.callbackInStart};
    const char* const flagKeys[] = {"reset_every_init", "callback_in_start"};
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
        bool known = false;
        for (size_t i = 0; i < sizeof numbers / sizeof numbers[0]; ++i) {
            if (key == numberKeys[i]) {
                if (!parseSigned(value, *numbers[i]))
                    return bad("'" + key + "' needs a whole number");
                known = true;
            }
        }
        for (size_t i = 0; i < sizeof flags / sizeof flags[0]; ++i) {
            if (key == flagKeys[i]) {
                if (!parseYesNo(value, *flags[i]))
                    return bad("'" + key + "' is yes or no");
                known = true;
            }
        }
        if (known)
            continue;
        if (key == "rates") {
            c.rates.clear();
            for (const auto& item : splitList(value)) {
                long number = 0;
                if (!parseSigned(item, number) || number <= 0)
                    return bad("bad rate '" + item + "'");
                c.rates.push_back(static_cast<double>(number));
            }
        } else if (key == "init_error") {
            c.initFails = true;
            c.initError = value;
        } else if (key == "fail") {
            std::string why;
            if (!parseCallRules(value, c.failingCalls, why))
                return bad(why);
        } else if (key == "panel") {
            c.panelAsksReset = value == "reset";
            if (!c.panelAsksReset && !parseYesNo(value, c.hasPanel))
                return bad("'panel' is yes, no or reset");
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
        error =
            "buffer range " + std::to_string(c.minFrames) + ".." + std::to_string(c.maxFrames) + " is empty";
        return false;
    }
    out = std::move(c);
    return true;
}

} // namespace PomaroTestAsio
