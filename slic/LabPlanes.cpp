#include "LabPlanes.h"

#include <algorithm>
#include <cmath>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__GNUC__) && defined(__x86_64__)
#define SLIC_GATHER_LAB 1

#define SLIC_AVX2 __attribute__((target("avx2"), always_inline)) inline

SLIC_AVX2 __m256 GatherLinear(const TLabTables& t, __m256i pixels, int shift)
{
    const __m256i index
        = _mm256_and_si256(_mm256_srli_epi32(pixels, shift), _mm256_set1_epi32(0xFF));
    return _mm256_i32gather_ps(t.Linear, index, 4);
}

SLIC_AVX2 __m256 GatherF(const TLabTables& t, __m256 v)
{
    const __m256 clamped
        = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    const __m256 position = _mm256_add_ps(_mm256_mul_ps(clamped, _mm256_set1_ps(float(kFSteps))),
                                          _mm256_set1_ps(0.5f));
    return _mm256_i32gather_ps(t.F, _mm256_cvttps_epi32(position), 4);
}

SLIC_AVX2 __m256 Mix(float cr, __m256 r, float cg, __m256 g, float cb, __m256 b)
{
    return _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(cr), r),
                                       _mm256_mul_ps(_mm256_set1_ps(cg), g)),
                         _mm256_mul_ps(_mm256_set1_ps(cb), b));
}

// Convert() for eight pixels at a time, with AVX2 gathers for the table look-ups. The arithmetic
// is the same, operation for operation, so both give identical values.
__attribute__((target("avx2"))) void ToLabAvx2(const TLabTables& t, const uint32_t* pixels,
                                               size_t count, float* l, float* a, float* b)
{
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + i));
        const __m256 r = GatherLinear(t, p, 16), g = GatherLinear(t, p, 8),
                     bl = GatherLinear(t, p, 0);
        const __m256 fx = GatherF(t, Mix(0.43394994f, r, 0.37620977f, g, 0.18984029f, bl));
        const __m256 fy = GatherF(t, Mix(0.21267290f, r, 0.71515220f, g, 0.07217500f, bl));
        const __m256 fz = GatherF(t, Mix(0.01775658f, r, 0.10946796f, g, 0.87277546f, bl));
        _mm256_storeu_ps(l + i, _mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(116.0f), fy),
                                              _mm256_set1_ps(16.0f)));
        _mm256_storeu_ps(a + i, _mm256_mul_ps(_mm256_set1_ps(500.0f), _mm256_sub_ps(fx, fy)));
        _mm256_storeu_ps(b + i, _mm256_mul_ps(_mm256_set1_ps(200.0f), _mm256_sub_ps(fy, fz)));
    }
    for (; i < count; ++i) {
        const TLab v = Convert(t, pixels[i]);
        l[i] = v.L;
        a[i] = v.A;
        b[i] = v.B;
    }
}
#endif

} // namespace

void ToLab(const uint32_t* pixels, size_t count, float* __restrict l, float* __restrict a,
           float* __restrict b)
{
    const TLabTables& t = Tables();
#ifdef SLIC_GATHER_LAB
    if (__builtin_cpu_supports("avx2")) {
        ToLabAvx2(t, pixels, count, l, a, b);
        return;
    }
#endif
    for (size_t i = 0; i < count; ++i) {
        const TLab v = Convert(t, pixels[i]);
        l[i] = v.L;
        a[i] = v.A;
        b[i] = v.B;
    }
}

} // namespace Slic
