#include "TSuperpose.h"

#include "Nelm.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

constexpr int32_t ReducedWidth = 256;

// Starts scored before the search, as offsets from the start transform; each stage is centred on
// the best start so far. The coarse grid samples every second pixel: angles -18..18 degrees in
// steps of 3, shifts over 3/16 of each side of the reduced plane in steps of 4 pixels. Its best
// start is often a cell off (its cost is noisy) and the search does not recover from a start 3
// degrees away, so finer grids follow.
struct TGridStage {
    double AngleStep;
    int32_t AngleSteps; // angles: centre +- AngleSteps x AngleStep
    int32_t ShiftStep;
    int32_t ShiftSteps; // shifts: centre +- ShiftSteps x ShiftStep; 0 for the coarse reach
    bool Dense;         // every pixel rather than every second one
};
constexpr TGridStage GridStages[] = {
    {3, 6, 4, 0, false},
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
// (dx, dy) output pixels, so each angle needs one rendering of Suspect over FitRect grown by the
// largest shift; every shift is then a window into it. Etalon and rendering are split into their
// four pixel parities, so that every second pixel of any window is a block of contiguous rows of
// one plane. The cost sum (E - g S)^2 = sum E^2 - 2 g sum E S + g^2 sum S^2 then takes two
// integer dot products per parity plane.
class TStartGrid {
public:
    TStartGrid(const TIntImage& etalon, const TIntImage& suspect, const TRect& fitRect);
    // The best start around base for the given gain among the offsets accept lets through: the
    // zero offset (base itself) unless another is strictly better.
    TGridOffset Best(const TTransPars& base, double gain, const TOffsetFilter& accept);

private:
    void Scan(const TTransPars& base, double gain, const TGridStage& stage, const TOffsetFilter& accept);
    void Render(const TTransPars& pars);
    double WindowCost(int32_t dx, int32_t dy, double gain, bool dense) const;

    TRect fFit;
    int32_t fCoarseX, fCoarseY; // shift reach of the coarse grid
    int32_t fReachX, fReachY;   // largest shift any stage can reach
    TIntImage fPadded;          // suspect in a zero border: the identity copy never leaves it
    TRect fRenderRect;          // fFit grown by the reach, in fPadded's coordinates
    TIntVector fRender;
    TParityPlane fPlanes[4]; // of the rendering; plane px + 2 py
    TParityPlane fEtalon[4]; // of the etalon over fFit
    double fEtalonSquares[4] = {};
    TGridOffset fBest;
    double fBestCost = 0, fZeroCost = 0;
};

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
                out[i] = int16_t(row[2 * i]);
        }
    }
}

TStartGrid::TStartGrid(const TIntImage& etalon, const TIntImage& suspect, const TRect& fitRect)
    : fFit(fitRect), fCoarseX(CoarseReach(suspect.Width())), fCoarseY(CoarseReach(suspect.Height())),
      fReachX(fCoarseX), fReachY(fCoarseY)
{
    for (const TGridStage& stage : GridStages) {
        fReachX += stage.ShiftSteps * stage.ShiftStep;
        fReachY += stage.ShiftSteps * stage.ShiftStep;
    }
    // A symmetric border keeps the origin at the same place relative to the pixels.
    const int32_t margin = std::max(fReachX, fReachY);
    fPadded.SetSize(suspect.Width() + 2 * margin, suspect.Height() + 2 * margin);
    for (int32_t y = 0; y < suspect.Height(); ++y)
        std::copy_n(suspect.img.data() + size_t(y) * suspect.Width(), suspect.Width(),
                    &fPadded.Pixels(margin, y + margin));
    fRenderRect = {fFit.Left - fReachX + margin, fFit.Top - fReachY + margin, fFit.Right + fReachX + margin,
                   fFit.Bottom + fReachY + margin};
    fRender.resize(size_t(fRenderRect.Width()) * size_t(fRenderRect.Height()));

    SplitParities(etalon.img.data() + fFit.Left + size_t(fFit.Top) * etalon.Width(), fFit.Width(), fFit.Height(), size_t(etalon.Width()),
                  fEtalon);
    for (int32_t q = 0; q < 4; ++q)
        for (int16_t e : fEtalon[q].Pixels)
            fEtalonSquares[q] += double(e) * e;
}

void TStartGrid::Render(const TTransPars& pars)
{
    fPadded.Transform(pars, fRender, fRenderRect);
    SplitParities(fRender.data(), fRenderRect.Width(), fRenderRect.Height(), size_t(fRenderRect.Width()),
                  fPlanes);
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

TIntImage ReduceToGrey(const TIntImage& image, const TRect& R, double& Scale)
{
    TIntImage reduced = image.FitToRect(R, Scale);
    reduced.ConvertToIntensity();
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

double AlignmentCorrelation(const TIntImage& reference, const TIntImage& image)
{
    CheckSizes(reference, image);
    const TRect R = ReducedRect(reference), F = CentralRect(R);
    double s = 0;
    const TIntImage a = ReduceToGrey(reference, R, s), b = ReduceToGrey(image, R, s);
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (int32_t y = F.Top; y < F.Bottom; ++y)
        for (int32_t x = F.Left; x < F.Right; ++x) {
            const double p = a.Pixels(x, y), q = b.Pixels(x, y);
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
    for (int32_t y = FitRect.Top; y < FitRect.Bottom; ++y)
        for (int32_t x = FitRect.Left; x < FitRect.Right; ++x)
            fEtalonSquares += double(Etalon.Pixels(x, y)) * Etalon.Pixels(x, y);

    U = GetPars(s);
    const double suspectSum = CentralSum(Suspect);
    if (suspectSum == 0)
        throw TOrvixError("the photograph is black in its centre; it cannot be aligned");
    U[5] = CentralSum(Etalon) / suspectSum;
    const double halfHeight = R.Height() / 2.0;
    A = {-180, -ReducedWidth / 2.0, -halfHeight, -50, -50, 0.1};
    B = {180, ReducedWidth / 2.0, halfHeight, 50, 50, 10};
    W = {true, true, true, Deform, Deform, true};

    ChooseStart();
    SimplexMinimize(-1, 1000, U, [this](const TVector& X) { return Cost(X); }, 1.0, 0.005, A, B, W);
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

double TSuperpose::Cost(const TVector& X)
{
    SetPars(X, 1);
    Suspect.Transform(*ppars, buf.img, FitRect);
    // sum (E - g B)^2 expanded: the two sums are exact integers and vectorise; sum E^2 is fixed.
    const int32_t fw = FitRect.Width();
    int64_t products = 0, squares = 0;
    for (int32_t y = FitRect.Top; y < FitRect.Bottom; ++y) {
        const int32_t* e = &Etalon.Pixels(FitRect.Left, y);
        const int32_t* b = buf.img.data() + size_t(y - FitRect.Top) * fw;
        int32_t rowProducts = 0, rowSquares = 0; // grey levels: at most 255^2 x 192
        for (int32_t x = 0; x < fw; ++x) {
            rowProducts += e[x] * b[x];
            rowSquares += b[x] * b[x];
        }
        products += rowProducts;
        squares += rowSquares;
    }
    const double gain = X[6];
    if (onShow)
        onShow(Etalon, buf);
    return fEtalonSquares - 2 * gain * double(products) + gain * gain * double(squares);
}

void TSuperpose::ChooseStart()
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
    TStartGrid grid(Etalon, Suspect, FitRect);
    const std::array<double, 3> start = startOf(grid.Best(base, U[5], inBounds));
    std::copy(start.begin(), start.end(), U.begin());
}
