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
// image reduced to R by nearest neighbour (its top-left part when its proportions differ) and made
// grey (largest colour byte); Scale receives the photograph pixels per reduced pixel.
TIntImage ReduceToGrey(const TIntImage& image, const TRect& R, double& Scale);

// Normalised cross-correlation of the reduced grey copies of two photographs over the central
// region the fit compares, reduced as the fit reduces them (to reference's proportions).
// 1 is a perfect match; 0 when either region is uniform (there is nothing to compare).
// Reads both images only; any thread.
double AlignmentCorrelation(const TIntImage& reference, const TIntImage& image);

// One fit. It runs inside the constructor: on return pars holds the transform under which
// aSuspect best matches aEtalon (aSuspect through pars ~ aEtalon); the object is then of no further
// use. Neither image is changed. pars' values are the start point; its Coeff receives the
// intensity gain. With Deform false the scales keep their start values exactly.
//
// The search starts from the best of a grid of starts around pars, scored with the same cost on
// every second pixel: a coarse grid (angles -18..18 degrees in steps of 3, shifts over 3/16 of the
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
    TIntImage buf;     // Suspect through the candidate, over FitRect
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
    double Cost(const TVector& X);
    // Moves the angle and shifts of U to the best start of the grid.
    void ChooseStart();

    double fEtalonSquares = 0; // sum of Etalon^2 over FitRect: the fixed part of the cost
};
