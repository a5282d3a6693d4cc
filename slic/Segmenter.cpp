#include "Segmenter.h"

#include "Connectivity.h"
#include "LabPlanes.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace Slic {
namespace {

// Rows per strip of the assignment step. A strip's planes (about 20 bytes a pixel) stay in the
// level-2 cache while every centre whose window meets the strip visits it, so each iteration
// reads the image once from memory instead of once per overlapping window.
constexpr int32_t kStripRows = 16;

// The assignment loop is the hot spot of the library. It is written with 8-lane vectors, which
// GCC lowers to pairs of SSE2 instructions by default; on x86-64 Linux a second copy for AVX2
// machines is chosen at load time. Floating-point contraction is off for the library, so both
// copies give identical labels.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define SLIC_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define SLIC_CLONES
#endif

using TFloat8 = float __attribute__((vector_size(32)));
using TInt8 = int32_t __attribute__((vector_size(32)));
// The same, for loads and stores at any float-aligned address.
using TFloat8u = float __attribute__((vector_size(32), aligned(4)));
using TInt8u = int32_t __attribute__((vector_size(32), aligned(4)));

// The part of one centre's search window that lies in one strip, from its top-left pixel.
struct TWindow {
    const float* L;
    const float* A;
    const float* B;
    const float* ColumnTerm;  // (m / S)^2 dx^2 per column
    float* Distance;
    int32_t* Cluster;
    int32_t Columns, Rows;
    size_t Stride;
    float CL, CA, CB;
    float TopDy;              // y of the first row minus the centre's y
    float Weight;             // (m / S)^2
    int32_t K;
};

// Each pixel of the window takes centre K when D^2 = d_lab^2 + (m / S)^2 d_xy^2 is below its
// best distance so far. Branch-free, so the compiler emits vector compares and blends.
SLIC_CLONES void AssignWindow(const TWindow& w)
{
    // Locals, so that the stores below cannot make the compiler reload them.
    const float cl = w.CL, ca = w.CA, cb = w.CB, weight = w.Weight;
    const float* columnTerm = w.ColumnTerm;
    const int32_t columns = w.Columns, k = w.K;
    const TInt8 k8 = TInt8{} + k;
    for (int32_t r = 0; r < w.Rows; ++r) {
        const size_t o = size_t(r) * w.Stride;
        const float* l = w.L + o;
        const float* a = w.A + o;
        const float* b = w.B + o;
        float* distance = w.Distance + o;
        int32_t* cluster = w.Cluster + o;
        const float dy = w.TopDy + float(r);
        const float rowTerm = weight * dy * dy;
        int32_t j = 0;
        for (; j + 8 <= columns; j += 8) {
            const TFloat8 dl = *reinterpret_cast<const TFloat8u*>(l + j) - cl;
            const TFloat8 da = *reinterpret_cast<const TFloat8u*>(a + j) - ca;
            const TFloat8 db = *reinterpret_cast<const TFloat8u*>(b + j) - cb;
            const TFloat8 d = dl * dl + da * da + db * db +
                              (*reinterpret_cast<const TFloat8u*>(columnTerm + j) + rowTerm);
            const TFloat8 old = *reinterpret_cast<const TFloat8u*>(distance + j);
            const TInt8 closer = d < old;
            *reinterpret_cast<TFloat8u*>(distance + j) = closer ? d : old;
            *reinterpret_cast<TInt8u*>(cluster + j) =
                closer ? k8 : *reinterpret_cast<const TInt8u*>(cluster + j);
        }
        for (; j < columns; ++j) {
            const float dl = l[j] - cl, da = a[j] - ca, db = b[j] - cb;
            const float d = dl * dl + da * da + db * db + (columnTerm[j] + rowTerm);
            if (d < distance[j]) {
                distance[j] = d;
                cluster[j] = k;
            }
        }
    }
}

using TFloat4 = float __attribute__((vector_size(16)));
using TFloat4u = float __attribute__((vector_size(16), aligned(4)));

// Row pitch of the working planes, in floats: whole cache lines per row, and a row-to-row step
// far from a multiple of 4 KiB. Otherwise (a width of 1024, say) all rows of a window fall into
// the same few level-1 cache sets and evict each other.
size_t PlanePitch(int32_t width)
{
    size_t pitch = (size_t(width) + 15) / 16 * 16;
    auto linesModPage = [&] { return pitch / 16 % 64; };
    while (linesModPage() < 6 || linesModPage() > 58 || linesModPage() % 2 == 0)
        pitch += 16;
    return pitch;
}

// Adds the pixels of one row to the sums of their clusters. Runs of one cluster are summed four
// pixels at a time while a whole group of four belongs to the run, so that a run costs about one
// mispredicted branch, at its end.
void SumRow(const int32_t* cluster, const float* l, const float* a, const float* b, int32_t width,
            int32_t y, TClusterSum* sums)
{
    int32_t current = cluster[0], start = 0;
    uint64_t pair = uint64_t(uint32_t(current)) * 0x100000001ull;
    TFloat4 vl = {}, va = {}, vb = {};
    float sl = 0, sa = 0, sb = 0;
    auto flush = [&](int32_t end) {
        TClusterSum& s = sums[current];
        s.L += double((vl[0] + vl[1]) + (vl[2] + vl[3]) + sl);
        s.A += double((va[0] + va[1]) + (va[2] + va[3]) + sa);
        s.B += double((vb[0] + vb[1]) + (vb[2] + vb[3]) + sb);
        const int32_t n = end - start;
        s.X += 0.5 * n * (start + end - 1);
        s.Y += double(n) * y;
        s.N += n;
        vl = va = vb = TFloat4{};
        sl = sa = sb = 0;
    };
    auto add = [&](int32_t x) {
        if (cluster[x] != current) {
            flush(x);
            current = cluster[x];
            start = x;
            pair = uint64_t(uint32_t(current)) * 0x100000001ull;
        }
        sl += l[x];
        sa += a[x];
        sb += b[x];
    };
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        uint64_t p0, p1;
        std::memcpy(&p0, cluster + x, sizeof p0);
        std::memcpy(&p1, cluster + x + 2, sizeof p1);
        if (((p0 ^ pair) | (p1 ^ pair)) == 0) {
            vl += *reinterpret_cast<const TFloat4u*>(l + x);
            va += *reinterpret_cast<const TFloat4u*>(a + x);
            vb += *reinterpret_cast<const TFloat4u*>(b + x);
        } else {
            for (int32_t j = x; j < x + 4; ++j)
                add(j);
        }
    }
    for (; x < width; ++x)
        add(x);
    flush(width);
}

} // namespace

