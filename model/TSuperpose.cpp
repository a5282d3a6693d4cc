#include "TSuperpose.h"

#include "Nelm.h"

#include <algorithm>
#include <array>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// A grey image sampled bilinearly through a transform. The pixels are kept as reals inside a
// border of one zero pixel, so that the four neighbours of any position less than a pixel outside
// the image are read without a test; the image fades to 0 over that pixel, and positions further
// out are 0, as Transform leaves them.
class TBilinearPlane {
public:
    explicit TBilinearPlane(const TIntImage& grey)
        : fWidth(grey.Width()), fHeight(grey.Height()), fStride(size_t(grey.Width()) + 2), fOx(grey.OriginX()),
          fOy(grey.OriginY()), fPixels(fStride * (size_t(grey.Height()) + 2), 0.0f)
    {
        for (int32_t y = 0; y < fHeight; ++y)
            for (int32_t x = 0; x < fWidth; ++x)
                fPixels[size_t(x + 1) + size_t(y + 1) * fStride] = float(grey.Pixels(x, y));
    }

    // dst[0 .. right - left) := output pixels left .. right - 1 of row y of Transform through
    // pars, interpolated instead of rounded to the nearest pixel.
    void Row(const TTransPars& pars, int32_t y, int32_t left, int32_t right, float* dst) const
    {
        // The source position is linear along the row: the same formula as Transform, stepped,
        // and moved by one pixel into the bordered plane.
        const double v = (fOy - y) * pars.Scaley + pars.Shifty;
        const double u0 = (left - fOx) * pars.Scalex + pars.Shiftx;
        const double x0 = u0 * pars.cosa + v * pars.sina + fOx + 1, y0 = fOy - (v * pars.cosa - u0 * pars.sina) + 1;
        const double dx = pars.Scalex * pars.cosa, dy = pars.Scalex * pars.sina;
        const int32_t n = right - left;
        int32_t k = 0;
#ifdef __SSE2__
        k = Quads(x0, y0, dx, dy, n, dst);
#endif
        for (; k < n; ++k)
            dst[k] = Sample(x0 + k * dx, y0 + k * dy);
    }

private:
    // The plane at (px, py) of the bordered plane.
    float Sample(double px, double py) const
    {
        if (!(px >= 0 && px < fWidth + 1 && py >= 0 && py < fHeight + 1))
            return 0;
        const int32_t ix = int32_t(px), iy = int32_t(py);
        const float ax = float(px - ix), ay = float(py - iy);
        const float* p = fPixels.data() + size_t(ix) + size_t(iy) * fStride;
        const float top = p[0] + ax * (p[1] - p[0]);
        const float bottom = p[fStride] + ax * (p[fStride + 1] - p[fStride]);
        return top + ay * (bottom - top);
    }

#ifdef __SSE2__
    // Four pixels at a time. Positions stay in double precision: rounded to single precision
    // (3e-5 pixel) they make the cost jitter by more than the search's tolerance, and the search
    // then needs a third more evaluations. Only the sixteen reads are scalar. Returns the first
    // pixel left over.
    int32_t Quads(double x0, double y0, double dx, double dy, int32_t n, float* dst) const
    {
        const __m128 zero = _mm_setzero_ps(), maxX = _mm_set1_ps(float(fWidth + 1)),
                     maxY = _mm_set1_ps(float(fHeight + 1)), stride = _mm_set1_ps(float(fStride));
        const __m128d stepX = _mm_set1_pd(dx), stepY = _mm_set1_pd(dy);
        const __m128d lanes01 = _mm_setr_pd(0, 1), lanes23 = _mm_setr_pd(2, 3);
        const float* pixels = fPixels.data();
        const size_t s = fStride;
        alignas(16) int32_t index[4];
        int32_t k = 0;
        for (; k + 4 <= n; k += 4) {
            const __m128d bx = _mm_set1_pd(x0 + k * dx), by = _mm_set1_pd(y0 + k * dy);
            const __m128d x01 = _mm_add_pd(bx, _mm_mul_pd(lanes01, stepX));
            const __m128d x23 = _mm_add_pd(bx, _mm_mul_pd(lanes23, stepX));
            const __m128d y01 = _mm_add_pd(by, _mm_mul_pd(lanes01, stepY));
            const __m128d y23 = _mm_add_pd(by, _mm_mul_pd(lanes23, stepY));
            // The bounds test in single precision: a lane it rounds onto the far edge reads 0
            // there anyway.
            const __m128 px = _mm_movelh_ps(_mm_cvtpd_ps(x01), _mm_cvtpd_ps(x23));
            const __m128 py = _mm_movelh_ps(_mm_cvtpd_ps(y01), _mm_cvtpd_ps(y23));
            const __m128 inside = _mm_and_ps(_mm_and_ps(_mm_cmpge_ps(px, zero), _mm_cmplt_ps(px, maxX)),
                                             _mm_and_ps(_mm_cmpge_ps(py, zero), _mm_cmplt_ps(py, maxY)));
            if (_mm_movemask_ps(inside) == 0) {
                _mm_storeu_ps(dst + k, zero);
                continue;
            }
            const __m128i ix01 = _mm_cvttpd_epi32(x01), ix23 = _mm_cvttpd_epi32(x23);
            const __m128i iy01 = _mm_cvttpd_epi32(y01), iy23 = _mm_cvttpd_epi32(y23);
            const __m128 ax = _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(x01, _mm_cvtepi32_pd(ix01))),
                                            _mm_cvtpd_ps(_mm_sub_pd(x23, _mm_cvtepi32_pd(ix23))));
            const __m128 ay = _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(y01, _mm_cvtepi32_pd(iy01))),
                                            _mm_cvtpd_ps(_mm_sub_pd(y23, _mm_cvtepi32_pd(iy23))));
            // Lanes outside read pixel 0 and are cleared at the end. The index is exact in single
            // precision: the plane has far fewer than 2^24 pixels.
            const __m128 fx = _mm_and_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi64(ix01, ix23)), inside);
            const __m128 fy = _mm_and_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi64(iy01, iy23)), inside);
            const __m128i at = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(fy, stride), fx));
            _mm_store_si128(reinterpret_cast<__m128i*>(index), at);
            const float* p0 = pixels + index[0];
            const float* p1 = pixels + index[1];
            const float* p2 = pixels + index[2];
            const float* p3 = pixels + index[3];
            const __m128 a = _mm_setr_ps(p0[0], p1[0], p2[0], p3[0]);
            const __m128 b = _mm_setr_ps(p0[1], p1[1], p2[1], p3[1]);
            const __m128 c = _mm_setr_ps(p0[s], p1[s], p2[s], p3[s]);
            const __m128 d = _mm_setr_ps(p0[s + 1], p1[s + 1], p2[s + 1], p3[s + 1]);
            const __m128 top = _mm_add_ps(a, _mm_mul_ps(ax, _mm_sub_ps(b, a)));
            const __m128 bottom = _mm_add_ps(c, _mm_mul_ps(ax, _mm_sub_ps(d, c)));
            const __m128 value = _mm_add_ps(top, _mm_mul_ps(ay, _mm_sub_ps(bottom, top)));
            _mm_storeu_ps(dst + k, _mm_and_ps(value, inside));
        }
        return k;
    }
