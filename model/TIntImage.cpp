#include "TIntImage.h"

#include <QImage>
#include <algorithm>
#include <cstring>
#include <numbers>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Rounding as RoundEvenFast: nearbyint is a library call that saves and restores the
// floating-point environment, a third of the cost of a transform. Positions beyond 2^51 come back
// large (NaN stays NaN), so the bounds test still rejects them.
// One row of the general case of Transform. Everything is held in locals, so that the compiler
// need not reload it after every store into the destination.
class TRowSampler {
public:
    TRowSampler(const TIntImage& source, const TTransPars& pars)
        : fSrc(source.img.data()), fWidth(source.Width()), fOx(source.OriginX()), fOy(source.OriginY()),
          fMaxX(source.Width() - 1), fMaxY(source.Height() - 1), fCos(pars.cosa), fSin(pars.sina),
          fScaleX(pars.Scalex), fShiftX(pars.Shiftx), fScaleY(pars.Scaley), fShiftY(pars.Shifty)
    {
    }

    // dst[x] for x in [left, right) of output row y; dst was zero-filled.
    void Row(int32_t y, int32_t left, int32_t right, int32_t* dst) const
    {
        const double v = (fOy - y) * fScaleY + fShiftY;
        int32_t x = left;
#ifdef __SSE2__
        x = Pairs(v, left, right, dst);
#endif
        for (; x < right; ++x) {
            const double u = (x - fOx) * fScaleX + fShiftX;
            const double sx = RoundEvenFast(u * fCos + v * fSin + fOx);
            const double sy = RoundEvenFast(fOy - (v * fCos - u * fSin));
            // Compared as reals so that far-away positions never overflow an integer.
            if (sx >= 0 && sx <= fMaxX && sy >= 0 && sy <= fMaxY)
                dst[x] = fSrc[size_t(int32_t(sx)) + size_t(int32_t(sy)) * size_t(fWidth)];
        }
    }

private:
#ifdef __SSE2__
    // Two pixels at a time, with the same operations in the same order as the scalar loop; returns
    // the first column left over. The index sx + sy * width is exact in a double and below 2^31.
    int32_t Pairs(double v, int32_t left, int32_t right, int32_t* dst) const
    {
        const __m128d shifter = _mm_set1_pd(6755399441055744.0), zero = _mm_setzero_pd();
        const __m128d cosa = _mm_set1_pd(fCos), sina = _mm_set1_pd(fSin), ox = _mm_set1_pd(fOx),
                      oy = _mm_set1_pd(fOy), scalex = _mm_set1_pd(fScaleX), shiftx = _mm_set1_pd(fShiftX),
                      maxx = _mm_set1_pd(fMaxX), maxy = _mm_set1_pd(fMaxY), width = _mm_set1_pd(fWidth);
        const __m128d vsin = _mm_set1_pd(v * fSin), vcos = _mm_set1_pd(v * fCos);
        __m128d xs = _mm_set_pd(left + 1, left);
        int32_t x = left;
        for (; x + 1 < right; x += 2, xs = _mm_add_pd(xs, _mm_set1_pd(2))) {
            const __m128d u = _mm_add_pd(_mm_mul_pd(_mm_sub_pd(xs, ox), scalex), shiftx);
            const __m128d rx = _mm_add_pd(_mm_add_pd(_mm_mul_pd(u, cosa), vsin), ox);
            const __m128d ry = _mm_sub_pd(oy, _mm_sub_pd(vcos, _mm_mul_pd(u, sina)));
            const __m128d sx = _mm_sub_pd(_mm_add_pd(rx, shifter), shifter);
            const __m128d sy = _mm_sub_pd(_mm_add_pd(ry, shifter), shifter);
            const __m128d inside = _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(sx, zero), _mm_cmple_pd(sx, maxx)),
                                              _mm_and_pd(_mm_cmpge_pd(sy, zero), _mm_cmple_pd(sy, maxy)));
            const int mask = _mm_movemask_pd(inside);
            if (mask == 0)
                continue;
            const __m128i index = _mm_cvttpd_epi32(_mm_add_pd(sx, _mm_mul_pd(sy, width)));
            if (mask & 1)
                dst[x] = fSrc[_mm_cvtsi128_si32(index)];
            if (mask & 2)
                dst[x + 1] = fSrc[_mm_cvtsi128_si32(_mm_srli_si128(index, 4))];
        }
        return x;
    }
#endif

    const int32_t* fSrc;
    int32_t fWidth;
    double fOx, fOy, fMaxX, fMaxY, fCos, fSin, fScaleX, fShiftX, fScaleY, fShiftY;
};

} // namespace

void TTransPars::SetAngle(double Value)
{
    const double rad = Value * std::numbers::pi / 180;
    cosa = std::cos(rad);
    sina = std::sin(rad);
    fAngle = Value;
}

void TTransPars::Init(double a, double sx, double sy, double scx, double scy, double C)
{
    SetAngle(a);
    Shiftx = sx;
    Shifty = sy;
    Scalex = scx;
    Scaley = scy;
    Coeff = C;
}