int32_t TSegmenter::Run(const uint32_t* pixels, int32_t width, int32_t height, int32_t k, double m,
                        int32_t* labels, const TSlicOptions& options)
{
    fWidth = width;
    fHeight = height;
    fPitch = PlanePitch(width);
    k = std::min(k, width * height);
    // Four planes (L, a, b, cluster) and one strip of distances. The connectivity stage reuses the
    // L, a and b planes, no longer needed by then, as its queue of up to width * height runs.
    static_assert(sizeof(TSpan) == 3 * sizeof(float));
    const size_t plane = fPitch * size_t(height);
    const size_t strip = fPitch * size_t(std::min(height, kStripRows));
    std::byte* memory = fWorkspace.Reserve((plane * 5 + strip) * sizeof(float));
    fL = reinterpret_cast<float*>(memory);
    fA = fL + plane;
    fB = fA + plane;
    fCluster = reinterpret_cast<int32_t*>(fB + plane);
    fLabelClusters = fCluster + plane;
    fStripDistance = reinterpret_cast<float*>(fLabelClusters + plane);
    for (int32_t y = 0; y < height; ++y) {
        const size_t row = size_t(y) * fPitch;
        ToLab(pixels + size_t(y) * width, size_t(width), fL + row, fA + row, fB + row);
    }

    PlaceSeeds(k);
    MoveSeedsOffEdges();
    AssignToGridCells();
    // D^2 = d_lab^2 + (d_xy / S)^2 m^2; a huge m just makes the grid win, so cap it before squaring.
    const double mm = std::min(std::fabs(m), 1e6);
    fSpatialWeight = float(mm * mm / (double(fCellWidth) * fCellHeight));

    const float settled = options.SettledShift * std::sqrt(fCellWidth * fCellHeight);
    fIterations = 0;
    while (fIterations < options.MaxIterations) {
        const float meanShift = Iterate();
        ++fIterations;
        if (options.EarlyStop && meanShift < settled)
            break;
    }

    // Fragments below a quarter of a grid cell are stray bits of a neighbour's cluster.
    const auto minSize = int32_t(double(fCellWidth) * fCellHeight / 4);
    fColours.resize(fCentres.size());
    for (size_t i = 0; i < fCentres.size(); ++i)
        fColours[i] = {fCentres[i].L, fCentres[i].A, fCentres[i].B};
    return EnforceConnectivity({fCluster, fPitch, width, height, fColours.data()}, minSize, labels,
                               reinterpret_cast<TSpan*>(fL), fLabelClusters);
}