#endif

    int32_t fWidth, fHeight;
    size_t fStride;
    double fOx, fOy;
    std::vector<float> fPixels;
};

namespace {

constexpr int32_t ReducedWidth = 256;

// Starts scored before the search, as offsets from the start transform; each stage is centred on
// the best start so far. The coarse grid samples every second pixel: angles -30..30 degrees in
// steps of 3 (photographs are often held at more than 18 degrees), shifts over 3/16 of each side
// of the reduced plane in steps of 4 pixels. Its best start is often a cell off (its cost is
// noisy) and the search does not recover from a start 3 degrees away, so finer grids follow.
struct TGridStage {
    double AngleStep;
    int32_t AngleSteps; // angles: centre +- AngleSteps x AngleStep
    int32_t ShiftStep;
    int32_t ShiftSteps; // shifts: centre +- ShiftSteps x ShiftStep; 0 for the coarse reach
    bool Dense;         // every pixel rather than every second one
};
constexpr TGridStage GridStages[] = {
    {3, 10, 4, 0, false},
    {0.5, 6, 1, 4, false},
    {0.25, 1, 1, 1, true},
};
constexpr int32_t CoarseShiftStep = 4;

int32_t CoarseReach(int32_t length)
{
    return 3 * length / 16 / CoarseShiftStep * CoarseShiftStep;
}

// Degrees, and pixels of the reduced output plane.
struct TGridOffset {
    double Angle = 0;
    int32_t X = 0, Y = 0;
    bool IsZero() const { return Angle == 0 && X == 0 && Y == 0; }
};

using TOffsetFilter = std::function<bool(const TGridOffset&)>;

// One parity class of a rectangle's pixels, (2i + px, 2j + py), as a dense array.
struct TParityPlane {
    std::vector<int16_t> Pixels;
    int32_t Width = 0, Height = 0;
};

// Scores starts with the fit's cost.
//
// A shift of the parameters by (dx * Scalex, dy * Scaley) moves the transformed image by exactly
// (dx, dy) output pixels, so each angle needs one (bilinear) rendering of Suspect over FitRect
// grown by the largest shift; every shift is then a window into it, rounded to grey levels. Etalon and rendering are split into their
// four pixel parities, so that every second pixel of any window is a block of contiguous rows of
// one plane. The cost sum (E - g S)^2 = sum E^2 - 2 g sum E S + g^2 sum S^2 then takes two
// integer dot products per parity plane.
class TStartGrid {
public:
    TStartGrid(const TIntImage& etalon, const TBilinearPlane& suspect, const TRect& fitRect);
    // The best start around base for the given gain among the offsets accept lets through: the
    // zero offset (base itself) unless another is strictly better.
    TGridOffset Best(const TTransPars& base, double gain, const TOffsetFilter& accept);

private:
    void Scan(const TTransPars& base, double gain, const TGridStage& stage, const TOffsetFilter& accept);
    void Render(const TTransPars& pars);
    double WindowCost(int32_t dx, int32_t dy, double gain, bool dense) const;

