#include "Segmenter.h"

#include "Connectivity.h"
#include "LabPlanes.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace Slic {
namespace {

// The assignment loop is the hot spot of the library. It is written with 8-lane vectors, which
// GCC lowers to pairs of SSE2 instructions by default; on x86-64 Linux a second copy for AVX2
// machines is chosen at load time. Floating-point contraction is off for the library, so both
// copies give identical labels. Under ThreadSanitizer there is one copy: the loader runs the
// copy's chooser before the sanitizer's runtime is ready, and the instrumented chooser crashes.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SLIC_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define SLIC_THREAD_SANITIZER 1
#endif
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(SLIC_THREAD_SANITIZER)
#define SLIC_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define SLIC_CLONES
#endif

using TFloat8 = float __attribute__((vector_size(32)));
using TInt8 = int32_t __attribute__((vector_size(32)));

// The assignment step for one row, eight pixels at a time: each pixel takes, among the centres
// whose 2S x 2S window covers it, the one with the least D^2 = d_lab^2 + (m / S)^2 d_xy^2 (the
// first in `active` order on a tie); a pixel no window covers keeps its cluster. The pixel's
// colour stays in registers while its few candidate centres are tried, so the row is read and
// written once.
// Expanded, D^2 = |p|^2 + (m/S)^2 x^2 - 2 c.p - 2 (m/S)^2 cx x + |c|^2 + (m/S)^2 (cx^2 + dy^2)
// for pixel p at x and centre c; the first two terms are the same for every candidate of a pixel,
// so the comparison leaves them out and is linear in the pixel: four products and four sums per
// candidate instead of four differences, five products and four sums. (Rounding stays far below
// the differences that matter: the terms are of the order of m^2 times the number of columns of
// centres, squared.) rowTerms[i] holds the last, constant, part for candidate i and this row.
// active holds the windows as keys (ActiveKey), sorted; the row holds at least `width` rounded
// up to 8 entries.
SLIC_CLONES void AssignRow(const float* l, const float* a, const float* b, int32_t* cluster,
                           int32_t width, const TActiveWindow* windows, const uint64_t* active,
                           const float* rowTerms, size_t count)
{
    const TFloat8 lane = {0, 1, 2, 3, 4, 5, 6, 7};
    size_t first = 0;
    for (int32_t x = 0; x < width; x += 8) {
        while (first < count && windows[uint32_t(active[first])].X1 < x)
            ++first;
        const TFloat8 xs = lane + float(x);
        // Loads and stores at any float-aligned address go through memcpy: clang ignores an
        // under-aligned vector typedef and emits aligned instructions that fault.
        TFloat8 pl, pa, pb;
        std::memcpy(&pl, l + x, sizeof pl);
        std::memcpy(&pa, a + x, sizeof pa);
        std::memcpy(&pb, b + x, sizeof pb);
        TFloat8 best = TFloat8{} + INFINITY;
        TInt8 bestK;
        std::memcpy(&bestK, cluster + x, sizeof bestK);
        for (size_t i = first; i < count && int32_t(active[i] >> 32) < x + 8; ++i) {
            const TActiveWindow& c = windows[uint32_t(active[i])];
            const TFloat8 d = ((c.CL * pl + c.CA * pa) + (c.CB * pb + c.CX * xs)) + rowTerms[i];
            const TInt8 closer = (d < best) & (xs >= c.Left) & (xs <= c.Right);
            best = closer ? d : best;
            bestK = closer ? (TInt8{} + c.K) : bestK;
        }
        std::memcpy(cluster + x, &bestK, sizeof bestK);
    }
}

// A window in the active list: its left column above its centre's index, so that the order of
// the keys is the order by X0, then centre.
uint64_t ActiveKey(const TActiveWindow& w)
{
    return uint64_t(uint32_t(w.X0)) << 32 | uint32_t(w.K);
}

// Row pitch of the working planes, in floats: whole cache lines, with room for the assignment's
// last group of eight pixels.
size_t PlanePitch(int32_t width)
{
    return (size_t(width) + 15) / 16 * 16;
}

// The update step's sums of one row. Lane by lane over groups of eight, the pixels of the current
// run of one cluster accumulate; a group that holds a boundary closes the run with its lanes and
// opens the next with the last pixel's cluster, and any third cluster in the group (rare) is added
// pixel by pixel. A run thus costs about one mispredicted branch. SumRowAvx2 and SumRowPortable do
// exactly the same additions in the same order, so both give identical sums.

// Adds a run's lane sums (reduced in a fixed order) and its count to its cluster's sums.
void AddRun(TClusterSum& s, const float* l, const float* a, const float* b, const float* x,
            int64_t n, int32_t y)
{
    auto total = [](const float* v) {
        return double(((v[0] + v[1]) + (v[2] + v[3])) + ((v[4] + v[5]) + (v[6] + v[7])));
    };
    s.L += total(l);
    s.A += total(a);
    s.B += total(b);
    s.X += total(x);
    s.Y += double(n) * y;
    s.N += n;
}

void AddPixel(TClusterSum& s, float l, float a, float b, int32_t x, int32_t y)
{
    s.L += l;
    s.A += a;
    s.B += b;
    s.X += x;
    s.Y += y;
    s.N += 1;
}

#if defined(__GNUC__) && defined(__x86_64__)
#define SLIC_AVX2_SUMS 1

// AddRun() for lane sums in registers: the horizontal additions pair the lanes exactly as
// AddRun() does, and the four totals go into L, A, B and X (adjacent doubles) with one addition.
__attribute__((target("avx2"), always_inline)) inline void AddRunAvx2(TClusterSum& s, __m256 l,
                                                                      __m256 a, __m256 b,
                                                                      __m256 x, int64_t n,
                                                                      int32_t y)
{
    static_assert(offsetof(TClusterSum, A) == offsetof(TClusterSum, L) + sizeof(double) &&
                  offsetof(TClusterSum, B) == offsetof(TClusterSum, L) + 2 * sizeof(double) &&
                  offsetof(TClusterSum, X) == offsetof(TClusterSum, L) + 3 * sizeof(double));
    const __m256 pairs = _mm256_hadd_ps(_mm256_hadd_ps(l, a), _mm256_hadd_ps(b, x));
    const __m128 totals
        = _mm_add_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1));
    _mm256_storeu_pd(&s.L, _mm256_add_pd(_mm256_loadu_pd(&s.L), _mm256_cvtps_pd(totals)));
    s.Y += double(n) * y;
    s.N += n;
}

