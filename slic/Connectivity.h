// The connectivity stage of SLIC: turns cluster indices into labels of 4-connected regions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Slic {

// A horizontal run of pixels X0 .. X1 (inclusive) on row Y: one entry of the flood-fill queue.
struct TSpan {
    int32_t Y, X0, X1;
};

struct TColour {
    float L, A, B;
};

struct TClusterMap {
    const int32_t* Clusters;        // pixel (x, y) belongs to cluster Clusters[y * Pitch + x]
    size_t Pitch;
    int32_t Width, Height;
    const TColour* ClusterColours;  // mean colour per cluster
};

// Writes labels[0 .. Width*Height-1] so that every label is one 4-connected region of pixels
// of one cluster. A region smaller than minSize pixels joins the neighbouring region, among those
// that precede it in row order, whose cluster colour is nearest to its own; only the very first
// region has no such neighbour and always stays. Labels are numbered 0 .. result-1 in the row
// order of each region's first pixel, with no gaps. queue and labelClusters are scratch space
// for Width*Height entries each.
int32_t EnforceConnectivity(const TClusterMap& map, int32_t minSize, int32_t* labels, TSpan* queue,
                            int32_t* labelClusters);

} // namespace Slic
