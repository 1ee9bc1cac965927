#include "apMinMisclosureSvd.h"

#include <algorithm>
#include <cmath>

double SvdSign(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

double SvdPythag(double a, double b) {
    const double absa = std::fabs(a);
    const double absb = std::fabs(b);
    if (absa > absb) {
        const double r = absb / absa;
        return absa * std::sqrt(1.0 + r * r);
    }
    if (absb == 0.0) return 0.0;
    const double r = absa / absb;
    return absb * std::sqrt(1.0 + r * r);
}

namespace {

constexpr int KMaxSweeps = 30;

// One-based views of the working arrays keep the classic algorithm readable.
struct TOneBased {
    double* Data;
    size_t Columns;
    double& operator()(int i, int j) const { return Data[size_t(i - 1) * Columns + size_t(j - 1)]; }
};

}  // namespace

bool SvdSolve(std::vector<double>& a, int m, int n, std::vector<double>& x) {
    x.assign(size_t(std::max(n, 0)), 0.0);
    if (m < 1 || n < 1 || a.size() < size_t(m) * size_t(n + 1)) return false;
    for (size_t i = 0; i < size_t(m) * size_t(n + 1); ++i)
        if (!std::isfinite(a[i])) return false;

    const TOneBased A{a.data(), size_t(n) + 1};
    std::vector<double> vStore(size_t(n) * size_t(n), 0.0);
    const TOneBased V{vStore.data(), size_t(n)};
    std::vector<double> w(size_t(n) + 1, 0.0);
    std::vector<double> rv1(size_t(n) + 1, 0.0);

    // Householder reduction to bidiagonal form.
    double g = 0.0, scale = 0.0, anorm = 0.0;
    int l = 1;
    for (int i = 1; i <= n; ++i) {
        l = i + 1;
        rv1[size_t(i)] = scale * g;
        g = 0.0;
        double s = 0.0;
        scale = 0.0;
        if (i <= m) {
            for (int k = i; k <= m; ++k) scale += std::fabs(A(k, i));
            if (scale != 0.0) {
                for (int k = i; k <= m; ++k) {
                    A(k, i) /= scale;
                    s += A(k, i) * A(k, i);
                }
                double f = A(i, i);
                g = -SvdSign(std::sqrt(s), f);
                const double h = f * g - s;
                A(i, i) = f - g;
                for (int j = l; j <= n; ++j) {
                    s = 0.0;
                    for (int k = i; k <= m; ++k) s += A(k, i) * A(k, j);
                    f = s / h;
                    for (int k = i; k <= m; ++k) A(k, j) += f * A(k, i);
                }
                for (int k = i; k <= m; ++k) A(k, i) *= scale;
            }
        }
        w[size_t(i)] = scale * g;
        g = 0.0;
        s = 0.0;
        scale = 0.0;
        if (i <= m && i != n) {
            for (int k = l; k <= n; ++k) scale += std::fabs(A(i, k));
            if (scale != 0.0) {
                for (int k = l; k <= n; ++k) {
                    A(i, k) /= scale;
                    s += A(i, k) * A(i, k);
                }
                const double f = A(i, l);
                g = -SvdSign(std::sqrt(s), f);
                const double h = f * g - s;
                A(i, l) = f - g;
                for (int k = l; k <= n; ++k) rv1[size_t(k)] = A(i, k) / h;
                for (int j = l; j <= m; ++j) {
                    s = 0.0;
                    for (int k = l; k <= n; ++k) s += A(j, k) * A(i, k);
                    for (int k = l; k <= n; ++k) A(j, k) += s * rv1[size_t(k)];
                }
                for (int k = l; k <= n; ++k) A(i, k) *= scale;
            }
        }
        anorm = std::max(anorm, std::fabs(w[size_t(i)]) + std::fabs(rv1[size_t(i)]));
    }

    // Accumulation of the right-hand transformations.
    for (int i = n; i >= 1; --i) {
        if (i < n) {
            if (g != 0.0) {
                // Double division avoids a possible underflow.
                for (int j = l; j <= n; ++j) V(j, i) = (A(i, j) / A(i, l)) / g;
                for (int j = l; j <= n; ++j) {
                    double s = 0.0;
                    for (int k = l; k <= n; ++k) s += A(i, k) * V(k, j);
                    for (int k = l; k <= n; ++k) V(k, j) += s * V(k, i);
                }
            }
            for (int j = l; j <= n; ++j) V(i, j) = V(j, i) = 0.0;
        }
        V(i, i) = 1.0;
        g = rv1[size_t(i)];
        l = i;
    }

    // Accumulation of the left-hand transformations.
    for (int i = std::min(m, n); i >= 1; --i) {
        l = i + 1;
        g = w[size_t(i)];
        for (int j = l; j <= n; ++j) A(i, j) = 0.0;
        if (g != 0.0) {
            g = 1.0 / g;
            for (int j = l; j <= n; ++j) {
                double s = 0.0;
                for (int k = l; k <= m; ++k) s += A(k, i) * A(k, j);
                const double f = (s / A(i, i)) * g;
                for (int k = i; k <= m; ++k) A(k, j) += f * A(k, i);
            }
            for (int j = i; j <= m; ++j) A(j, i) *= g;
        } else {
            for (int j = i; j <= m; ++j) A(j, i) = 0.0;
        }
        A(i, i) += 1.0;
    }

    // |e| is negligible when adding it to anorm does not change anorm; the sum
    // is formed in extended precision.
    const auto negligible = [anorm](double e) {
        return static_cast<long double>(std::fabs(e)) + static_cast<long double>(anorm) ==
               static_cast<long double>(anorm);
    };

    // Diagonalisation of the bidiagonal form.
    for (int k = n; k >= 1; --k) {
        for (int its = 1; its <= KMaxSweeps; ++its) {
            bool flag = true;
            int nm = 0;
            for (l = k; l >= 1; --l) {
                nm = l - 1;
                // rv1[1] is always 0; testing l == 1 also stops a NaN anorm
                // from walking below the first row.
                if (l == 1 || negligible(rv1[size_t(l)])) {
                    flag = false;
                    break;
                }
                if (negligible(w[size_t(nm)])) break;
            }
            if (flag) {
                // Cancellation of rv1[l] when w[l-1] is negligible.
                double c = 0.0, s = 1.0;
                for (int i = l; i <= k; ++i) {
                    const double f = s * rv1[size_t(i)];
                    rv1[size_t(i)] = c * rv1[size_t(i)];
                    if (negligible(f)) break;
                    g = w[size_t(i)];
                    double h = SvdPythag(f, g);
                    w[size_t(i)] = h;
                    if (h == 0.0) break;
                    h = 1.0 / h;
                    c = g * h;
                    s = -f * h;
                    for (int j = 1; j <= m; ++j) {
                        const double y = A(j, nm);
                        const double z = A(j, i);
                        A(j, nm) = y * c + z * s;
                        A(j, i) = z * c - y * s;
                    }
                }
            }
            double z = w[size_t(k)];
            if (l == k) {
                // Converged; singular values are made non-negative.
                if (z < 0.0) {
                    w[size_t(k)] = -z;
                    for (int j = 1; j <= n; ++j) V(j, k) = -V(j, k);
                }
                break;
            }
            // Shift from the bottom 2 x 2 minor.
            double sx = w[size_t(l)];
            nm = k - 1;
            double y = w[size_t(nm)];
            g = rv1[size_t(nm)];
            double h = rv1[size_t(k)];
            const double denominator = 2.0 * h * y;
            // A vanishing denominator would only spread inf/NaN: leave this
            // value as it stands, as after the last sweep.
            if (denominator == 0.0 || sx == 0.0) break;
            double f = ((y - z) * (y + z) + (g - h) * (g + h)) / denominator;
            g = SvdPythag(f, 1.0);
            f = ((sx - z) * (sx + z) + h * ((y / (f + SvdSign(g, f))) - h)) / sx;
            // Next QR transformation.
            double c = 1.0, s = 1.0;
            for (int j = l; j <= nm; ++j) {
                const int i = j + 1;
                g = rv1[size_t(i)];
                y = w[size_t(i)];
                h = s * g;
                g = c * g;
                z = SvdPythag(f, h);
                rv1[size_t(j)] = z;
                if (z != 0.0) {
                    c = f / z;
                    s = h / z;
                } else {
                    c = 1.0;
                    s = 0.0;
                }
                f = sx * c + g * s;
                g = g * c - sx * s;
                h = y * s;
                y *= c;
                for (int jj = 1; jj <= n; ++jj) {
                    const double vx = V(jj, j);
                    const double vz = V(jj, i);
                    V(jj, j) = vx * c + vz * s;
                    V(jj, i) = vz * c - vx * s;
                }
                z = SvdPythag(f, h);
                w[size_t(j)] = z;
                // Rotation can be arbitrary when z is 0.
                if (z != 0.0) {
                    z = 1.0 / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                sx = c * y - s * g;
                for (int jj = 1; jj <= m; ++jj) {
                    const double ay = A(jj, j);
                    const double az = A(jj, i);
                    A(jj, j) = ay * c + az * s;
                    A(jj, i) = az * c - ay * s;
                }
            }
            rv1[size_t(l)] = 0.0;
            rv1[size_t(k)] = f;
            w[size_t(k)] = sx;
        }
    }

    // Back-substitution with the small singular values cut.
    double wmax = 0.0;
    for (int j = 1; j <= n; ++j) wmax = std::max(wmax, std::fabs(w[size_t(j)]));
    const double thresh = wmax * double(n) * 5e-16;
    bool complete = true;
    std::vector<double> t(size_t(n) + 1, 0.0);
    std::vector<char> kept(size_t(n) + 1, 0);
    for (int j = 1; j <= n; ++j) {
        double s = 0.0;
        for (int i = 1; i <= m; ++i) s += A(i, j) * A(i, n + 1);
        t[size_t(j)] = s;
        if (std::fabs(w[size_t(j)]) > thresh) {
            kept[size_t(j)] = 1;
            for (int i = 1; i <= n; ++i) V(i, j) /= w[size_t(j)];
        } else {
            complete = false;
        }
    }
    for (int i = 1; i <= n; ++i) {
        double s = 0.0;
        for (int j = 1; j <= n; ++j)
            if (kept[size_t(j)]) s += V(i, j) * t[size_t(j)];
        x[size_t(i - 1)] = s;
    }
    for (double v : x) {
        if (!std::isfinite(v)) {
            std::fill(x.begin(), x.end(), 0.0);
            return false;
        }
    }
    return complete;
}
