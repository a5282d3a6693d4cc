// Bounded Nelder-Mead downhill simplex search: minimises a real function of n real parameters
// without derivatives.
#pragma once

#include "Types.h"

#include <functional>

// The function to minimise. X is one-based: X[0] = 0 and X[k] holds parameter k (k = 1..n), fixed
// parameters at their start values. X is the search's working vector: read it during the call and
// keep no reference to it afterwards.
using TSimplexObjective = std::function<double(const TVector& X)>;

// What one search did. For tests and diagnostics: the caller cannot tell from it whether the
// tolerance was met, and the final objective value is not kept.
struct TSimplexCounts {
    int64_t Evaluations = 0; // every call of the objective
    int64_t Iterations = 0;
};

// Minimises Objective over the parameters k with Free[k] set, starting from X (n entries, zero-based)
// and leaving the result in X. Lower and Upper bound each free parameter (a box; Lower = Upper = 0
// marks a free parameter unbounded); fixed parameters keep their start values and are never clamped.
//
// - The start point is clamped into the box; the starting simplex is regular with edge length Step
//   (then clamped); reflected and expanded points are clamped, contracted points are not.
// - Coefficients 1 (reflection), 2 (expansion), 0.5 (contraction, shrink). A vertex that is replaced
//   gets its value by a fresh evaluation.
// - Each iteration ends with an evaluation at its centroid c and the spread
//   W = sqrt(sum over vertices of (value - value at c)^2) / m, m being the number of free parameters.
// - Stops when the evaluation count exceeds EvaluationLimit (tested once per iteration, so it may
//   overshoot by up to m + 4), else when two vertices coincide exactly (result: that iteration's
//   centroid), else when W <= Tolerance. Otherwise the result is the vertex that was lowest at the
//   start of the last iteration, even if that iteration placed a lower point.
// - No free parameter: one evaluation at X, X unchanged.
// - The last call of Objective is in general not at the result: an objective that keeps state must
//   be brought to the result by the caller.
// - An exception from Objective ends the search and reaches the caller; X keeps its start values.
// - Lower, Upper or Free shorter than X, or an empty Objective: std::invalid_argument, nothing called.
//
// PrintFrequency is accepted for the call's shape and ignored: nothing is printed.
// Any thread may call it; searches share nothing, so several may run at once with their own objectives.
TSimplexCounts SimplexMinimize(int32_t PrintFrequency, int32_t EvaluationLimit, TVector& X,
                               const TSimplexObjective& Objective, double Step, double Tolerance,
                               const TVector& Lower, const TVector& Upper, const TBoolVector& Free);