__attribute__((target("avx2,popcnt"))) void SumRowAvx2(const int32_t* cluster, const float* l,
                                                       const float* a, const float* b,
                                                       int32_t width, int32_t y, TClusterSum* sums)
{
    const __m256 lane = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    __m256 sumL = _mm256_setzero_ps(), sumA = sumL, sumB = sumL, sumX = sumL;
    int64_t n = 0;
    int32_t current = cluster[0];
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cluster + x));
        const __m256 pl = _mm256_loadu_ps(l + x), pa = _mm256_loadu_ps(a + x);
        const __m256 pb = _mm256_loadu_ps(b + x);
        const __m256 xs = _mm256_add_ps(lane, _mm256_set1_ps(float(x)));
        __m256 same = _mm256_castsi256_ps(_mm256_cmpeq_epi32(k, _mm256_set1_epi32(current)));
        unsigned bits = unsigned(_mm256_movemask_ps(same));
        if (bits != 0xFF) {
            sumL = _mm256_add_ps(sumL, _mm256_and_ps(same, pl));
            sumA = _mm256_add_ps(sumA, _mm256_and_ps(same, pa));
            sumB = _mm256_add_ps(sumB, _mm256_and_ps(same, pb));
            sumX = _mm256_add_ps(sumX, _mm256_and_ps(same, xs));
            AddRunAvx2(sums[current], sumL, sumA, sumB, sumX, n + __builtin_popcount(bits), y);
            current = cluster[x + 7];
            same = _mm256_castsi256_ps(_mm256_cmpeq_epi32(k, _mm256_set1_epi32(current)));
            const unsigned next = unsigned(_mm256_movemask_ps(same));
            for (unsigned other = ~(bits | next) & 0xFF; other != 0; other &= other - 1) {
                const int i = __builtin_ctz(other);
                AddPixel(sums[cluster[x + i]], l[x + i], a[x + i], b[x + i], x + i, y);
            }
            sumL = _mm256_and_ps(same, pl);
            sumA = _mm256_and_ps(same, pa);
            sumB = _mm256_and_ps(same, pb);
            sumX = _mm256_and_ps(same, xs);
            n = __builtin_popcount(next);
            continue;
        }
        sumL = _mm256_add_ps(sumL, pl);
        sumA = _mm256_add_ps(sumA, pa);
        sumB = _mm256_add_ps(sumB, pb);
        sumX = _mm256_add_ps(sumX, xs);
        n += 8;
    }
    AddRunAvx2(sums[current], sumL, sumA, sumB, sumX, n, y);
    for (; x < width; ++x)
        AddPixel(sums[cluster[x]], l[x], a[x], b[x], x, y);
}
#endif

