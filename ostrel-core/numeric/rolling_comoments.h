#pragma once
// Population means, variances and covariance of the last N pairs (u, v), kept as sums of
// deviations from an anchor (Ku, Kv). The anchor starts at the first pair pushed; after every N
// pushes it moves to the window means and all five sums are recomputed exactly from the window,
// which keeps the shifted sums small and bounds the drift of the incremental updates.

#include <cstddef>

#include "ring.h"

namespace ostrel::numeric {

class RollingCoMoments {
 public:
  explicit RollingCoMoments(std::size_t n) : ring_(n), n_(n) {}

  void push(double u, double v) {
    if (ring_.full()) {
      const Pair& o = ring_.oldest();
      const double du = o.u - ku_, dv = o.v - kv_;
      su_ = su_ - du;
      sv_ = sv_ - dv;
      suu_ = suu_ - du * du;
      svv_ = svv_ - dv * dv;
      suv_ = suv_ - du * dv;
    }
    ring_.push({u, v});
    if (!anchored_) {
      ku_ = u;
      kv_ = v;
      anchored_ = true;
    }
    const double du = u - ku_, dv = v - kv_;
    su_ = su_ + du;
    sv_ = sv_ + dv;
    suu_ = suu_ + du * du;
    svv_ = svv_ + dv * dv;
    suv_ = suv_ + du * dv;
    if (++pushes_ == n_) reanchor();
  }

  bool full() const { return ring_.full(); }
  std::size_t size() const { return ring_.size(); }

  // Valid once full.
  double mean_u() const { return ku_ + su_ / nd(); }
  double mean_v() const { return kv_ + sv_ / nd(); }
  double var_u() const { return floor0(suu_ / nd() - (su_ / nd()) * (su_ / nd())); }
  double var_v() const { return floor0(svv_ / nd() - (sv_ / nd()) * (sv_ / nd())); }
  double cov() const { return suv_ / nd() - (su_ / nd()) * (sv_ / nd()); }

 private:
  struct Pair {
    double u, v;
  };

  double nd() const { return static_cast<double>(n_); }
  static double floor0(double x) { return x < 0 ? 0.0 : x; }

  void reanchor() {
    double tu = -0.0, tv = -0.0;
    ring_.for_each([&](const Pair& p) {
      tu += p.u;
      tv += p.v;
    });
    const double count = static_cast<double>(ring_.size());
    ku_ = tu / count;
    kv_ = tv / count;
    su_ = sv_ = suu_ = svv_ = suv_ = -0.0;
    ring_.for_each([&](const Pair& p) {
      const double du = p.u - ku_, dv = p.v - kv_;
      su_ += du;
      sv_ += dv;
      suu_ += du * du;
      svv_ += dv * dv;
      suv_ += du * dv;
    });
    pushes_ = 0;
  }

  Ring<Pair> ring_;
  std::size_t n_;
  std::size_t pushes_ = 0;
  bool anchored_ = false;
  double ku_ = 0, kv_ = 0;
  double su_ = -0.0, sv_ = -0.0, suu_ = -0.0, svv_ = -0.0, suv_ = -0.0;
};

}  // namespace ostrel::numeric
