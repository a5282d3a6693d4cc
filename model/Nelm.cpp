#include "Nelm.h"

#include <cmath>
#include <stdexcept>

namespace {

// One search. Coordinates cover the m free parameters only. Rows 0..m of the simplex table are the
// vertices; the three rows after them hold the centroid, the reflected point and the expanded or
// contracted point. Ties in the search for the highest and lowest vertex go to the first row.
class TSimplexSearch {
public:
    TSimplexSearch(const TVector& X, const TSimplexObjective& Objective, const TVector& Lower,
                   const TVector& Upper, const TBoolVector& Free);

    int32_t FreeCount() const { return fM; }
    // Clamps the start point and evaluates the starting simplex.
    void BuildStart(double Step);
    // One iteration; false once the search is over, the result then in the working vector.
    bool Iterate(int32_t EvaluationLimit, double Tolerance);
    void EvaluateWorking();
    void CopyResult(TVector& X) const;
    TSimplexCounts Counts() const { return fCounts; }

private:
    int32_t Centroid() const { return fM + 1; }
    int32_t Reflected() const { return fM + 2; }
    int32_t Trial() const { return fM + 3; }

    void Clamp(TVector& Point) const;
    void LoadRow(int32_t Row);
    void Evaluate(int32_t Row);
    void Replace(int32_t Row);
    void FindExtremes();
    void ComputeCentroid();
    double SecondHighest() const;
    void Move();
    void Shrink();
    double Spread();
    bool HasCoincidentVertices() const;