// A regular grid of about k cells of side S = sqrt(N / k). The shorter side is divided first so
// that thin images (1 x N) still get about k cells.
void TSegmenter::PlaceSeeds(int32_t k)
{
    const double step = std::sqrt(double(fWidth) * fHeight / k);
    auto divide = [](double length, double parts, int32_t most) {
        return std::clamp(int32_t(std::nearbyint(length / parts)), int32_t(1), most);
    };
    if (fWidth <= fHeight) {
        fColumns = divide(fWidth, step, fWidth);
        fRows = divide(k, fColumns, fHeight);
    } else {
        fRows = divide(fHeight, step, fHeight);
        fColumns = divide(k, fRows, fWidth);
    }
    fCellWidth = float(fWidth) / fColumns;
    fCellHeight = float(fHeight) / fRows;
    fReachX = int32_t(std::ceil(fCellWidth));
    fReachY = int32_t(std::ceil(fCellHeight));

    fCentres.resize(size_t(fColumns) * fRows);
    for (int32_t j = 0; j < fRows; ++j) {
        for (int32_t i = 0; i < fColumns; ++i) {
            TCentre& c = fCentres[size_t(j) * fColumns + i];
            c.X = std::floor((i + 0.5f) * fCellWidth);
            c.Y = std::floor((j + 0.5f) * fCellHeight);
        }
    }
}

// Gradient magnitude (squared, in CIELAB) at an interior pixel i: the seed-placement measure of
// the paper, G(x, y) = |I(x+1, y) - I(x-1, y)|^2 + |I(x, y+1) - I(x, y-1)|^2.
float TSegmenter::Gradient(size_t i) const
{
    auto sq = [&](size_t p, size_t q) {
        const float dl = fL[p] - fL[q], da = fA[p] - fA[q], db = fB[p] - fB[q];
        return dl * dl + da * da + db * db;
    };
    return sq(i + 1, i - 1) + sq(i + fPitch, i - fPitch);
}

// Moves each seed to the lowest-gradient position of its 3 x 3 neighbourhood, so that no seed
// starts on an edge or a noisy pixel; then takes the seed's colour. Cells narrower than 3 pixels
// are left alone, as the move would carry a seed into its neighbour's cell.
void TSegmenter::MoveSeedsOffEdges()
{
    const bool move = fCellWidth >= 3 && fCellHeight >= 3;
    for (TCentre& c : fCentres) {
        const int32_t sx = int32_t(c.X), sy = int32_t(c.Y);
        int32_t bestX = sx, bestY = sy;
        float best = FLT_MAX;
        for (int32_t y = sy - 1; move && y <= sy + 1; ++y) {
            for (int32_t x = sx - 1; x <= sx + 1; ++x) {
                if (x < 1 || y < 1 || x > fWidth - 2 || y > fHeight - 2)
                    continue;
                const float g = Gradient(size_t(y) * fPitch + x);
                if (g < best) {
                    best = g;
                    bestX = x;
                    bestY = y;
                }
            }
        }
        const size_t i = size_t(bestY) * fPitch + bestX;
        c = {float(bestX), float(bestY), fL[i], fA[i], fB[i]};
    }
}

// Every pixel starts in its own grid cell's cluster, so that a pixel no window reaches in a later
// iteration still has a valid cluster.
void TSegmenter::AssignToGridCells()
{
    std::vector<int32_t> columnCell(static_cast<size_t>(fWidth));
    for (int32_t x = 0; x < fWidth; ++x)
        columnCell[x] = std::min(int32_t(x / fCellWidth), fColumns - 1);
    for (int32_t y = 0; y < fHeight; ++y) {
        const int32_t rowBase = std::min(int32_t(y / fCellHeight), fRows - 1) * fColumns;
        int32_t* row = fCluster + size_t(y) * fPitch;
        for (int32_t x = 0; x < fWidth; ++x)
            row[x] = rowBase + columnCell[x];
    }
}

