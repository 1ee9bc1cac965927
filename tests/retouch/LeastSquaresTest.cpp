#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "ApproximationBGRLSM2.h"
#include "ApproximationLSM2.h"
#include "ArgumentTransfer.h"
#include "LeastSquaresMethod2.h"
#include "apGenLeastSq.h"
#include "apMinMisclosureSvd.h"

namespace {

// Independent check: the weighted normal equations solved by Gaussian
// elimination with partial pivoting in long double.
std::vector<double> NormalEquationsReference(const std::vector<double>& z, const std::vector<double>& w,
                                             const std::vector<double>& rows, int points, int n) {
    std::vector<std::vector<long double>> a(size_t(n), std::vector<long double>(size_t(n) + 1, 0.0L));
    for (int k = 0; k < points; ++k) {
        const long double w2 = (long double)w[size_t(k)] * w[size_t(k)];
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) a[i][j] += w2 * rows[k * n + i] * rows[k * n + j];
            a[i][n] += w2 * z[size_t(k)] * rows[k * n + i];
        }
    }
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs((double)a[r][c]) > std::fabs((double)a[pivot][c])) pivot = r;
        std::swap(a[c], a[pivot]);
        for (int r = c + 1; r < n; ++r) {
            const long double f = a[r][c] / a[c][c];
            for (int j = c; j <= n; ++j) a[r][j] -= f * a[c][j];
        }
    }
    std::vector<double> x(static_cast<size_t>(n), 0.0);
    for (int i = n - 1; i >= 0; --i) {
        long double s = a[i][n];
        for (int j = i + 1; j < n; ++j) s -= a[i][j] * x[size_t(j)];
        x[size_t(i)] = double(s / a[i][i]);
    }
    return x;
}

}  // namespace

TEST(Svd, SignAndPythag) {
    EXPECT_EQ(SvdSign(-3, 0), 3);
    EXPECT_EQ(SvdSign(3, -1), -3);
    EXPECT_EQ(SvdSign(-2, 5), 2);
    EXPECT_EQ(SvdPythag(3, 4), 5);
    EXPECT_EQ(SvdPythag(-4, 3), 5);
    EXPECT_EQ(SvdPythag(0, 0), 0);
    EXPECT_DOUBLE_EQ(SvdPythag(1e200, 1e200), std::sqrt(2.0) * 1e200);  // no overflow
}

TEST(Svd, SolvesFullRankAndKeepsRightSide) {
    // 3 x 3 system with a known answer (1, -2, 3), right side in column 4.
    std::vector<double> a = {2, 1, -1, 2 * 1 + 1 * -2 + -1 * 3,  //
                             -3, -1, 2, -3 * 1 + -1 * -2 + 2 * 3,  //
                             -2, 1, 2, -2 * 1 + 1 * -2 + 2 * 3};
    std::vector<double> x;
    ASSERT_TRUE(SvdSolve(a, 3, 3, x));
    ASSERT_EQ(x.size(), 3u);
    EXPECT_NEAR(x[0], 1, 1e-12);
    EXPECT_NEAR(x[1], -2, 1e-12);
    EXPECT_NEAR(x[2], 3, 1e-12);
    EXPECT_EQ(a[3], -3);
    EXPECT_EQ(a[7], 5);
    EXPECT_EQ(a[11], 2);
}

TEST(Svd, SingularSystemGivesMinimumNormAndFalse) {
    std::vector<double> a = {1, 1, 2,  //
                             1, 1, 2};
    std::vector<double> x;
    EXPECT_FALSE(SvdSolve(a, 2, 2, x));
    EXPECT_NEAR(x[0], 1, 1e-12);
    EXPECT_NEAR(x[1], 1, 1e-12);

    std::vector<double> zero(2 * 3, 0.0);
    EXPECT_FALSE(SvdSolve(zero, 2, 2, x));
    EXPECT_EQ(x, std::vector<double>({0, 0}));
}

TEST(Svd, NonFiniteOrMisshapenInputGivesZeroAndFalse) {
    std::vector<double> a = {1, 0, 1, 0, std::numeric_limits<double>::quiet_NaN(), 1};
    std::vector<double> x;
    EXPECT_FALSE(SvdSolve(a, 2, 2, x));
    EXPECT_EQ(x, std::vector<double>({0, 0}));
    a = {1, 0, 1, 0, std::numeric_limits<double>::infinity(), 1};
    EXPECT_FALSE(SvdSolve(a, 2, 2, x));
    EXPECT_EQ(x, std::vector<double>({0, 0}));
    std::vector<double> tooShort = {1, 2};
    EXPECT_FALSE(SvdSolve(tooShort, 2, 2, x));
}

TEST(Svd, AgreesWithEliminationOnRandomWeightedFits) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> coord(-20, 20), value(-300, 300), weight(0.1, 3);
    for (int trial = 0; trial < 60; ++trial) {
        const int degree = trial % 6;
        const int n = TArgumentTransfer::TermCountOf(degree);
        const int points = n + 5 + trial % 7;
        TArgumentTransfer basis(degree);
        std::vector<double> rows, z, w;
        for (int k = 0; k < points; ++k) {
            basis.SetArguments(coord(rng), coord(rng));
            rows.insert(rows.end(), basis.Basis().begin(), basis.Basis().end());
            z.push_back(value(rng));
            w.push_back(weight(rng));
        }
        std::vector<double> c;
        ASSERT_TRUE(GenLeastSquares(z, w, rows, points, n, c)) << "trial " << trial;
        const std::vector<double> ref = NormalEquationsReference(z, w, rows, points, n);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(c[size_t(i)], ref[size_t(i)], 1e-6 * (1 + std::fabs(ref[size_t(i)])))
                << "trial " << trial << " term " << i;
        }
    }
}