void SumRowPortable(const int32_t* cluster, const float* l, const float* a, const float* b,
                    int32_t width, int32_t y, TClusterSum* sums)
{
    float sumL[8] = {}, sumA[8] = {}, sumB[8] = {}, sumX[8] = {};
    int64_t n = 0;
    int32_t current = cluster[0];
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        unsigned bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= unsigned(cluster[x + i] == current) << i;
        if (bits != 0xFF) {
            for (int i = 0; i < 8; ++i) {
                const bool in = (bits >> i) & 1;
                sumL[i] += in ? l[x + i] : 0.0f;
                sumA[i] += in ? a[x + i] : 0.0f;
                sumB[i] += in ? b[x + i] : 0.0f;
                sumX[i] += in ? float(i) + float(x) : 0.0f;
            }
            AddRun(sums[current], sumL, sumA, sumB, sumX, n + std::popcount(bits), y);
            current = cluster[x + 7];
            unsigned next = 0;
            for (int i = 0; i < 8; ++i)
                next |= unsigned(cluster[x + i] == current) << i;
            for (int i = 0; i < 8; ++i) {
                const bool in = (next >> i) & 1;
                if (!in && !((bits >> i) & 1))
                    AddPixel(sums[cluster[x + i]], l[x + i], a[x + i], b[x + i], x + i, y);
                sumL[i] = in ? l[x + i] : 0.0f;
                sumA[i] = in ? a[x + i] : 0.0f;
                sumB[i] = in ? b[x + i] : 0.0f;
                sumX[i] = in ? float(i) + float(x) : 0.0f;
            }
            n = std::popcount(next);
            continue;
        }
        for (int i = 0; i < 8; ++i) {
            sumL[i] += l[x + i];
            sumA[i] += a[x + i];
            sumB[i] += b[x + i];
            sumX[i] += float(i) + float(x);
        }
        n += 8;
    }
    AddRun(sums[current], sumL, sumA, sumB, sumX, n, y);
    for (; x < width; ++x)
        AddPixel(sums[cluster[x]], l[x], a[x], b[x], x, y);
}

void SumRow(const int32_t* cluster, const float* l, const float* a, const float* b, int32_t width,
            int32_t y, TClusterSum* sums)
{
#ifdef SLIC_AVX2_SUMS
    if (__builtin_cpu_supports("avx2")) {
        SumRowAvx2(cluster, l, a, b, width, y, sums);
        return;
    }
#endif
    SumRowPortable(cluster, l, a, b, width, y, sums);
}

} // namespace

int32_t TSegmenter::Run(const uint32_t* pixels, int32_t width, int32_t height, int32_t k, double m,
                        int32_t* labels, const TSlicOptions& options)
{
    fWidth = width;
    fHeight = height;
    fPitch = PlanePitch(width);
    k = std::min(k, width * height);
    // Five planes: L, a, b, cluster and, for the connectivity stage, the cluster of each label.
    // That stage also reuses the L, a and b planes, no longer needed by then, as its queue of up
    // to width * height runs.
    static_assert(sizeof(TSpan) == 3 * sizeof(float));
    const size_t plane = fPitch * size_t(height);
    std::byte* memory = fWorkspace.Reserve(plane * 5 * sizeof(float));
    fL = reinterpret_cast<float*>(memory);
    fA = fL + plane;
    fB = fA + plane;
    fCluster = reinterpret_cast<int32_t*>(fB + plane);
    fLabelClusters = fCluster + plane;
    for (int32_t y = 0; y < height; ++y) {
        const size_t row = size_t(y) * fPitch;
        ToLab(pixels + size_t(y) * width, size_t(width), fL + row, fA + row, fB + row);
        // The assignment reads whole groups of eight: give the padding a harmless colour.
        std::fill(fL + row + width, fL + row + fPitch, 0.0f);
        std::fill(fA + row + width, fA + row + fPitch, 0.0f);
        std::fill(fB + row + width, fB + row + fPitch, 0.0f);
    }

    PlaceSeeds(k);
    MoveSeedsOffEdges();
    AssignToGridCells();
    // D^2 = d_lab^2 + (d_xy / S)^2 m^2; a huge m just makes the grid win, so cap it before
    // squaring.
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
        std::fill(row + fWidth, row + fPitch, 0);   // read, never used, by whole groups of eight
    }
}