    const TBilinearPlane& fSuspect;
    TRect fFit;
    int32_t fCoarseX, fCoarseY; // shift reach of the coarse grid
    int32_t fReachX, fReachY;   // largest shift any stage can reach
    TRect fRenderRect;          // fFit grown by the reach
    std::vector<float> fRender;
    TParityPlane fPlanes[4]; // of the rendering; plane px + 2 py
    TParityPlane fEtalon[4]; // of the etalon over fFit
    double fEtalonSquares[4] = {};
    TGridOffset fBest;
    double fBestCost = 0, fZeroCost = 0;
};

inline int16_t Level(int32_t v)
{
    return int16_t(v);
}
inline int16_t Level(float v)
{
    return int16_t(v + 0.5f); // never negative
}

// Splits the w x h pixels at pixels (row stride stride) into their four parity planes.
template <typename TPixel>
void SplitParities(const TPixel* pixels, int32_t w, int32_t h, size_t stride, TParityPlane (&planes)[4])
{
    for (int32_t q = 0; q < 4; ++q) {
        TParityPlane& p = planes[q];
        p.Width = (w - (q & 1) + 1) / 2;
        p.Height = (h - (q >> 1) + 1) / 2;
        p.Pixels.resize(size_t(p.Width) * size_t(p.Height));
        for (int32_t j = 0; j < p.Height; ++j) {
            const TPixel* row = pixels + size_t(2 * j + (q >> 1)) * stride + (q & 1);
            int16_t* out = p.Pixels.data() + size_t(j) * p.Width;
            for (int32_t i = 0; i < p.Width; ++i)
                out[i] = Level(row[2 * i]);
        }
    }
}

TStartGrid::TStartGrid(const TIntImage& etalon, const TBilinearPlane& suspect, const TRect& fitRect)
    : fSuspect(suspect), fFit(fitRect), fCoarseX(CoarseReach(etalon.Width())), fCoarseY(CoarseReach(etalon.Height())),
      fReachX(fCoarseX), fReachY(fCoarseY)
{
    for (const TGridStage& stage : GridStages) {
        fReachX += stage.ShiftSteps * stage.ShiftStep;
        fReachY += stage.ShiftSteps * stage.ShiftStep;
    }
    fRenderRect = {fFit.Left - fReachX, fFit.Top - fReachY, fFit.Right + fReachX, fFit.Bottom + fReachY};
    fRender.resize(size_t(fRenderRect.Width()) * size_t(fRenderRect.Height()));

    SplitParities(etalon.img.data() + fFit.Left + size_t(fFit.Top) * etalon.Width(), fFit.Width(), fFit.Height(),
                  size_t(etalon.Width()), fEtalon);
    for (int32_t q = 0; q < 4; ++q)
        for (int16_t e : fEtalon[q].Pixels)
            fEtalonSquares[q] += double(e) * e;
}

void TStartGrid::Render(const TTransPars& pars)
{
    const int32_t w = fRenderRect.Width();
    for (int32_t y = fRenderRect.Top; y < fRenderRect.Bottom; ++y)
        fSuspect.Row(pars, y, fRenderRect.Left, fRenderRect.Right, fRender.data() + size_t(y - fRenderRect.Top) * w);
    SplitParities(fRender.data(), w, fRenderRect.Height(), size_t(w), fPlanes);
}

double TStartGrid::WindowCost(int32_t dx, int32_t dy, double gain, bool dense) const
{
    double cost = 0;
    for (int32_t q = 0; q < (dense ? 4 : 1); ++q) {
        // Etalon pixel (Left + c, Top + r) meets rendering pixel (c + dx + reach, r - dy + reach).
        const int32_t c0 = (q & 1) + dx + fReachX, r0 = (q >> 1) - dy + fReachY;
        const TParityPlane& plane = fPlanes[(c0 & 1) + 2 * (r0 & 1)];
        const TParityPlane& etalon = fEtalon[q];
        const int16_t* window = plane.Pixels.data() + c0 / 2 + size_t(r0 / 2) * plane.Width;
        int64_t products = 0, squares = 0;
        for (int32_t j = 0; j < etalon.Height; ++j) {
            const int16_t* e = etalon.Pixels.data() + size_t(j) * etalon.Width;
            const int16_t* s = window + size_t(j) * plane.Width;
            int32_t rowProducts = 0, rowSquares = 0; // at most 255^2 x 96
            for (int32_t i = 0; i < etalon.Width; ++i) {
                rowProducts += int32_t(e[i]) * s[i];
                rowSquares += int32_t(s[i]) * s[i];
            }
            products += rowProducts;
            squares += rowSquares;
        }
        cost += fEtalonSquares[q] - 2 * gain * double(products) + gain * gain * double(squares);
    }
    return cost;
}

void TStartGrid::Scan(const TTransPars& base, double gain, const TGridStage& stage, const TOffsetFilter& accept)
{
    const TGridOffset centre = fBest;
    const int32_t stepsX = stage.ShiftSteps > 0 ? stage.ShiftSteps : fCoarseX / stage.ShiftStep;
    const int32_t stepsY = stage.ShiftSteps > 0 ? stage.ShiftSteps : fCoarseY / stage.ShiftStep;
    // Costs of different samplings do not compare: each stage starts from its own score of centre.
    fBestCost = fZeroCost = std::numeric_limits<double>::infinity();
    for (int32_t a = -stage.AngleSteps; a <= stage.AngleSteps; ++a) {
        const double angle = centre.Angle + a * stage.AngleStep;
        TTransPars pars = base;
        pars.SetAngle(base.fAngle + angle);
        Render(pars);
        for (int32_t sy = -stepsY; sy <= stepsY; ++sy)
            for (int32_t sx = -stepsX; sx <= stepsX; ++sx) {
                const TGridOffset offset{angle, centre.X + sx * stage.ShiftStep, centre.Y + sy * stage.ShiftStep};
                if (!accept(offset))
                    continue;
                const double cost = WindowCost(offset.X, offset.Y, gain, stage.Dense);
                if (offset.IsZero())
                    fZeroCost = cost;
                if (cost < fBestCost || (cost == fBestCost && offset.IsZero())) {
                    fBestCost = cost;
                    fBest = offset;
                }
            }
    }
}

TGridOffset TStartGrid::Best(const TTransPars& base, double gain, const TOffsetFilter& accept)
{
    fBest = {};
    for (const TGridStage& stage : GridStages)
        Scan(base, gain, stage, accept);
    return fBestCost < fZeroCost ? fBest : TGridOffset{};
}

} // namespace

