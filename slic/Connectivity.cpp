#include "Connectivity.h"

#include <algorithm>
#include <cfloat>
#include <cstring>

namespace Slic {
namespace {

// Four labels or clusters at a time (one SSE register): most of the pixels this stage looks at
// are already labelled or of another cluster, so it skips them in groups.
using TInt4 = int32_t __attribute__((vector_size(16)));

bool Any(const TInt4& mask)
{
    uint64_t halves[2];
    std::memcpy(halves, &mask, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

// Rows start anywhere: an unaligned load. (An under-aligned vector typedef does not do: clang
// keeps the vector's own 16-byte alignment for it and emits aligned loads that fault.)
TInt4 Load4(const int32_t* p)
{
    TInt4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The first x in [from, to] whose label is negative (unlabelled), or to + 1.
int32_t FindUnlabelled(const int32_t* labels, int32_t from, int32_t to)
{
    int32_t x = from;
    while (x + 3 <= to && !Any(Load4(labels + x) < 0))
        x += 4;
    while (x <= to && labels[x] >= 0)
        ++x;
    return x;
}

// Breadth-first flood over runs rather than single pixels: each queue entry is a whole run of one
// row, so the neighbour tests walk along rows, in memory order.
class TFlood {
public:
    TFlood(const TClusterMap& map, int32_t* labels, TSpan* queue)
        : fMap(map), fLabels(labels), fQueue(queue)
    {
    }

    // Gives `label` to the unlabelled pixels of (x, y)'s cluster 4-connected to it. Afterwards
    // the region is the runs queue[0 .. Spans()-1]; returns its number of pixels.
    int64_t Fill(int32_t x, int32_t y, int32_t label)
    {
        fCluster = fMap.Clusters[size_t(y) * fMap.Pitch + x];
        fLabel = label;
        fTail = 0;
        int64_t pixels = Claim(x, y);
        for (size_t head = 0; head < fTail; ++head) {
            const TSpan s = fQueue[head];
            if (s.Y > 0)
                pixels += ClaimRow(s.X0, s.X1, s.Y - 1);
            if (s.Y + 1 < fMap.Height)
                pixels += ClaimRow(s.X0, s.X1, s.Y + 1);
        }
        return pixels;
    }

    size_t Spans() const { return fTail; }
    int32_t Cluster() const { return fCluster; }

private:
    // Both tests always run (& rather than &&): one well-predicted branch on the result is cheaper
    // than a mispredicted one on the label alone.
    bool Free(int32_t x, int32_t y) const
    {
        return (fLabels[size_t(y) * fMap.Width + x] < 0) &
               (fMap.Clusters[size_t(y) * fMap.Pitch + x] == fCluster);
    }

    // Labels the whole run through the free pixel (x, y), queues it and returns its length.
    int32_t Claim(int32_t x, int32_t y)
    {
        int32_t x0 = x, x1 = x;
        while (x0 > 0 && Free(x0 - 1, y))
            --x0;
        while (x1 + 1 < fMap.Width && Free(x1 + 1, y))
            ++x1;
        int32_t* row = fLabels + size_t(y) * fMap.Width;
        std::fill(row + x0, row + x1 + 1, fLabel);
        fQueue[fTail++] = {y, x0, x1};
        return x1 - x0 + 1;
    }

    // The first free x of row y in [from, to], or to + 1.
    int32_t FindFree(int32_t from, int32_t to, int32_t y) const
    {
        const int32_t* labels = fLabels + size_t(y) * fMap.Width;
        const int32_t* clusters = fMap.Clusters + size_t(y) * fMap.Pitch;
        int32_t x = from;
        for (; x + 3 <= to; x += 4) {
            if (Any((Load4(labels + x) < 0) & (Load4(clusters + x) == fCluster)))
                break;
        }
        while (x <= to && !Free(x, y))
            ++x;
        return x;
    }

    // Claims every run of row y that touches columns x0 .. x1.
    int64_t ClaimRow(int32_t x0, int32_t x1, int32_t y)
    {
        int64_t pixels = 0;
        for (int32_t x = FindFree(x0, x1, y); x <= x1; x = FindFree(x, x1, y)) {
            pixels += Claim(x, y);
            x = fQueue[fTail - 1].X1 + 2;   // the pixel after a run is never free
        }
        return pixels;
    }

    const TClusterMap& fMap;
    int32_t* fLabels;
    TSpan* fQueue;
    int32_t fCluster = 0, fLabel = 0;
    size_t fTail = 0;
};

float ColourDistance(const TColour& p, const TColour& q)
{
    const float dl = p.L - q.L, da = p.A - q.A, db = p.B - q.B;
    return dl * dl + da * da + db * db;
}

// The labelled neighbour region of the fragment queue[0 .. spans-1] (label `own`) whose cluster
// colour is nearest to the fragment's; -1 when no neighbour is labelled yet.
int32_t NearestNeighbour(const TClusterMap& map, const int32_t* labels, const TSpan* queue,
                         size_t spans, int32_t own, const int32_t* labelClusters)
{
    const TColour colour = map.ClusterColours[labelClusters[own]];
    int32_t best = -1;
    float bestDistance = FLT_MAX;
    auto consider = [&](int32_t label) {
        if (label < 0 || label == own)
            return;
        const float d = ColourDistance(colour, map.ClusterColours[labelClusters[label]]);
        if (d < bestDistance) {
            bestDistance = d;
            best = label;
        }
    };
    for (size_t s = 0; s < spans; ++s) {
        const TSpan span = queue[s];
        const int32_t* row = labels + size_t(span.Y) * map.Width;
        if (span.X0 > 0)
            consider(row[span.X0 - 1]);
        if (span.X1 + 1 < map.Width)
            consider(row[span.X1 + 1]);
        for (int32_t x = span.X0; x <= span.X1; ++x) {
            if (span.Y > 0)
                consider(row[x - map.Width]);
            if (span.Y + 1 < map.Height)
                consider(row[x + map.Width]);
        }
    }
    return best;
}

} // namespace

int32_t EnforceConnectivity(const TClusterMap& map, int32_t minSize, int32_t* labels, TSpan* queue,
                            int32_t* labelClusters)
{
    std::fill(labels, labels + size_t(map.Width) * map.Height, -1);
    TFlood flood(map, labels, queue);
    int32_t count = 0;
    for (int32_t y = 0; y < map.Height; ++y) {
        const int32_t* row = labels + size_t(y) * map.Width;
        for (int32_t x = FindUnlabelled(row, 0, map.Width - 1); x < map.Width;
             x = FindUnlabelled(row, x + 1, map.Width - 1)) {
            const int64_t pixels = flood.Fill(x, y, count);
            labelClusters[count] = flood.Cluster();
            const int32_t host = pixels < minSize
                ? NearestNeighbour(map, labels, queue, flood.Spans(), count, labelClusters)
                : -1;
            if (host < 0) {
                ++count;
                continue;
            }
            for (size_t s = 0; s < flood.Spans(); ++s) {
                int32_t* spanRow = labels + size_t(queue[s].Y) * map.Width;
                std::fill(spanRow + queue[s].X0, spanRow + queue[s].X1 + 1, host);
            }
        }
    }
    return count;
}

} // namespace Slic
