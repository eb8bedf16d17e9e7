#pragma once
// What the test drivers' configuration texts have in common: trimmed values, lists,
// numbers, and the "fail = call#n:code" lists. Platform-free.

#include <cstdint>
#include <string>
#include <vector>

namespace PomaroTestDrivers {

std::string trim(const std::string& s);
// Items separated by commas or blanks, trimmed, empty items dropped.
std::vector<std::string> splitList(const std::string& s);
// Decimal or 0x-prefixed hexadecimal, the whole text; false on anything else or overflow.
bool parseUnsigned(const std::string& s, uint64_t& out);
// Decimal with an optional minus sign, the whole text, within the range of long.
bool parseSigned(const std::string& s, long& out);

// One item of a "fail" list: the call's name, "#n" to fail only its n-th call (0: every
// call), ":code" for the result it answers (0: the driver's own choice).
struct CallRule
{
    std::string name;
    uint32_t nth = 0, code = 0;
};
// "Initialize#2:0x88890004, Start" into rules; false with a message on a bad number.
bool parseCallRules(const std::string& text, std::vector<CallRule>& rules, std::string& error);

} // namespace PomaroTestDrivers
