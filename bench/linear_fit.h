// Least-squares straight line through measured points, for the growth benchmarks' slopes:
// how much each more area costs, and how well a straight line explains the figures.
#pragma once

#include <cmath>
#include <vector>

namespace wynfc::bench {

struct LinearFit {
    double slope = 0;
    double intercept = 0;
    double rSquared = 0; // 1: every point on the line
};

inline LinearFit fitLine(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    LinearFit fit;
    const double spread = n * sxx - sx * sx;
    if (x.size() < 2 || spread == 0) {
        return fit;
    }
    fit.slope = (n * sxy - sx * sy) / spread;
    fit.intercept = (sy - fit.slope * sx) / n;
    double residual = 0, total = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double predicted = fit.intercept + fit.slope * x[i];
        residual += (y[i] - predicted) * (y[i] - predicted);
        total += (y[i] - sy / n) * (y[i] - sy / n);
    }
    fit.rSquared = total > 0 ? 1 - residual / total : 1;
    return fit;
}

// The exponent b of cost ~ size^b between two sizes: 1 grows linearly, 2 quadratically.
inline double growthExponent(double size1, double cost1, double size2, double cost2) {
    return std::log(cost2 / cost1) / std::log(size2 / size1);
}

} // namespace wynfc::bench
