#pragma once
// Adaptive moving average driven by the phase rate of a Hilbert-transform estimate of the
// dominant cycle: the faster the phase turns, the larger the smoothing factor (between the slow
// and fast limits). Produces the adaptive line (mama) and its half-speed follower (fama).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>

namespace ostrel::numeric {

class MamaCore {
 public:
  struct Value {
    double mama;
    double fama;
  };

  // Preconditions (checked by the indicators' factories): 0 < slow <= fast <= 1, both finite.
  MamaCore(double fast_limit, double slow_limit) : fast_(fast_limit), slow_(slow_limit) {}

  // Accepted inputs up to and including the first value.
  static constexpr std::size_t kWarmup = 33;

  std::optional<Value> push(double x) {
    ++count_;
    price_.push(x);
    if (price_.size < 4) return std::nullopt;
    const double* p = price_.v.data();
    const double smooth = (((p[2] + p[2]) + (3.0 * p[1] + 4.0 * x)) + p[3]) / 10.0;
    if (price_.size < 7) {
      mama_ = smooth;
      fama_ = smooth;
      return std::nullopt;
    }
    const double adj = std::clamp(period_, 6.0, 50.0) * 0.075 + 0.54;
    detrender_.push((((p[2] * 0.5769 + smooth * 0.0962) - p[4] * 0.5769) - p[6] * 0.0962) * adj);
    if (detrender_.size < 7) return std::nullopt;
    const double* d = detrender_.v.data();
    const double q1 = (((d[0] * 0.0962 + d[2] * 0.5769) - d[4] * 0.5769) - d[6] * 0.0962) * adj;
    const double i1 = d[3];
    q1_.push(q1);
    i1_.push(i1);
    if (q1_.size < 7 || i1_.size < 7) return std::nullopt;
    const double* ih = i1_.v.data();
    const double* qh = q1_.v.data();
    const double ji = (((ih[0] * 0.0962 + ih[2] * 0.5769) - ih[4] * 0.5769) - ih[6] * 0.0962) * adj;
    const double jq = (((qh[0] * 0.0962 + qh[2] * 0.5769) - qh[4] * 0.5769) - qh[6] * 0.0962) * adj;

    const double i2p = i2_, q2p = q2_;
    i2_ = 0.2 * (i1 - jq) + 0.8 * i2_;
    q2_ = 0.8 * q2_ + 0.2 * (q1 + ji);
    re_ = 0.2 * (q2_ * q2p + i2_ * i2p) + 0.8 * re_;
    im_ = 0.2 * (i2_ * q2p - q2_ * i2p) + 0.8 * im_;

    constexpr double kEps = 2.220446049250313e-16;
    double per = period_;
    if (std::fabs(re_) > kEps && std::fabs(im_) > kEps)
      per = 6.283185307179586 / std::atan2(im_, re_);
    // fmin/fmax drop a NaN operand, so an undefined cycle estimate falls back to the bounds.
    per = std::fmin(per, 1.5 * period_);
    per = std::fmax(per, 0.67 * period_);
    per = std::clamp(per, 6.0, 50.0);
    period_ = period_ * 0.8 + per * 0.2;

    const double new_phase =
        std::fabs(i1) > kEps ? std::atan(q1 / i1) * 57.29577951308232 : phase_;
    const double delta = std::max(1.0, phase_ - new_phase);
    phase_ = new_phase;

    const double alpha = std::max(slow_, fast_ / delta);
    mama_ = (1.0 - alpha) * mama_ + x * alpha;
    fama_ = (1.0 - 0.5 * alpha) * fama_ + (0.5 * alpha) * mama_;
    if (count_ < kWarmup) return std::nullopt;
    return Value{mama_, fama_};
  }

 private:
  // Newest-first history of at most 7 entries; shifting 7 doubles is cheaper than a ring here.
  struct History {
    std::array<double, 7> v{};
    std::size_t size = 0;
    void push(double x) {
      for (std::size_t i = 6; i > 0; --i) v[i] = v[i - 1];
      v[0] = x;
      if (size < 7) ++size;
    }
  };

  double fast_;
  double slow_;
  History price_, detrender_, q1_, i1_;
  double i2_ = 0.0, q2_ = 0.0, re_ = 0.0, im_ = 0.0;
  double period_ = 0.0, phase_ = 0.0;
  double mama_ = 0.0, fama_ = 0.0;
  std::size_t count_ = 0;
};

}  // namespace ostrel::numeric
