#include "deform/DeformTPSKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "DeformTesting.h"
#include "deform/DeformThinPlateSpline.h"

namespace {

using deform_test::ExpectBitsOnEveryTarget;
using deform_test::Places;
using deform_test::Points;
using deform_test::PointsAndTargets;

// Units in the last place between two finite doubles of one sign.
int64_t UlpsApart(double a, double b) {
  int64_t ia, ib;
  std::memcpy(&ia, &a, sizeof a);
  std::memcpy(&ib, &b, sizeof b);
  if (ia < 0) ia = std::numeric_limits<int64_t>::min() - ia;
  if (ib < 0) ib = std::numeric_limits<int64_t>::min() - ib;
  return ia > ib ? ia - ib : ib - ia;
}

// The arguments where a logarithm goes wrong first: every power of two
// (subnormal ones included) and its neighbours, the reduction's thresholds
// near sqrt 2, the neighbourhood of 1, and a log-uniform sweep of the range.
std::vector<double> HardArguments() {
  std::vector<double> s;
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    s.insert(s.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL), 1.4142135623730951 * p,
                       1.38 * p, 1.42 * p, 3.0 * p / 4.0});
  }
  s.back() = std::numeric_limits<double>::max();
  s.push_back(HUGE_VAL);  // returned as it is, in every lane
  for (double lead : {0x6147a, 0x6a09c, 0x6b851, 0x6b852}) {
    const double t = 1.0 + lead / 1048576.0;
    s.insert(s.end(), {t, std::nextafter(t, 0.0), std::nextafter(t, 2.0)});
  }
  double below = 1.0, above = 1.0;
  for (int k = 0; k < 200; ++k) {
    below = std::nextafter(below, 0.0), above = std::nextafter(above, 2.0);
    s.insert(s.end(), {below, above, 1.0 + std::ldexp(1.0, -k / 4), 1.0 - std::ldexp(1.0, -1 - k / 4)});
  }
  std::mt19937_64 gen(4);
  std::uniform_real_distribution<double> exponent(-1074.0, 1023.9);
  for (int k = 0; k < 200000; ++k) s.push_back(std::exp2(exponent(gen)));
  s.erase(std::remove(s.begin(), s.end(), 0.0), s.end());  // below the smallest subnormal
  return s;
}

TEST(SplineKernel, LogarithmIsTheLibrarysToOneUlpAndTheSameOnEveryTarget) {
  const std::vector<double> s = HardArguments();
  std::vector<double> reference(s.size());
  int64_t exact = 0;
  for (size_t k = 0; k < s.size(); ++k) {
    reference[k] = warpix::SplineLog(s[k]);
    const double library = std::log(s[k]);
    ASSERT_LE(UlpsApart(reference[k], library), 1) << s[k];
    exact += reference[k] == library;
  }
  // Almost every value is the library's exactly.
  EXPECT_GT(static_cast<double>(exact), 0.99 * s.size());
  EXPECT_TRUE(warpix::SplineLog(1.0) == 0.0 && warpix::SplineLog(HUGE_VAL) == HUGE_VAL);
  EXPECT_TRUE(std::isnan(warpix::SplineLog(std::nan(""))));
  ExpectBitsOnEveryTarget(reference, [&] {
    std::vector<double> out(s.size());
    warpix::SplineLogs(s.data(), static_cast<int>(s.size()), out.data());
    return out;
  }, "logarithm");
}

// A fitted spline evaluated at many points, points on centres (kernel term
// exactly 0) among them: each point gets Map's bits.
TEST(SplineKernel, EveryTargetEvaluatesLikeTheOnePointRoute) {
  std::mt19937 gen(23);
  Points orig, target;
  for (int m : {3, 10, 43}) {
    PointsAndTargets(gen, m, orig, target);
    std::vector<LinAlgComplex> cen, vals;
    for (int i = 0; i < m; ++i) {
      cen.emplace_back(orig[2 * i], orig[2 * i + 1]);
      vals.emplace_back(target[2 * i], target[2 * i + 1]);
    }
    LinAlgVectorComplex coeffs(m + 3);
    ASSERT_TRUE(DeformThinPlateSpline::PrepareTPSCoefficients(cen, vals, coeffs));
    const DeformThinPlateSpline::Evaluator spline(cen, coeffs);
    for (int count = 1; count <= 19; ++count) {
      const Points p = Places(gen, count, orig, 5);
      Points x, y, reference;
      for (int k = 0; k < count; ++k) {
        x.push_back(p[2 * k]), y.push_back(p[2 * k + 1]);
        const LinAlgComplex w = spline.Map({x[k], y[k]});
        reference.insert(reference.end(), {w.m_fRe, w.m_fIm});
      }
      ExpectBitsOnEveryTarget(reference, [&] {
        Points ox(count), oy(count), out;
        spline.MapPoints(count, x.data(), y.data(), ox.data(), oy.data());
        for (int k = 0; k < count; ++k) out.insert(out.end(), {ox[k], oy[k]});
        return out;
      }, "m " + std::to_string(m) + " count " + std::to_string(count));
    }
  }
  // The empty spline copies its points.
  const double x[2] = {0.25, -3.0}, y[2] = {1.5, 0.0};
  double ox[2], oy[2];
  DeformThinPlateSpline::Evaluator().MapPoints(2, x, y, ox, oy);
  EXPECT_TRUE(ox[0] == 0.25 && ox[1] == -3.0 && oy[0] == 1.5 && oy[1] == 0.0);
}

}  // namespace