// One k-means iteration, row by row: assignment, then the row's sums for the update. Returns the
// mean spatial move of the centres, in pixels.
float TSegmenter::Iterate()
{
    fWindows.resize(fCentres.size());
    fEntries.resize(fCentres.size());
    for (int32_t k = 0; k < int32_t(fCentres.size()); ++k) {
        const TCentre& c = fCentres[k];
        const int32_t cx = int32_t(c.X + 0.5f), cy = int32_t(c.Y + 0.5f);
        const TBounds w = {std::max(0, cx - fReachX), std::min(fWidth - 1, cx + fReachX),
                           std::max(0, cy - fReachY), std::min(fHeight - 1, cy + fReachY)};
        fWindows[k] = w;
        const float sx = fSpatialWeight * c.X;
        fEntries[k] = {w.X0, w.X1, w.Y1, k, float(w.X0), float(w.X1), c.Y, -2 * c.L, -2 * c.A,
                       -2 * c.B, -2 * sx, (c.L * c.L + c.A * c.A) + (c.B * c.B + sx * c.X)};
    }
    OrderByTopRow();
    fSums.assign(fCentres.size(), TClusterSum{});
    fActive.clear();
    fFirstEnd = INT32_MAX;
    size_t next = 0;
    for (int32_t y = 0; y < fHeight; ++y) {
        UpdateActive(y, next);
        const size_t base = size_t(y) * fPitch;
        AssignRow(fL + base, fA + base, fB + base, fCluster + base, fWidth, fEntries.data(),
                  fActive.data(), fRowTerms.data(), fActive.size());
        SumRow(fCluster + base, fL + base, fA + base, fB + base, fWidth, y, fSums.data());
    }
    return MoveCentres();
}

// fOrder := the centres by the top row of their window, then by index: a counting sort, linear
// in the centres and rows however many superpixels are asked for.
void TSegmenter::OrderByTopRow()
{
    fRowStarts.assign(size_t(fHeight) + 1, 0);
    for (const TBounds& w : fWindows)
        ++fRowStarts[size_t(w.Y0) + 1];
    for (int32_t y = 0; y < fHeight; ++y)
        fRowStarts[size_t(y) + 1] += fRowStarts[size_t(y)];
    fOrder.resize(fWindows.size());
    for (int32_t k = 0; k < int32_t(fWindows.size()); ++k)
        fOrder[size_t(fRowStarts[size_t(fWindows[k].Y0)]++)] = k;
}

// Keeps fActive to the windows that cover row y, sorted by their left column (then centre), and
// their row terms in fRowTerms. fOrder[next ..] are the windows not yet entered. When windows
// enter or leave, the list is rebuilt in one pass that drops those that ended and merges in those
// that begin, sorted among themselves. (Inserting each entering window on its own moved the whole
// list every time, which made many small superpixels quadratic in the image width.)
void TSegmenter::UpdateActive(int32_t y, size_t& next)
{
    fEntering.clear();
    for (; next < fOrder.size() && fWindows[fOrder[next]].Y0 <= y; ++next)
        fEntering.push_back(ActiveKey(fEntries[fOrder[next]]));
    if (fEntering.empty() && fFirstEnd >= y) {
        UpdateRowTerms(y);
        return;
    }
    std::sort(fEntering.begin(), fEntering.end());
    fMerged.clear();
    fFirstEnd = INT32_MAX;
    auto keep = [&](uint64_t key) {
        fMerged.push_back(key);
        fFirstEnd = std::min(fFirstEnd, fEntries[uint32_t(key)].Y1);
    };
    auto entering = fEntering.begin();
    for (const uint64_t key : fActive) {
        if (fEntries[uint32_t(key)].Y1 < y)
            continue;
        for (; entering != fEntering.end() && *entering < key; ++entering)
            keep(*entering);
        keep(key);
    }
    for (; entering != fEntering.end(); ++entering)
        keep(*entering);
    fActive.swap(fMerged);
    UpdateRowTerms(y);
}

// Each active window's part of D^2 that is constant along row y.
void TSegmenter::UpdateRowTerms(int32_t y)
{
    fRowTerms.resize(fActive.size());
    for (size_t i = 0; i < fActive.size(); ++i) {
        const TActiveWindow& w = fEntries[uint32_t(fActive[i])];
        const float dy = float(y) - w.Y;
        fRowTerms[i] = w.Constant + fSpatialWeight * (dy * dy);
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
