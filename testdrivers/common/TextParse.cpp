#include "testdrivers/common/TextParse.h"

#include <algorithm>
#include <charconv>

namespace PomaroTestDrivers {

std::string trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::vector<std::string> splitList(const std::string& s)
{
    std::vector<std::string> out;
    for (size_t at = s.find_first_not_of(", \t"); at != std::string::npos;) {
        const size_t end = s.find_first_of(", \t", at);
        out.push_back(s.substr(at, end - at));
        at = s.find_first_not_of(", \t", end);
    }
    return out;
}

bool parseUnsigned(const std::string& s, uint64_t& out)
{
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const char *begin = s.data() + (hex ? 2 : 0), *end = s.data() + s.size();
    const auto [at, error] = std::from_chars(begin, end, out, hex ? 16 : 10);
    return begin != end && at == end && error == std::errc();
}

bool parseSigned(const std::string& s, long& out)
{
    const auto [at, error] = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && at == s.data() + s.size() && error == std::errc();
}

bool parseCallRules(const std::string& text, std::vector<CallRule>& rules, std::string& error)
{
    for (const std::string& item : splitList(text)) {
        const size_t colon = item.find(':'), hash = item.find('#');
        const std::string nth = hash < colon ? trim(item.substr(hash + 1, colon - hash - 1)) : "",
                          code = colon == std::string::npos ? "" : trim(item.substr(colon + 1));
        uint64_t n = 0, c = 0;
        if ((hash < colon && (!parseUnsigned(nth, n) || n == 0)) || n > 0xFFFFFFFFu ||
            (!code.empty() && !parseUnsigned(code, c)) || c > 0xFFFFFFFFu) {
            error = "bad number in '" + item + "'";
            return false;
        }
        rules.push_back({trim(item.substr(0, std::min(colon, hash))), uint32_t(n), uint32_t(c)});
    }
    return true;
}

} // namespace PomaroTestDrivers