TRect ReducedRect(const TIntImage& reference)
{
    // The width ratio first, as a real, then times the height.
    const double h = double(ReducedWidth) / reference.Width() * reference.Height();
    return {0, 0, ReducedWidth, RoundEven(h)};
}

TRect CentralRect(const TRect& R)
{
    const int32_t mx = R.Width() / 8, my = R.Height() / 8;
    return {R.Left + mx, R.Top + my, R.Right - mx, R.Bottom - my};
}

namespace {

// The photograph pixels that one reduced pixel covers along one axis, and the share of each.
struct TCover {
    int32_t First = 0;
    std::vector<float> Weights; // of pixels First, First + 1, ...; they sum to 1
};

// Reduced pixel c is centred where nearest-neighbour sampling took its pixel, at c x factor, so the
// reduced plane keeps its geometry (and a transform its meaning); it covers factor pixels there,
// clipped to the photograph. Pixel i covers [i - 0.5, i + 0.5).
std::vector<TCover> Covers(int32_t length, int32_t reduced, double factor)
{
    std::vector<TCover> covers(size_t(std::max(reduced, 0)));
    for (int32_t c = 0; c < reduced; ++c) {
        const double a = std::max(c * factor - factor / 2, -0.5);
        const double b = std::min(c * factor + factor / 2, length - 0.5);
        TCover& cover = covers[size_t(c)];
        cover.First = std::clamp(int32_t(std::floor(a + 0.5)), 0, length - 1);
        const int32_t last = std::clamp(int32_t(std::ceil(b - 0.5)), cover.First, length - 1);
        double total = 0;
        for (int32_t i = cover.First; i <= last; ++i) {
            const double w = std::max(0.0, std::min(b, i + 0.5) - std::max(a, i - 0.5));
            cover.Weights.push_back(float(w));
            total += w;
        }
        if (total <= 0) { // a factor of 0 (one-pixel axis) covers nothing: take the nearest pixel
            cover.First = std::clamp(RoundEven(c * factor), 0, length - 1);
            cover.Weights = {1.0f};
            continue;
        }
        for (float& w : cover.Weights)
            w = float(w / total);
    }
    return covers;
}

inline float Grey(int32_t p)
{
    return float(std::max({(p >> 16) & 255, (p >> 8) & 255, p & 255}));
}

} // namespace

