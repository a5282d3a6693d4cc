#include "Nelm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <stdexcept>

namespace {

// Wraps a function and keeps a copy of every vector the search hands to it.
struct TRecordingObjective {
    std::function<double(const TVector&)> F;
    std::vector<TVector> Calls;

    TSimplexObjective Bind()
    {
        return [this](const TVector& x) {
            Calls.push_back(x);
            return F(x);
        };
    }
};

double Distance(const TVector& a, const TVector& b)
{
    double sum = 0;
    for (size_t k = 0; k < a.size(); ++k)
        sum += (a[k] - b[k]) * (a[k] - b[k]);
    return std::sqrt(sum);
}

} // namespace

TEST(NelmTest, NoFreeParameterEvaluatesOnceAndKeepsX)
{
    const TVector starts[] = {{}, {7, -3}};
    for (const TVector& start : starts) {
        TRecordingObjective f{[](const TVector&) { return 1.0; }, {}};
        TVector x = start;
        const size_t n = x.size();
        // Bounds that would move the values if fixed parameters were clamped.
        const TSimplexCounts counts = SimplexMinimize(-1, 1000, x, f.Bind(), 1, 0.005, TVector(n, 0),
                                                      TVector(n, 1), TBoolVector(n, false));
        EXPECT_EQ(x, start);
        EXPECT_EQ(counts.Evaluations, 1);
        ASSERT_EQ(f.Calls.size(), 1u);
        TVector expected{0};
        expected.insert(expected.end(), start.begin(), start.end());
        EXPECT_EQ(f.Calls[0], expected);
    }
}

TEST(NelmTest, StartingSimplexIsRegularWithEdgeStep)
{
    // Six free parameters, step 1: vertex i moves by p along coordinate i and by q along the others.
    TRecordingObjective f{[](const TVector& x) { return x[1]; }, {}};
    TVector x{1, 2, 3, 4, 5, 6};
    SimplexMinimize(-1, 0, x, f.Bind(), 1, 0.005, TVector(6, 0), TVector(6, 0), TBoolVector(6, true));
    ASSERT_GE(f.Calls.size(), 7u);
    EXPECT_EQ(f.Calls[0], (TVector{0, 1, 2, 3, 4, 5, 6}));
    for (size_t i = 1; i <= 6; ++i)
        for (size_t k = 1; k <= 6; ++k)
            EXPECT_NEAR(f.Calls[i][k] - f.Calls[0][k], k == i ? 0.90106043 : 0.19395365, 1e-8) << i << k;
    for (size_t a = 0; a < 7; ++a)
        for (size_t b = a + 1; b < 7; ++b)
            EXPECT_NEAR(Distance(f.Calls[a], f.Calls[b]), 1.0, 1e-12) << a << b;

    // One free parameter, step 1: the two vertices are X and X + 1.
    TRecordingObjective g{[](const TVector& x) { return x[1]; }, {}};
    TVector y{2.5};
    SimplexMinimize(-1, 0, y, g.Bind(), 1, 0.005, {0}, {0}, {true});
    ASSERT_GE(g.Calls.size(), 2u);
    EXPECT_EQ(g.Calls[0], (TVector{0, 2.5}));
    EXPECT_EQ(g.Calls[1], (TVector{0, 3.5}));
}

TEST(NelmTest, FixedBoundedAndUnboundedParametersAsTheObjectiveSeesThem)
{
    // 0: bounded [-1, 1], starts below; 1: fixed at 42 outside its bounds; 2: unbounded (0, 0) with
    // its minimum at -7; 3: bounds 5..5, starts at 2, and its minimum at 1 pulls against them.
    TRecordingObjective f{[](const TVector& x) {
                              return (x[1] - 0.25) * (x[1] - 0.25) + (x[3] + 7) * (x[3] + 7) +
                                     (x[4] - 1) * (x[4] - 1) + x[2];
                          },
                          {}};
    TVector x{-4, 42, 3, 2};
    SimplexMinimize(-1, 5000, x, f.Bind(), 1, 1e-12, {-1, 0, 0, 5}, {1, 1, 0, 5}, {true, false, true, true});

    ASSERT_FALSE(f.Calls.empty());
    EXPECT_EQ(f.Calls[0], (TVector{0, -1, 42, 3, 5}));
    for (const TVector& call : f.Calls) {
        ASSERT_EQ(call.size(), 5u);
        EXPECT_EQ(call[0], 0);
        EXPECT_EQ(call[2], 42);
        EXPECT_EQ(call[4], 5);
        EXPECT_GE(call[1], -1);
        EXPECT_LE(call[1], 1);
    }
    EXPECT_NEAR(x[0], 0.25, 1e-4);
    EXPECT_EQ(x[1], 42);
    EXPECT_NEAR(x[2], -7, 1e-4);
    EXPECT_EQ(x[3], 5);
}

