#pragma once
// Decodes a "PNG" resource of a module into straight (not premultiplied) RGBA pixels.

#include <windows.h>

#include <cstdint>
#include <vector>

namespace PomaroTest {

struct Rgba
{
    uint8_t r, g, b, a;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const Rgba& o) const { return !(*this == o); }
};

struct DecodedImage
{
    HRESULT result = E_FAIL;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<Rgba> pixels; // row by row
    Rgba at(uint32_t x, uint32_t y) const { return pixels[y * width + x]; }
};

// COM must be initialised on the calling thread.
DecodedImage decodePngResource(HMODULE module, int id);

} // namespace PomaroTest
