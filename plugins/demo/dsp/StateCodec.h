// The saved state of the instrument: the four sound parameters, as a fixed
// little-endian record with a tag and a version so foreign data is refused.
#pragma once

#include <cstddef>
#include <cstdint>

namespace PomaroDemo {

struct DemoState
{
    double volume;
    double tone;
    double release;
    double vibrato;
};

DemoState defaultState();

constexpr size_t kStateBytes = 4 + 4 + 4 * 8;

void encodeState(const DemoState& state, uint8_t (&out)[kStateBytes]);
// False (and out untouched) for a wrong tag or version, too few bytes or a
// value that is not a number; values outside 0..1 are clamped.
bool decodeState(const uint8_t* data, size_t size, DemoState& out);

} // namespace PomaroDemo