    const TSimplexObjective& fObjective;
    TVector fWork;       // one-based; entry 0 stays 0, fixed parameters keep their start values
    TIntVector fIndex;   // free coordinate j -> its position in fWork
    TVector fLower, fUpper;
    TBoolVector fBounded;
    int32_t fM = 0;
    TMatrix fRows;
    TVector fValues;
    int32_t fHigh = 0, fLow = 0;
    TSimplexCounts fCounts;
};

TSimplexSearch::TSimplexSearch(const TVector& X, const TSimplexObjective& Objective, const TVector& Lower,
                               const TVector& Upper, const TBoolVector& Free)
    : fObjective(Objective), fWork(X.size() + 1, 0.0)
{
    for (size_t k = 0; k < X.size(); ++k) {
        fWork[k + 1] = X[k];
        if (!Free[k])
            continue;
        fIndex.push_back(int32_t(k + 1));
        fLower.push_back(Lower[k]);
        fUpper.push_back(Upper[k]);
        fBounded.push_back(!(Lower[k] == 0 && Upper[k] == 0));
    }
    fM = int32_t(fIndex.size());
    fRows.assign(size_t(fM) + 4, TVector(size_t(fM), 0.0));
    fValues.assign(size_t(fM) + 4, 0.0);
}

// Below Lower first, then above Upper: an empty box (Lower > Upper) ends at Upper.
void TSimplexSearch::Clamp(TVector& Point) const
{
    for (int32_t j = 0; j < fM; ++j) {
        if (!fBounded[j])
            continue;
        if (Point[j] < fLower[j])
            Point[j] = fLower[j];
        if (Point[j] > fUpper[j])
            Point[j] = fUpper[j];
    }
}

// Spendley, Hext and Himsworth's regular simplex: vertex 0 is the start point, vertex i is the start
// point moved by p along free coordinate i - 1 and by q along all others, so every edge is Step long.
void TSimplexSearch::BuildStart(double Step)
{
    const double t = Step / (fM * std::sqrt(2.0));
    const double p = t * (std::sqrt(fM + 1.0) - 1 + fM);
    const double q = t * (std::sqrt(fM + 1.0) - 1);
    TVector& start = fRows[0];
    for (int32_t j = 0; j < fM; ++j)
        start[j] = fWork[fIndex[j]];
    Clamp(start);
    for (int32_t i = 1; i <= fM; ++i) {
        TVector& v = fRows[i];
        for (int32_t j = 0; j < fM; ++j)
            v[j] = start[j] + (j == i - 1 ? p : q);
        Clamp(v);
    }
    for (int32_t i = 0; i <= fM; ++i)
        Evaluate(i);
}

void TSimplexSearch::LoadRow(int32_t Row)
{
    for (int32_t j = 0; j < fM; ++j)
        fWork[fIndex[j]] = fRows[Row][j];
}

void TSimplexSearch::EvaluateWorking()
{
    ++fCounts.Evaluations;
    (void)fObjective(fWork);
}

void TSimplexSearch::Evaluate(int32_t Row)
{
    LoadRow(Row);
    ++fCounts.Evaluations;
    fValues[Row] = fObjective(fWork);
}

// The point's own value is not reused: the vertex is evaluated again.
void TSimplexSearch::Replace(int32_t Row)
{
    fRows[fHigh] = fRows[Row];
    Evaluate(fHigh);
}

void TSimplexSearch::FindExtremes()
{
    fHigh = 0;
    fLow = 0;
    for (int32_t i = 1; i <= fM; ++i) {
        if (fValues[i] > fValues[fHigh])
            fHigh = i;
        if (fValues[i] < fValues[fLow])
            fLow = i;
    }
}

void TSimplexSearch::ComputeCentroid()
{
    TVector& c = fRows[Centroid()];
    for (int32_t j = 0; j < fM; ++j) {
        double sum = 0;
        for (int32_t i = 0; i <= fM; ++i)
            sum += fRows[i][j];
        c[j] = (sum - fRows[fHigh][j]) / fM;
    }
}

double TSimplexSearch::SecondHighest() const
{
    int32_t second = fHigh == 0 ? 1 : 0;
    for (int32_t i = 0; i <= fM; ++i)
        if (i != fHigh && fValues[i] > fValues[second])
            second = i;
    return fValues[second];
}

// Every vertex halfway towards the lowest; the lowest itself stays (and is evaluated again).
void TSimplexSearch::Shrink()
{
    for (int32_t i = 0; i <= fM; ++i)
        for (int32_t j = 0; i != fLow && j < fM; ++j)
            fRows[i][j] = (fRows[i][j] + fRows[fLow][j]) / 2;
    for (int32_t i = 0; i <= fM; ++i)
        Evaluate(i);
}

// Reflection, expansion, contraction or shrink; yh and yl are the values found before the move.
void TSimplexSearch::Move()
{
    const TVector& c = fRows[Centroid()];
    TVector& r = fRows[Reflected()];
    TVector& t = fRows[Trial()];
    TVector& vh = fRows[fHigh];
    const double yh = fValues[fHigh], yl = fValues[fLow];
    for (int32_t j = 0; j < fM; ++j)
        r[j] = 2 * c[j] - vh[j];
    Clamp(r);
    Evaluate(Reflected());
    const double yr = fValues[Reflected()];
    if (yr < yl) {
        for (int32_t j = 0; j < fM; ++j)
            t[j] = -c[j] + 2 * r[j];
        Clamp(t);
        Evaluate(Trial());
        Replace(fValues[Trial()] < yl ? Trial() : Reflected());
    } else if (yr <= SecondHighest()) {
        Replace(Reflected());
    } else {
        // Contract from the better of vh and r; vh keeps its old value yh meanwhile.
        if (yr <= yh)
            vh = r;
        for (int32_t j = 0; j < fM; ++j)
            t[j] = 0.5 * vh[j] + 0.5 * c[j];
        Evaluate(Trial());
        if (yh > fValues[Trial()])
            Replace(Trial());
        else
            Shrink();
    }
}

// Evaluated at the centroid taken before the move, not at a fresh one.
double TSimplexSearch::Spread()
{
    Evaluate(Centroid());
    const double yc = fValues[Centroid()];
    double sum = 0;
    for (int32_t i = 0; i <= fM; ++i)
        sum += (fValues[i] - yc) * (fValues[i] - yc);
    return std::sqrt(sum) / fM;
}

bool TSimplexSearch::HasCoincidentVertices() const
{
    for (int32_t a = 0; a < fM; ++a)
        for (int32_t b = a + 1; b <= fM; ++b)
            if (fRows[a] == fRows[b])
                return true;
    return false;
}

bool TSimplexSearch::Iterate(int32_t EvaluationLimit, double Tolerance)
{
    ++fCounts.Iterations;
    FindExtremes();
    ComputeCentroid();
    Move();
    const double w = Spread();
    if (fCounts.Evaluations > EvaluationLimit) {
        LoadRow(fLow);
        return false;
    }
    // Two equal vertices leave the simplex flat, blind to one direction: stop at the centroid, the
    // point just evaluated.
    if (HasCoincidentVertices()) {
        LoadRow(Centroid());
        return false;
    }
    if (w > Tolerance)
        return true;
    LoadRow(fLow);
    return false;
}

void TSimplexSearch::CopyResult(TVector& X) const
{
    for (size_t k = 0; k < X.size(); ++k)
        X[k] = fWork[k + 1];
}

} // namespace

TSimplexCounts SimplexMinimize(int32_t /*PrintFrequency*/, int32_t EvaluationLimit, TVector& X,
                               const TSimplexObjective& Objective, double Step, double Tolerance,
                               const TVector& Lower, const TVector& Upper, const TBoolVector& Free)
{
    if (!Objective)
        throw std::invalid_argument("SimplexMinimize: no objective");
    if (Lower.size() < X.size() || Upper.size() < X.size() || Free.size() < X.size())
        throw std::invalid_argument("SimplexMinimize: bounds or free flags shorter than X");
    // Everything works on copies, so an exception from the objective leaves X as it was.
    TSimplexSearch search(X, Objective, Lower, Upper, Free);
    if (search.FreeCount() == 0) {
        search.EvaluateWorking();
        return search.Counts();
    }
    search.BuildStart(Step);
    while (search.Iterate(EvaluationLimit, Tolerance)) {
    }
    search.CopyResult(X);
    return search.Counts();
}