// One iteration on one free parameter: vertices 0 (value 0) and 1 (value 1), centroid 0, reflected
// point -1. Each row gives the values that decide the move and the points the search must evaluate.
TEST(NelmTest, FirstIterationMoves)
{
    struct TCase {
        const char* Name;
        std::map<double, double> Values;
        TVector Points;
    };
    const TCase cases[] = {
        {"reflection kept on a tie with the lowest", {{-1, 0}}, {0, 1, -1, -1, 0}},
        {"expansion rejected", {{-1, -1}, {-2, 0.5}}, {0, 1, -1, -2, -1, 0}},
        {"expansion kept", {{-1, -1}, {-2, -2}}, {0, 1, -1, -2, -2, 0}},
        // 0.75 is worse than the reflection but better than the old highest value 1.
        {"contraction from the reflected point", {{-1, 0.5}, {-0.5, 0.75}}, {0, 1, -1, -0.5, -0.5, 0}},
        {"contraction from the highest vertex", {{-1, 2}, {0.5, 0.5}}, {0, 1, -1, 0.5, 0.5, 0}},
        {"shrink towards the lowest", {{-1, 2}, {0.5, 5}}, {0, 1, -1, 0.5, 0, 0.5, 0}},
    };
    for (const TCase& c : cases) {
        std::map<double, double> values = c.Values;
        values.emplace(0, 0);
        values.emplace(1, 1);
        TRecordingObjective f{[&values](const TVector& x) {
                                  const auto it = values.find(x[1]);
                                  return it == values.end() ? 1e9 : it->second;
                              },
                              {}};
        TVector x{0};
        // A limit already exceeded by the start ends the search after one iteration.
        const TSimplexCounts counts = SimplexMinimize(-1, 2, x, f.Bind(), 1, 0, {0}, {0}, {true});
        TVector points;
        for (const TVector& call : f.Calls)
            points.push_back(call[1]);
        EXPECT_EQ(points, c.Points) << c.Name;
        EXPECT_EQ(counts.Iterations, 1) << c.Name;
        EXPECT_EQ(x[0], 0) << c.Name;
    }
}

TEST(NelmTest, EvaluationLimitReturnsLowestVertexOfLastIteration)
{
    // On -x every iteration expands: the vertices go 0, 1 -> 3 -> 7 -> 15, four evaluations each.
    // The result is the vertex lowest when the last iteration began, not the lower point it placed.
    struct TCase {
        int32_t Limit;
        double Result;
        int64_t Evaluations;
    };
    const TCase cases[] = {{5, 1, 6}, {6, 3, 10}, {9, 3, 10}, {10, 7, 14}};
    for (const TCase& c : cases) {
        TVector x{0};
        const TSimplexCounts counts =
            SimplexMinimize(-1, c.Limit, x, [](const TVector& v) { return -v[1]; }, 1, 0, {0}, {0}, {true});
        EXPECT_EQ(x[0], c.Result) << c.Limit;
        EXPECT_EQ(counts.Evaluations, c.Evaluations) << c.Limit;
    }
}

TEST(NelmTest, CoincidentVerticesStopAtTheCentroid)
{
    // Box [0, 0.1]^2 clamps vertices 1 and 2 together at (0.1, 0.1). On x + y the first iteration
    // reflects vertex 1 onto vertex 0 at the origin; the search then stops at that iteration's
    // centroid (0.05, 0.05), although the tolerance is far from met and vertex 0 is lower.
    TRecordingObjective f{[](const TVector& x) { return x[1] + x[2]; }, {}};
    TVector x{0, 0};
    const TSimplexCounts counts =
        SimplexMinimize(-1, 1000, x, f.Bind(), 1, 1e-12, {0, 0}, {0.1, 0.1}, {true, true});
    EXPECT_DOUBLE_EQ(x[0], 0.05);
    EXPECT_DOUBLE_EQ(x[1], 0.05);
    EXPECT_EQ(counts.Iterations, 1);
    EXPECT_EQ(counts.Evaluations, 6);
    EXPECT_EQ(f.Calls.back(), (TVector{0, x[0], x[1]}));
}

TEST(NelmTest, FindsMinimumOfBoundedSixParameterBowl)
{
    // Weighted, shifted quadratic; parameter 4 has its minimum at 4 beyond its upper bound 3.5.
    const double centre[6] = {3, -2, 1.5, 0.5, 4, -1};
    const double weight[6] = {1, 2, 0.5, 1, 3, 1};
    const auto bowl = [&](const TVector& v) {
        double sum = 0;
        for (int k = 0; k < 6; ++k)
            sum += weight[k] * (v[k + 1] - centre[k]) * (v[k + 1] - centre[k]);
        return sum;
    };
    TVector x(6, 0);
    const TSimplexCounts counts = SimplexMinimize(-1, 5000, x, bowl, 1, 1e-10, TVector(6, -10),
                                                  {10, 10, 10, 10, 3.5, 10}, TBoolVector(6, true));
    const double expected[6] = {3, -2, 1.5, 0.5, 3.5, -1};
    for (int k = 0; k < 6; ++k)
        EXPECT_NEAR(x[k], expected[k], 1e-3) << k;
    EXPECT_LT(counts.Evaluations, 5000);
}

TEST(NelmTest, ObjectiveErrorReachesCallerAndKeepsStart)
{
    int calls = 0;
    const auto failing = [&calls](const TVector& v) {
        if (++calls == 5)
            throw std::domain_error("cost failed");
        return v[1] * v[1];
    };
    // The start lies outside its box, so any write-back would show.
    TVector x{-4, 2};
    EXPECT_THROW(SimplexMinimize(-1, 1000, x, failing, 1, 0.005, {-1, -1}, {1, 1}, {true, true}),
                 std::domain_error);
    EXPECT_EQ(x, (TVector{-4, 2}));
}

TEST(NelmTest, RejectsShortBoundsAndMissingObjective)
{
    int calls = 0;
    const TSimplexObjective counting = [&calls](const TVector&) { return ++calls; };
    TVector x{1, 2};
    EXPECT_THROW(SimplexMinimize(-1, 10, x, counting, 1, 0, {0}, {0, 0}, {true, true}), std::invalid_argument);
    EXPECT_THROW(SimplexMinimize(-1, 10, x, counting, 1, 0, {0, 0}, {0, 0}, {true}), std::invalid_argument);
    EXPECT_THROW(SimplexMinimize(-1, 10, x, nullptr, 1, 0, {0, 0}, {0, 0}, {true, true}), std::invalid_argument);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(x, (TVector{1, 2}));
}
