// The additive look's depth from four power moments per pixel. Each sample adds its alpha times
// the powers 1 to 4 of its depth, normalised to [-1, 1] over the cloud's depth range; with the
// pixel's alpha sum these give the mean, variance, skew and fourth central moment of the depth
// of the pixel's alpha. The depth at a fraction of the alpha is read from the distribution that
// best fits such moments among two even clumps of equal width: two thin clouds (width 0) and one
// even cloud (two halves side by side) are recovered exactly, other spreads approximately.
#pragma once

#include "kernels/ek_hd.h"

namespace ek {

constexpr int32_t kDepthMomentFloats = 4;

// The normalised depth of `depth` in the range from `start` on with scale = 2 / its span,
// clamped to [-1, 1]. The scale is a factor, so that the splat divides nothing per sample for it.
EK_HD float normalisedDepth(float depth, float start, float scale) {
  const float u = (depth - start) * scale - 1.0f;
  return u < -1.0f ? -1.0f : u > 1.0f ? 1.0f : u;
}

// The four moment terms of a sample of weight w at normalised depth u.
EK_HD void depthMomentTerms(float u, float w, float terms[kDepthMomentFloats]) {
  const float u2 = u * u;
  terms[0] = w * u;
  terms[1] = w * u2;
  terms[2] = w * u2 * u;
  terms[3] = w * u2 * u2;
}

namespace detail {

// The fourth central moment of two point masses of variance `variance` - s and third central
// moment mu3, each spread evenly with variance s (an even spread's fourth moment is 9/5 of its
// variance squared), less the fourth central moment mu4 to be met, given 1 / (variance - s).
struct ClumpFit {
  double variance, mu3, mu4;
  EK_HD double miss(double s, double perRest) const {
    return mu3 * mu3 * perRest + variance * variance + 4.0 * variance * s - 3.2 * s * s - mu4;
  }
};

// The clumps' spread s that meets the fourth moment. The fit's fourth moment rises with s up to
// s = 5/8 of the variance (past it a second, equivalent fit begins); a fourth moment beyond what
// clumps can give takes the widest. Newton steps, kept inside the bracket by halving it, from the
// root of the fit with the skew's term held at its value for s = 0: exact without skew, and
// otherwise above the root and close to it.
EK_HD double clumpSpread(const ClumpFit &fit) {
  const double variance = fit.variance, perVariance = 1.0 / variance;
  double low = 0.0, high = 0.625 * variance;
  if (fit.miss(high, perVariance / 0.375) <= 0.0)
    return high;
  const double atZero = fit.miss(low, perVariance);
  if (atZero >= 0.0)
    return low;
  const double discriminant = 16.0 * variance * variance + 12.8 * atZero;
  double s = discriminant > 0.0 ? (4.0 * variance - sqrt(discriminant)) / 6.4 : high;
  if (!(s > low && s < high))
    s = 0.5 * high;
  const double tolerance = 1e-7 * variance, skew = fit.mu3 * fit.mu3;
  for (int step = 0; step < 32; ++step) {
    const double perRest = 1.0 / (variance - s);
    const double miss = fit.miss(s, perRest);
    (miss < 0.0 ? low : high) = s;
    const double next = s - miss / (skew * perRest * perRest + 4.0 * variance - 6.4 * s);
    if (next > low && next < high) {
      const bool settled = fabs(next - s) <= tolerance;
      s = next;
      if (settled)
        break;
    } else {
      s = 0.5 * (low + high);
      if (high - low <= tolerance)
        break;
    }
  }
  return s;
}

} // namespace detail

// The normalised depth in front of which the fraction q (0 < q <= 1) of the alpha lies, from the
// alpha sum `weight` and the moment sums `sums` (see depthMomentTerms).
EK_HD float depthAtFraction(float weight, const float sums[kDepthMomentFloats], float q) {
  const double perWeight = 1.0 / double(weight);
  const double m1 = sums[0] * perWeight, m2 = sums[1] * perWeight;
  const double m3 = sums[2] * perWeight, m4 = sums[3] * perWeight;
  const double variance = m2 - m1 * m1;
  constexpr double kThin = 1e-9; // below this variance the alpha sits at one depth
  if (!(variance > kThin))
    return float(m1 < -1.0 ? -1.0 : m1 > 1.0 ? 1.0 : m1);
  const double mu3 = m3 - 3.0 * m1 * m2 + 2.0 * m1 * m1 * m1;
  const double mu4 = m4 - 4.0 * m1 * m3 + 6.0 * m1 * m1 * m2 - 3.0 * m1 * m1 * m1 * m1;
  const double s = detail::clumpSpread({variance, mu3, mu4});
  // The clumps' centres about the mean: x1 x2 = -v and x1 + x2 = mu3 / v, weights so that the
  // mean is kept.
  const double v = variance - s, sum = mu3 / v;
  const double root = sqrt(sum * sum + 4.0 * v);
  const double x1 = 0.5 * (sum - root), x2 = 0.5 * (sum + root);
  const double w1 = x2 / (x2 - x1), w2 = 1.0 - w1;
  const double half = sqrt(3.0 * s); // each clump's half width
  const double c1 = m1 + x1, c2 = m1 + x2;
  double u = q <= w1 ? c1 : c2; // thin clumps
  if (half > 0.0) {
    const double perWidth = 0.5 / half;
    // The fraction in front of a depth, piecewise linear between the clumps' ends.
    auto inFront = [&](double at) {
      auto share = [&](double centre) {
        const double t = (at - centre + half) * perWidth;
        return t < 0.0 ? 0.0 : t > 1.0 ? 1.0 : t;
      };
      return w1 * share(c1) + w2 * share(c2);
    };
    const double ends[4] = {c1 - half, fmin(c1 + half, c2 - half), fmax(c1 + half, c2 - half),
                            c2 + half};
    double before = ends[0], gathered = 0.0;
    for (const double end : ends) {
      const double next = inFront(end);
      if (next >= q) {
        const double step = next - gathered;
        u = step > 0.0 ? before + (q - gathered) / step * (end - before) : end;
        break;
      }
      before = end;
      gathered = next;
    }
  }
  return float(u < -1.0 ? -1.0 : u > 1.0 ? 1.0 : u);
}

} // namespace ek