TEST(ArgumentTransfer, BasisOrderAndTermCounts) {
    TArgumentTransfer t(5);
    t.SetArguments(2, 3);
    EXPECT_EQ(t.Basis(), std::vector<double>({1, 2, 3, 6, 4, 9, 12, 18, 8, 27}));
    const int expected[] = {1, 3, 4, 6, 8, 10};
    for (int d = 0; d <= 5; ++d) {
        EXPECT_EQ(TArgumentTransfer(d).TermCount(), expected[d]);
        EXPECT_EQ(TArgumentTransfer::TermCountOf(d), expected[d]);
    }
    // Degrees beyond the table are clamped rather than read past it.
    EXPECT_EQ(TArgumentTransfer(9).TermCount(), 10);
    EXPECT_EQ(TArgumentTransfer(-1).TermCount(), 1);
    TArgumentTransfer t2(2);
    EXPECT_EQ(t2.Evaluate({1, 2, 3, 4}, 2, 3), 1 + 4 + 9 + 24);
    EXPECT_EQ(t2.Evaluate({}, 2, 3), 0);  // an unsolved fit
}

TEST(Approximation, DeterminationLimits) {
    TApproximation four(10, 2);
    four.AddPoint(0, 0, 1);
    four.AddPoint(1, 0, 2);
    four.AddPoint(0, 1, 3);
    four.AddPoint(1, 1, 5);
    EXPECT_TRUE(four.Solve());
    EXPECT_NEAR(four.Evaluate(1, 1), 5, 1e-12);
    EXPECT_NEAR(four.Evaluate(0.5, 0.5), (1 + 2 + 3 + 5) / 4.0, 1e-12);

    TApproximation three(10, 2);
    three.AddPoint(0, 0, 1);
    three.AddPoint(1, 0, 2);
    three.AddPoint(0, 1, 3);
    EXPECT_FALSE(three.Solve());
    EXPECT_EQ(three.Coefficients(), std::vector<double>(4, 0.0));
    EXPECT_EQ(three.Evaluate(7, -3), 0);

    TApproximation mean(4, 0);
    for (double v : {1.0, 2.0, 3.0, 10.0}) mean.AddPoint(v, -v, v);
    EXPECT_TRUE(mean.Solve());
    EXPECT_NEAR(mean.Evaluate(100, 100), 4.0, 1e-12);

    TApproximation zeros(10, 2);
    for (int i = 0; i < 6; ++i) zeros.AddPoint(i, i * i, 0);
    EXPECT_TRUE(zeros.Solve());
    for (double c : zeros.Coefficients()) EXPECT_EQ(c, 0);
}

TEST(Approximation, CapacityDropsExtraPoints) {
    TApproximation fit(4, 0);
    for (double v : {1.0, 2.0, 3.0, 10.0, 1000.0}) fit.AddPoint(0, 0, v);
    EXPECT_EQ(fit.Count(), 4);
    EXPECT_TRUE(fit.Solve());
    EXPECT_NEAR(fit.Evaluate(0, 0), 4.0, 1e-12);

    TLSM2 lsm(1, 0);
    lsm.AddPoint(0, 0, 1);
    lsm.AddPoint(0, 0, 1);
    EXPECT_EQ(lsm.Count(), 1);
    EXPECT_EQ(lsm.Evaluate(nullptr, 3, 4), 0);  // no solution yet
}

TEST(Approximation, BilinearSurfaceIsReproducedExactly) {
    const auto surface = [](double x, double y) { return 5 - 2 * x + 0.5 * y + 0.25 * x * y; };
    TApproximation fit(100, 2);
    TApproximationBGR bgr(100, 2);
    for (int x = 0; x < 10; ++x) {
        for (int y = 0; y < 10; ++y) {
            fit.AddPoint(x, y, surface(x, y));
            bgr.AddPoint(x, y, surface(x, y), -surface(x, y), 2 * x - y);
        }
    }
    ASSERT_TRUE(fit.Solve());
    ASSERT_TRUE(bgr.Solve());
    const std::vector<double> expected = {5, -2, 0.5, 0.25};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(fit.Coefficients()[size_t(i)], expected[size_t(i)], 1e-10);
    double a, b, c;
    bgr.Evaluate(3.5, 7.25, a, b, c);
    EXPECT_NEAR(a, surface(3.5, 7.25), 1e-10);
    EXPECT_NEAR(b, -surface(3.5, 7.25), 1e-10);
    EXPECT_NEAR(c, 2 * 3.5 - 7.25, 1e-10);
}

TEST(Approximation, RankDeficientFitGivesMinimumNorm) {
    // Every point on x = 1: the constant and x columns coincide, so only
    // a + b is determined; the minimum-norm answer splits it evenly.
    std::vector<double> rows, z, w;
    TArgumentTransfer basis(1);
    for (int y = 0; y < 8; ++y) {
        basis.SetArguments(1, y);
        rows.insert(rows.end(), basis.Basis().begin(), basis.Basis().end());
        z.push_back(2 + 3 * y);
        w.push_back(1);
    }
    std::vector<double> c;
    EXPECT_FALSE(GenLeastSquares(z, w, rows, 8, 3, c));
    ASSERT_EQ(c.size(), 3u);
    EXPECT_NEAR(c[0], 1, 1e-9);
    EXPECT_NEAR(c[1], 1, 1e-9);
    EXPECT_NEAR(c[2], 3, 1e-9);

    // The wrapper still answers true and uses the cut solution.
    TApproximation fit(8, 1);
    for (int y = 0; y < 8; ++y) fit.AddPoint(1, y, 2 + 3 * y);
    EXPECT_TRUE(fit.Solve());
    EXPECT_NEAR(fit.Evaluate(1, 2.5), 9.5, 1e-9);
}
