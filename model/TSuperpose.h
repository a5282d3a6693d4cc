// Superposition of a later photograph onto the first photograph of its tooth: one least-squares
// fit of rotation, shift, scale and intensity gain on reduced grey copies of the two photographs.
#pragma once

#include "TIntImage.h"

#include <functional>

// Called after every cost evaluation with the reduced reference and the transformed photograph.
using TOnShow = std::function<void(const TIntImage& im1, const TIntImage& im2)>;

// The reduced plane both photographs are compared in: 256 wide, with the reference's proportions
// (height 256 / width x height, rounded half to even). A 600 x 400 reference gives (0, 0, 256, 171).
TRect ReducedRect(const TIntImage& reference);
// The central part of R the fit compares: R less an eighth of its width and height on each side.
// (0, 0, 256, 171) gives (32, 21, 224, 150).
TRect CentralRect(const TRect& R);
// image reduced to R (its top-left part when its proportions differ) and made grey: reduced pixel
// (c, r) is the mean grey level (largest colour byte) of the photograph pixels within Scale / 2 of
// (c x Scale, r x Scale), the pixel nearest-neighbour sampling would take, partly covered pixels
// weighted by their share; rounded to 0..255. Averaging keeps camera noise and fine texture out
// of the copy. Scale receives the photograph pixels per reduced pixel, as FitToRect gives it.
TIntImage ReduceToGrey(const TIntImage& image, const TRect& R, double& Scale);

// Alignment quality of image against reference: the normalised cross-correlation of the Sobel
// gradient magnitudes of their reduced grey copies (reduced as the fit reduces them, to
// reference's proportions) over the central region the fit compares. 1 is a perfect match; 0 when
// either region has no edges at all. Throws TOrvixError for photographs too small to align.
// Reads both images only; any thread.
double AlignmentCorrelation(const TIntImage& reference, const TIntImage& image);

// Alignments whose quality is below this are doubtful: they are named after a batch and should be
// checked by eye. Chosen on rendered studies (bench/align_sweep): see bench/README.md.
inline constexpr double DoubtfulAlignQuality = 0.93;

class TBilinearPlane; // TSuperpose.cpp

// One fit. It runs inside the constructor: on return pars holds the transform under which
// aSuspect best matches aEtalon (aSuspect through pars ~ aEtalon); the object is then of no further
// use. Neither image is changed. pars' values are the start point; its Coeff receives the
// intensity gain. With Deform false the scales keep their start values exactly.
//
// The cost is the squared difference of Etalon and the gain-scaled Suspect, sampled bilinearly
// through the candidate, over FitRect.
//
// The search starts from the best of a grid of starts around pars, scored with the same cost on
// every second pixel: a coarse grid (angles -30..30 degrees in steps of 3, shifts over 3/16 of the
// reduced width and height in steps of 4 reduced pixels) and a fine one around its best (+-3
// degrees in steps of 0.5, +-4 pixels in steps of 1). pars itself is kept unless a grid start is
// strictly better.
//
// Throws TOrvixError when the central window of the reduced aSuspect is all black (the start gain
// would divide by zero); pars is then unchanged. Otherwise pars is written at every evaluation,
// so nothing else may read it during the fit.
// Any thread; several fits may run at once on different records.
class TSuperpose {
public:
    TSuperpose(const TIntImage& aEtalon, const TIntImage& aSuspect, TTransPars& pars, bool Deform,
               TOnShow Showproc);
    TSuperpose(const TSuperpose&) = delete;
    TSuperpose& operator=(const TSuperpose&) = delete;

    TIntImage Etalon;  // reduced grey reference
    TIntImage Suspect; // reduced grey photograph being aligned
    TIntImage buf;     // Suspect through the candidate, over FitRect: filled only for onShow
    PTransPars ppars = nullptr;
    TVector U; // angle, x shift, y shift (reduced pixels), x and y scale change (%), gain
    TVector A; // lower bounds
    TVector B; // upper bounds
    TBoolVector W;
    TRect FitRect;
    TOnShow onShow;

private:
    // Writes v[f] .. v[f + 5] (angle, shifts, scale changes in %, gain) into the record.
    void SetPars(const TVector& v, size_t f);
    // The start vector from the record, shifts divided by s; the gain entry is 1.
    TVector GetPars(double s) const;
    // Sum of the central window (about an eighth of each side) of im.
    static double CentralSum(const TIntImage& im);
    double Cost(const TVector& X, const TBilinearPlane& source);
    // Moves the angle and shifts of U to the best start of the grid.
    void ChooseStart(const TBilinearPlane& source);

    double fEtalonSquares = 0;     // sum of Etalon^2 over FitRect: the fixed part of the cost
    std::vector<float> fEtalonFit; // Etalon over FitRect, row by row
    std::vector<float> fRow;       // one row of the transformed Suspect

};