TIntImage ReduceToGrey(const TIntImage& image, const TRect& R, double& Scale)
{
    const int32_t rw = R.Width(), rh = R.Height();
    const double fx = rw > 1 ? double(image.Width() - 1) / (rw - 1) : 0.0;
    const double fy = rh > 1 ? double(image.Height() - 1) / (rh - 1) : 0.0;
    Scale = std::min(fx, fy);
    TIntImage reduced;
    reduced.SetSize(rw, rh);
    if (rw <= 0 || rh <= 0)
        return reduced;
    const std::vector<TCover> cols = Covers(image.Width(), rw, Scale), rows = Covers(image.Height(), rh, Scale);
    const int32_t x0 = cols.front().First, x1 = cols.back().First + int32_t(cols.back().Weights.size());
    std::vector<float> sums(size_t(x1 - x0));
    for (int32_t r = 0; r < rh; ++r) {
        // Down the rows first, along the whole row (vectorises), then across the columns.
        std::fill(sums.begin(), sums.end(), 0.0f);
        const TCover& rc = rows[size_t(r)];
        for (size_t k = 0; k < rc.Weights.size(); ++k) {
            const int32_t* src = image.img.data() + size_t(rc.First + int32_t(k)) * image.Width() + x0;
            const float w = rc.Weights[k];
            for (int32_t x = 0; x < x1 - x0; ++x)
                sums[size_t(x)] += w * Grey(src[x]);
        }
        for (int32_t c = 0; c < rw; ++c) {
            const TCover& cc = cols[size_t(c)];
            float v = 0;
            for (size_t k = 0; k < cc.Weights.size(); ++k)
                v += cc.Weights[k] * sums[size_t(cc.First - x0) + k];
            reduced.Pixels(c, r) = std::clamp(RoundEven(v), 0, 255);
        }
    }
    return reduced;
}

