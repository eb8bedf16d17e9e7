#pragma once
// Small text helpers for the endpoint's configuration. Platform-free.

#include <cstdint>
#include <string>
#include <vector>

namespace PomaroTestEndpoint {

std::string trim(const std::string& s);
// Items separated by commas or blanks, trimmed, empty items dropped.
std::vector<std::string> splitList(const std::string& s);
// Decimal or 0x-prefixed hexadecimal, the whole text; false on anything else or overflow.
bool parseUnsigned(const std::string& s, uint64_t& out);

} // namespace PomaroTestEndpoint
