#include "testdrivers/common/TextParse.h"

#include <charconv>

namespace PomaroTestDrivers {

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> splitList(const std::string& s)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!cur.empty())
                out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        out.push_back(cur);
    return out;
}

bool parseUnsigned(const std::string& s, uint64_t& out)
{
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const char *begin = s.data() + (hex ? 2 : 0), *end = s.data() + s.size();
    uint64_t v = 0;
    const auto [at, error] = std::from_chars(begin, end, v, hex ? 16 : 10);
    if (begin == end || at != end || error != std::errc())
        return false;
    out = v;
    return true;
}

bool parseSigned(const std::string& s, long& out)
{
    long v = 0;
    const auto [at, error] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || at != s.data() + s.size() || error != std::errc())
        return false;
    out = v;
    return true;
}

bool parseYesNo(const std::string& s, bool& out)
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

bool parseCallRules(const std::string& text, std::vector<CallRule>& rules, std::string& error)
{
    for (const std::string& item : splitList(text)) {
        CallRule r;
        r.name = item;
        const size_t colon = r.name.find(':');
        if (colon != std::string::npos) {
            r.code = trim(r.name.substr(colon + 1));
            r.name = trim(r.name.substr(0, colon));
        }
        const size_t hash = r.name.find('#');
        if (hash != std::string::npos) {
            const std::string nth = trim(r.name.substr(hash + 1));
            r.name = trim(r.name.substr(0, hash));
            uint64_t v = 0;
            if (!parseUnsigned(nth, v) || v == 0 || v > 0xFFFFFFFFu) {
                error = "bad call number '" + nth + "'";
                return false;
            }
            r.nth = uint32_t(v);
        }
        rules.push_back(r);
    }
    return true;
}

} // namespace PomaroTestDrivers