namespace {

// The fit needs at least two reduced rows and a photograph to sample.
void CheckSizes(const TIntImage& reference, const TIntImage& image)
{
    if (reference.Width() < 2 || reference.Height() < 2 || image.Width() < 2 || image.Height() < 2 ||
        ReducedRect(reference).Height() < 2)
        throw TOrvixError("the photograph is too small to be aligned");
}

} // namespace

namespace {

// Sobel gradient magnitude at (x, y); the image's edge pixels repeat beyond it.
double SobelMagnitude(const TIntImage& im, int32_t x, int32_t y)
{
    const int32_t xm = std::max(x - 1, 0), xp = std::min(x + 1, im.Width() - 1);
    const int32_t ym = std::max(y - 1, 0), yp = std::min(y + 1, im.Height() - 1);
    const auto p = [&](int32_t px, int32_t py) { return double(im.Pixels(px, py)); };
    const double gx = (p(xp, ym) + 2 * p(xp, y) + p(xp, yp)) - (p(xm, ym) + 2 * p(xm, y) + p(xm, yp));
    const double gy = (p(xm, yp) + 2 * p(x, yp) + p(xp, yp)) - (p(xm, ym) + 2 * p(x, ym) + p(xp, ym));
    return std::sqrt(gx * gx + gy * gy);
}

} // namespace

double AlignmentCorrelation(const TIntImage& reference, const TIntImage& image)
{
    CheckSizes(reference, image);
    const TRect R = ReducedRect(reference), F = CentralRect(R);
    double s = 0;
    const TIntImage a = ReduceToGrey(reference, R, s), b = ReduceToGrey(image, R, s);
    // Edges, not brightness: the lighting and the plaque change between examinations, and camera
    // noise lowers a brightness correlation about as much as a misalignment does.
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (int32_t y = F.Top; y < F.Bottom; ++y)
        for (int32_t x = F.Left; x < F.Right; ++x) {
            const double p = SobelMagnitude(a, x, y), q = SobelMagnitude(b, x, y);
            sa += p;
            sb += q;
            saa += p * p;
            sbb += q * q;
            sab += p * q;
        }
    const double n = double(F.Width()) * F.Height();
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    if (va <= 0 || vb <= 0)
        return 0;
    return (sab - sa * sb / n) / std::sqrt(va * vb);
}

TSuperpose::TSuperpose(const TIntImage& aEtalon, const TIntImage& aSuspect, TTransPars& pars, bool Deform,
                       TOnShow Showproc)
    : ppars(&pars), onShow(std::move(Showproc))
{
    CheckSizes(aEtalon, aSuspect);
    const TRect R = ReducedRect(aEtalon);
    FitRect = CentralRect(R);
    double ignored = 0, s = 0;
    Etalon = ReduceToGrey(aEtalon, R, ignored);
    Suspect = ReduceToGrey(aSuspect, R, s);
    buf.SetSize(FitRect.Width(), FitRect.Height());
    fEtalonFit.reserve(size_t(FitRect.Width()) * size_t(FitRect.Height()));
    for (int32_t y = FitRect.Top; y < FitRect.Bottom; ++y)
        for (int32_t x = FitRect.Left; x < FitRect.Right; ++x) {
            fEtalonFit.push_back(float(Etalon.Pixels(x, y)));
            fEtalonSquares += double(Etalon.Pixels(x, y)) * Etalon.Pixels(x, y);
        }

    U = GetPars(s);
    const double suspectSum = CentralSum(Suspect);
    if (suspectSum == 0)
        throw TOrvixError("the photograph is black in its centre; it cannot be aligned");
    U[5] = CentralSum(Etalon) / suspectSum;
    const double halfHeight = R.Height() / 2.0;
    A = {-180, -ReducedWidth / 2.0, -halfHeight, -50, -50, 0.1};
    B = {180, ReducedWidth / 2.0, halfHeight, 50, 50, 10};
    W = {true, true, true, Deform, Deform, true};

    const TBilinearPlane source(Suspect);
    ChooseStart(source);
    fRow.resize(size_t(FitRect.Width()));
    SimplexMinimize(-1, 1000, U, [&](const TVector& X) { return Cost(X, source); }, 1.0, 0.005, A, B, W);
    U[1] *= s;
    U[2] *= s;
    const double scalex = pars.Scalex, scaley = pars.Scaley;
    SetPars(U, 0);
    // The percent round trip may lose a last bit; fixed scales must come back exactly.
    if (!Deform) {
        pars.Scalex = scalex;
        pars.Scaley = scaley;
    }
}

