// SLIC superpixels (Achanta et al., "SLIC superpixels compared to state-of-the-art superpixel
// methods", IEEE TPAMI 34(11), 2012): local k-means on (L, a, b, x, y), then connectivity.
#pragma once

#include "Connectivity.h"
#include "Workspace.h"

#include <cstdint>
#include <vector>

namespace Slic {

// Running sums of one cluster's pixels for the update step.
struct TClusterSum {
    double L, A, B, X, Y;
    int64_t N;
};

// A centre whose search window covers the row being assigned, with the coefficients of its
// distance to a pixel (see AssignRow).
struct TActiveWindow {
    int32_t X0, X1, Y1, K;
    float Left, Right;     // X0 and X1 as floats, for lane masks
    float Y;               // the centre's y
    float CL, CA, CB, CX;  // -2 L, -2 a, -2 b and -2 (m / S)^2 x of the centre
    float Constant;        // L^2 + a^2 + b^2 + (m / S)^2 x^2 of the centre
};

struct TSlicOptions {
    int MaxIterations = 10;
    // Stop before MaxIterations once the centres have settled: their mean move in an iteration
    // is below SettledShift grid intervals.
    bool EarlyStop = true;
    float SettledShift = 0.01f;
};

// One segmentation object: holds the working memory so that repeated runs on the same object
// reuse it. Not thread-safe; distinct objects are independent and may run concurrently.
class TSegmenter {
public:
    // Segments a width x height image of 0x??RRGGBB pixels into about k superpixels with
    // compactness m (the weight of the spatial distance, in CIELAB units per grid interval).
    // Requires width, height >= 1, width * height <= INT32_MAX, k >= 1 and a finite m (the
    // C interface checks these); k above the pixel count is clamped. Writes labels[0 .. w*h-1]
    // and returns the number of superpixels. Throws std::bad_alloc before touching labels.
    int32_t Run(const uint32_t* pixels, int32_t width, int32_t height, int32_t k, double m,
                int32_t* labels, const TSlicOptions& options = {});

    // Iterations the last Run performed (for benchmarks).
    int Iterations() const { return fIterations; }

private:
    struct TCentre {
        float X, Y, L, A, B;
    };
    struct TBounds {   // a centre's search window, inclusive
        int32_t X0, X1, Y0, Y1;
    };

    void PlaceSeeds(int32_t k);
    float Gradient(size_t i) const;
    void MoveSeedsOffEdges();
    void AssignToGridCells();
    float Iterate();
    void OrderByTopRow();
    void UpdateActive(int32_t y, size_t& next);
    void UpdateRowTerms(int32_t y);
    float MoveCentres();

    int32_t fWidth = 0, fHeight = 0;
    size_t fPitch = 0;                      // floats from one row of a plane to the next
    int32_t fColumns = 1, fRows = 1;        // seed grid
    float fCellWidth = 1, fCellHeight = 1;  // grid interval along x and y
    int32_t fReachX = 1, fReachY = 1;       // half size of the search window around a centre
    float fSpatialWeight = 0;               // m^2 / S^2
    int fIterations = 0;

    // Planes of fPitch * height entries in fWorkspace.
    TWorkspace fWorkspace;
    float* fL = nullptr;
    float* fA = nullptr;
    float* fB = nullptr;
    int32_t* fCluster = nullptr;            // index of the nearest centre per pixel
    int32_t* fLabelClusters = nullptr;      // scratch for the connectivity stage

    std::vector<TCentre> fCentres;
    std::vector<TBounds> fWindows;
    std::vector<int32_t> fOrder;            // centres by the top row of their window
    std::vector<int32_t> fRowStarts;        // scratch for ordering them
    std::vector<TActiveWindow> fEntries;    // every centre's window and distance coefficients
    std::vector<uint64_t> fActive;          // the windows that cover the current row, by X0
    std::vector<uint64_t> fEntering;        // windows whose top row is the current row
    std::vector<uint64_t> fMerged;          // scratch for merging those into fActive
    int32_t fFirstEnd = 0;                  // the least bottom row (Y1) in fActive
    std::vector<float> fRowTerms;           // each active window's constant for the current row
    std::vector<TClusterSum> fSums;
    std::vector<TColour> fColours;          // centre colours for the connectivity stage
};

} // namespace Slic
