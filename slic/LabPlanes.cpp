#include "LabPlanes.h"

#include <algorithm>
#include <cmath>

namespace Slic {
namespace {

// f(t) of the CIELAB definition is sampled at this many intervals over [0, 1] and read at the
// nearest sample: off by at most 0.03 in L and 0.25 in a* (just above the cube-root knee, near
// black), far below a visible difference, and much cheaper than interpolating.
constexpr int kFSteps = 16384;

struct TLabTables {
    float Linear[256];      // sRGB byte -> linear light 0..1
    float F[kFSteps + 1];   // f(i / kFSteps)
};

double SrgbToLinear(int byte)
{
    const double c = byte / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double LabF(double t)
{
    constexpr double delta = 6.0 / 29.0;
    return t > delta * delta * delta ? std::cbrt(t) : t / (3 * delta * delta) + 4.0 / 29.0;
}

TLabTables BuildTables()
{
    TLabTables t{};
    for (int i = 0; i < 256; ++i)
        t.Linear[i] = float(SrgbToLinear(i));
    for (int i = 0; i <= kFSteps; ++i)
        t.F[i] = float(LabF(double(i) / kFSteps));
    return t;
}

// Built on first use; the initialisation of a function-local static is thread-safe, and the
// tables are never written afterwards.
const TLabTables& Tables()
{
    static const TLabTables tables = BuildTables();
    return tables;
}

inline float NearestF(const float* f, float t)
{
    return f[int(std::clamp(t, 0.0f, 1.0f) * kFSteps + 0.5f)];
}

struct TLab {
    float L, A, B;
};

inline TLab Convert(const TLabTables& t, uint32_t pixel)
{
    const float r = t.Linear[(pixel >> 16) & 0xFF];
    const float g = t.Linear[(pixel >> 8) & 0xFF];
    const float b = t.Linear[pixel & 0xFF];
    // sRGB -> XYZ (D65), each row already divided by the white point's component.
    const float x = 0.43394994f * r + 0.37620977f * g + 0.18984029f * b;
    const float y = 0.21267290f * r + 0.71515220f * g + 0.07217500f * b;
    const float z = 0.01775658f * r + 0.10946796f * g + 0.87277546f * b;
    const float fx = NearestF(t.F, x);
    const float fy = NearestF(t.F, y);
    const float fz = NearestF(t.F, z);
    return {116.0f * fy - 16.0f, 500.0f * (fx - fy), 200.0f * (fy - fz)};
}

} // namespace

void ToLab(const uint32_t* pixels, size_t count, float* __restrict l, float* __restrict a,
           float* __restrict b)
{
    const TLabTables& t = Tables();
    for (size_t i = 0; i < count; ++i) {
        const TLab v = Convert(t, pixels[i]);
        l[i] = v.L;
        a[i] = v.A;
        b[i] = v.B;
    }
}

} // namespace Slic