void TSuperpose::SetPars(const TVector& v, size_t f)
{
    ppars->SetAngle(v[f]);
    ppars->Shiftx = v[f + 1];
    ppars->Shifty = v[f + 2];
    ppars->Scalex = v[f + 3] / 100 + 1;
    ppars->Scaley = v[f + 4] / 100 + 1;
    ppars->Coeff = v[f + 5];
}

TVector TSuperpose::GetPars(double s) const
{
    return {ppars->fAngle, ppars->Shiftx / s, ppars->Shifty / s, (ppars->Scalex - 1) * 100,
            (ppars->Scaley - 1) * 100, 1};
}

double TSuperpose::CentralSum(const TIntImage& im)
{
    const int32_t w = im.Width(), h = im.Height();
    const int32_t x0 = (w - w / 8) / 2, y0 = (h - h / 8) / 2;
    double sum = 0;
    for (int32_t y = y0; y <= h - y0; ++y)
        for (int32_t x = x0; x <= w - x0; ++x)
            sum += im.Pixels(x, y);
    return sum;
}

namespace {

// sum a[i] b[i] over n values, in double precision (the cost subtracts sums of this size).
double Dot(const float* a, const float* b, int32_t n)
{
    int32_t i = 0;
    double sum = 0;
#ifdef __SSE2__
    __m128d low = _mm_setzero_pd(), high = _mm_setzero_pd();
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(a + i), y = _mm_loadu_ps(b + i);
        low = _mm_add_pd(low, _mm_mul_pd(_mm_cvtps_pd(x), _mm_cvtps_pd(y)));
        high = _mm_add_pd(high, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), _mm_cvtps_pd(_mm_movehl_ps(y, y))));
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, _mm_add_pd(low, high));
    sum = lanes[0] + lanes[1];
#endif
    for (; i < n; ++i)
        sum += double(a[i]) * b[i];
    return sum;
}

} // namespace

double TSuperpose::Cost(const TVector& X, const TBilinearPlane& source)
{
    SetPars(X, 1);
    // sum (E - g B)^2 expanded: sum E^2 is fixed. Bilinear sampling makes the cost continuous in
    // the parameters; with nearest pixels it is a staircase and the simplex stops on a step.
    const int32_t fw = FitRect.Width();
    double products = 0, squares = 0;
    for (int32_t y = FitRect.Top; y < FitRect.Bottom; ++y) {
        source.Row(*ppars, y, FitRect.Left, FitRect.Right, fRow.data());
        const float* e = fEtalonFit.data() + size_t(y - FitRect.Top) * fw;
        products += Dot(e, fRow.data(), fw);
        squares += Dot(fRow.data(), fRow.data(), fw);
        if (onShow)
            for (int32_t x = 0; x < fw; ++x)
                buf.Pixels(x, y - FitRect.Top) = RoundEven(fRow[size_t(x)]);
    }
    const double gain = X[6];
    if (onShow)
        onShow(Etalon, buf);
    return fEtalonSquares - 2 * gain * products + gain * gain * squares;
}

void TSuperpose::ChooseStart(const TBilinearPlane& source)
{
    TTransPars base;
    base.Init(U[0], U[1], U[2], U[3] / 100 + 1, U[4] / 100 + 1, U[5]);
    const auto startOf = [&](const TGridOffset& o) {
        return std::array<double, 3>{U[0] + o.Angle, U[1] + o.X * base.Scalex, U[2] + o.Y * base.Scaley};
    };
    const auto inBounds = [&](const TGridOffset& o) {
        const std::array<double, 3> v = startOf(o);
        for (size_t k = 0; k < v.size(); ++k)
            if (v[k] < A[k] || v[k] > B[k])
                return false;
        return true;
    };
    TStartGrid grid(Etalon, source, FitRect);
    const std::array<double, 3> start = startOf(grid.Best(base, U[5], inBounds));
    std::copy(start.begin(), start.end(), U.begin());
}
