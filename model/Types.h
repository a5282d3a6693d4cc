// Shared value types of the model: growable arrays, the platform's rectangle and point, the one
// exception type, and the rounding every real-to-integer conversion uses.
#pragma once

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

using TIntVector = std::vector<int32_t>;
using TVector = std::vector<double>;
using TBoolVector = std::vector<bool>;
using TMatrix = std::vector<TVector>;

// Right and Bottom are exclusive.
struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
};

struct TPoint {
    int32_t X = 0, Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// The model's errors ("Stream Read Error", a bitmap that cannot be read, ...).
class TOrvixError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most superpixels a photograph is cut into: far more than any tooth needs, and it keeps the
// superpixel table and the segmentation's time bounded on the largest photographs. Also the top of
// the range that settings, options and result files are held to.
inline constexpr int32_t MaxSuperpixels = 100'000;

// Round to nearest, ties to even (the default floating-point rounding mode). Results beyond the
// range of int32_t saturate and NaN gives 0: no input is undefined behaviour.
inline int32_t RoundEven(double v)
{
    const double r = std::nearbyint(v);
    if (std::isnan(r))
        return 0;
    if (r >= 2147483648.0)
        return INT32_MAX;
    if (r < -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(r);
}

// The same rounding as std::nearbyint for |v| < 2^51, as a real, without a library call: adding
// 1.5 * 2^52 leaves no fraction bits, so the addition itself rounds half to even. Larger values
// come back large. For per-pixel loops.
inline double RoundEvenFast(double v)
{
    constexpr double shifter = 6755399441055744.0; // 1.5 * 2^52
    return (v + shifter) - shifter;
}