bool TTransPars::IsIdentity() const
{
    return fAngle == 0 && Shiftx == 0 && Shifty == 0 && Scalex == 1 && Scaley == 1;
}

TTransPars TTransPars::Identity()
{
    TTransPars p;
    p.Init(0, 0, 0, 1, 1, 1);
    return p;
}

void TIntImage::SetSize(int32_t aWidth, int32_t aHeight)
{
    fWidth = aWidth;
    fHeight = aHeight;
    originx = aWidth / 2.0;
    originy = aHeight / 2.0;
    img.resize(size_t(std::max(aWidth, 0)) * size_t(std::max(aHeight, 0)), 0);
}

void TIntImage::ConvertToIntensity()
{
    for (int32_t& p : img) {
        const int32_t r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
        p = std::max({r, g, b});
    }
}

void TIntImage::Setbitmap(const QImage& b)
{
    SetSize(b.width(), b.height());
    for (int32_t r = 0; r < fHeight; ++r)
        std::memcpy(img.data() + size_t(r) * fWidth, b.constScanLine(r), size_t(fWidth) * 4);
}

void TIntImage::GetBitmap(QImage& b) const
{
    b = QImage(fWidth, fHeight, QImage::Format_RGB32);
    for (int32_t r = 0; r < fHeight; ++r) {
        auto* line = reinterpret_cast<uint32_t*>(b.scanLine(r));
        const int32_t* src = img.data() + size_t(r) * fWidth;
        // Qt wants the unused byte of an RGB32 pixel set; the colour bytes are copied unchanged.
        for (int32_t x = 0; x < fWidth; ++x)
            line[x] = uint32_t(src[x]) | 0xff000000u;
    }
}

TIntImage TIntImage::FitToRect(const TRect& Rect, double& Scale) const
{
    const int32_t rw = Rect.Width(), rh = Rect.Height();
    // A one-pixel axis has no span to divide: its factor is 0 rather than a division by zero.
    const double fx = rw > 1 ? double(fWidth - 1) / (rw - 1) : 0.0;
    const double fy = rh > 1 ? double(fHeight - 1) / (rh - 1) : 0.0;
    Scale = std::min(fx, fy);
    TIntImage result;
    result.SetSize(rw, rh);
    TIntVector cols(size_t(std::max(rw, 0)));
    for (int32_t c = 0; c < rw; ++c)
        cols[c] = RoundEven(c * Scale);
    for (int32_t r = 0; r < rh; ++r) {
        const int32_t* src = img.data() + size_t(RoundEven(r * Scale)) * fWidth;
        int32_t* dst = result.img.data() + size_t(r) * rw;
        for (int32_t c = 0; c < rw; ++c)
            dst[c] = src[cols[c]];
    }
    return result;
}

TIntImage TIntImage::CopyRect(const TRect& Rect) const
{
    TIntImage result;
    Transform(TTransPars::Identity(), result, Rect);
    return result;
}

void TIntImage::Transform(const TTransPars& pars, TIntVector& trans, const TRect& Rect) const
{
    const int32_t rw = Rect.Width(), rh = Rect.Height();
    if (rw <= 0 || rh <= 0 || trans.size() < size_t(rw) * size_t(rh))
        return;
    if (pars.IsIdentity()) {
        for (int32_t y = Rect.Top; y < Rect.Bottom; ++y)
            std::memcpy(trans.data() + size_t(y - Rect.Top) * rw,
                        img.data() + size_t(y) * fWidth + Rect.Left, size_t(rw) * 4);
        return;
    }
    std::fill(trans.begin(), trans.end(), 0);
    const TRowSampler sampler(*this, pars);
    for (int32_t y = Rect.Top; y < Rect.Bottom; ++y)
        sampler.Row(y, Rect.Left, Rect.Right, trans.data() + size_t(y - Rect.Top) * rw - Rect.Left);
}

void TIntImage::Transform(const TTransPars& pars, TIntVector& trans) const
{
    Transform(pars, trans, TRect{0, 0, fWidth, fHeight});
}

void TIntImage::Transform(const TTransPars& pars, TIntImage& trans) const
{
    Transform(pars, trans, TRect{0, 0, fWidth, fHeight});
}

void TIntImage::Transform(const TTransPars& pars, TIntImage& trans, const TRect& Rect) const
{
    trans.img.clear();
    trans.SetSize(Rect.Width(), Rect.Height());
    Transform(pars, trans.img, Rect);
}

TRect ProportionalRect(const TRect& R, int32_t w, int32_t h)
{
    const int32_t W = R.Width(), H = R.Height();
    if (h == 0 || w == 0 || W == 0 || H == 0)
        return R;
    const float f = float(std::min(double(W) / w, double(H) / h));
    // Both are 0 or negative: the picture never grows past the rectangle.
    const int32_t dy = (RoundEven(double(h) * double(f)) - H) / 2;
    const int32_t dx = (RoundEven(double(w) * double(f)) - W) / 2;
    return {R.Left - dx, R.Top - dy, R.Right + dx, R.Bottom + dy};
}
