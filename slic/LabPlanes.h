// CIELAB conversion of 0x??RRGGBB pixels into three float planes (structure of arrays), the form
// the clustering loops read fastest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Slic {

// Fills l, a and b [0 .. count-1] with the CIELAB values (sRGB primaries, D65 white, L in 0..100)
// of pixels[0 .. count-1]; the upper byte of a pixel is ignored. The lookup tables are built once,
// thread-safely, on first use. Any thread.
void ToLab(const uint32_t* pixels, size_t count, float* l, float* a, float* b);

} // namespace Slic
