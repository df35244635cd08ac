#pragma once
// Least-squares line through a window y0 (oldest) .. y(n-1) (newest) against x = 0 .. n - 1.
// The values are centred on their mean before the sums are formed, so a window of large prices
// keeps its slope; the x sums are constants of n, computed once in floating point (an integer
// (2n - 1) n (n - 1) would overflow for long windows). The window is rescanned on every fit.

#include <cstddef>

#include "ring.h"

namespace ostrel::numeric {

struct LineFit {
  double mean = 0;       // ybar
  double slope = 0;      // b
  double intercept = 0;  // a, of the centred values
  // The line at position i; its value at the newest point is (n - 1) b + (ybar + a).
  double at(double i) const { return i * slope + (mean + intercept); }
  // y_i - ybar - (i b + a).
  double residual(double y, double i) const { return (y - mean) - (i * slope + intercept); }
};

class LeastSquaresLine {
 public:
  explicit LeastSquaresLine(std::size_t n)
      : n_(static_cast<double>(n)),
        sx_(static_cast<double>(n) * (static_cast<double>(n) - 1.0) / 2.0),
        sxx_((2.0 * static_cast<double>(n) - 1.0) *
             (static_cast<double>(n) * (static_cast<double>(n) - 1.0)) / 6.0) {}

  // Fits a full window; n >= 2.
  LineFit fit(const Ring<double>& y) const {
    LineFit f;
    double s = -0.0;
    y.for_each([&](double v) { s += v; });
    f.mean = s / n_;
    double sy = -0.0, sxy = -0.0, x = 0.0;
    y.for_each([&](double v) {
      const double d = v - f.mean;
      sy += d;
      sxy += x * d;
      x += 1.0;
    });
    f.slope = (n_ * sxy - sx_ * sy) / (n_ * sxx_ - sx_ * sx_);
    f.intercept = (sy - sx_ * f.slope) / n_;
    return f;
  }

  double newest_value(const LineFit& f) const {
    return (n_ - 1.0) * f.slope + (f.mean + f.intercept);
  }

 private:
  double n_, sx_, sxx_;
};

}  // namespace ostrel::numeric