// One k-means iteration, strip by strip: assignment (each centre claims, within its 2S x 2S
// window, the pixels to which it is nearer than any centre before it), then the strip's sums for
// the update. Returns the mean spatial move of the centres, in pixels.
float TSegmenter::Iterate()
{
    fWindows.resize(fCentres.size());
    fOrder.resize(fCentres.size());
    for (int32_t k = 0; k < int32_t(fCentres.size()); ++k) {
        const TCentre& c = fCentres[k];
        const int32_t cx = int32_t(c.X + 0.5f), cy = int32_t(c.Y + 0.5f);
        fWindows[k] = {std::max(0, cx - fReachX), std::min(fWidth - 1, cx + fReachX),
                       std::max(0, cy - fReachY), std::min(fHeight - 1, cy + fReachY)};
        fOrder[k] = k;
    }
    // In order of their top row, the windows that meet a strip form one run of fOrder.
    std::sort(fOrder.begin(), fOrder.end(), [&](int32_t p, int32_t q) {
        return fWindows[p].Y0 != fWindows[q].Y0 ? fWindows[p].Y0 < fWindows[q].Y0 : p < q;
    });
    fSums.assign(fCentres.size(), TClusterSum{});
    size_t first = 0;
    for (int32_t top = 0; top < fHeight; top += kStripRows) {
        const int32_t bottom = std::min(fHeight, top + kStripRows) - 1;
        while (first < fOrder.size() && fWindows[fOrder[first]].Y1 < top)
            ++first;
        AssignStrip(top, bottom, first);
        SumStrip(top, bottom);
    }
    return MoveCentres();
}

void TSegmenter::AssignStrip(int32_t top, int32_t bottom, size_t first)
{
    std::fill(fStripDistance, fStripDistance + size_t(bottom - top + 1) * fPitch, FLT_MAX);
    for (size_t o = first; o < fOrder.size() && fWindows[fOrder[o]].Y0 <= bottom; ++o) {
        const int32_t k = fOrder[o];
        const TBounds& w = fWindows[k];
        const int32_t y0 = std::max(w.Y0, top), y1 = std::min(w.Y1, bottom);
        if (y0 > y1)
            continue;
        const TCentre& c = fCentres[k];
        const int32_t columns = w.X1 - w.X0 + 1;
        fColumnTerm.resize(size_t(columns));
        for (int32_t j = 0; j < columns; ++j) {
            const float dx = float(w.X0 + j) - c.X;
            fColumnTerm[j] = fSpatialWeight * (dx * dx);
        }
        const size_t at = size_t(y0) * fPitch + w.X0;
        AssignWindow({fL + at, fA + at, fB + at, fColumnTerm.data(),
                      fStripDistance + size_t(y0 - top) * fPitch + w.X0, fCluster + at, columns,
                      y1 - y0 + 1, fPitch, c.L, c.A, c.B, float(y0) - c.Y, fSpatialWeight, k});
    }
}

// Sums of (L, a, b, x, y) per centre over the strip's pixels.
void TSegmenter::SumStrip(int32_t top, int32_t bottom)
{
    for (int32_t y = top; y <= bottom; ++y) {
        const size_t base = size_t(y) * fPitch;
        SumRow(fCluster + base, fL + base, fA + base, fB + base, fWidth, y, fSums.data());
    }
}

// The update step: every centre moves to the mean of its pixels; a centre without pixels stays.
float TSegmenter::MoveCentres()
{
    double totalShift = 0;
    for (size_t k = 0; k < fCentres.size(); ++k) {
        const TClusterSum& s = fSums[k];
        if (s.N == 0)
            continue;
        const double n = double(s.N);
        TCentre& c = fCentres[k];
        const TCentre moved{float(s.X / n), float(s.Y / n), float(s.L / n), float(s.A / n),
                            float(s.B / n)};
        const float dx = moved.X - c.X, dy = moved.Y - c.Y;
        totalShift += std::sqrt(dx * dx + dy * dy);
        c = moved;
    }
    return float(totalShift / double(fCentres.size()));
}

} // namespace Slic
