// The vector kernels of moving least squares, mean value coordinates and the
// thin-plate spline: on every vector target this processor runs, each gives
// the one-point route's bits, for point counts leaving every remainder.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "DeformTesting.h"
#include "deform/DeformMLSKernel.h"
#include "deform/DeformMVCKernel.h"
#include "deform/DeformMeanValueCoords.h"
#include "deform/DeformTPSKernel.h"
#include "deform/DeformThinPlateSpline.h"

namespace {

using deform_test::ExpectBitsOnEveryTarget;
using deform_test::Points;

// m points in the unit square and their targets moved by up to 0.1.
void PointsAndTargets(std::mt19937& gen, int m, Points& orig, Points& target) {
  std::uniform_real_distribution<double> u(0.0, 1.0), move(-0.1, 0.1);
  orig.clear(), target.clear();
  for (int j = 0; j < 2 * m; ++j) orig.push_back(u(gen));
  for (double v : orig) target.push_back(v + move(gen));
}

// count positions in and around the unit square; every `every`-th (from
// index 2) on a control point.
Points Places(std::mt19937& gen, int count, const Points& on, int every) {
  std::uniform_real_distribution<double> u(-0.2, 1.2);
  Points p;
  for (int k = 0; k < count; ++k) {
    const size_t j = 2 * (k % (on.size() / 2));
    p.insert(p.end(), {k % every == 2 ? on[j] : u(gen), k % every == 2 ? on[j + 1] : u(gen)});
  }
  return p;
}

TEST(MLSKernel, EveryTargetEqualsTheOneVertexLoopForBothFits) {
  std::mt19937 gen(5);
  Points orig, target;
  for (int m : {1, 2, 3, 8, 16}) {
    PointsAndTargets(gen, m, orig, target);
    for (int n = 1; n <= 19; n += (n < 17 ? 1 : 2)) {
      const Points at = Places(gen, n, orig, 5);
      std::vector<Warpixator::ImgVertex> rest(n);
      for (int k = 0; k < n; ++k) rest[k].m_fRestX = at[2 * k], rest[k].m_fRestY = at[2 * k + 1], rest[k].id = k;
      for (bool rigid : {false, true}) {
        std::vector<double> scratch;
        auto fit = [&](bool oneVertex) {
          auto v = rest;
          warpix::MLSFitVertices(orig, target, rigid, scratch, v, oneVertex);
          return deform_test::Positions(v);
        };
        ExpectBitsOnEveryTarget(fit(true), [&] { return fit(false); },
                                "m " + std::to_string(m) + " n " + std::to_string(n) + " rigid " + std::to_string(rigid));
      }
    }
  }
}

// Convex polygons of 3 to 16 points; points on control points and in the
// middle of edges among the mapped ones.
TEST(MVCKernel, EveryTargetEqualsTheOnePointRoute) {
  std::mt19937 gen(9);
  std::uniform_real_distribution<double> move(-0.1, 0.1);
  for (int n : {3, 4, 8, 16}) {
    Points orig, target;
    for (int j = 0; j < n; ++j) {
      const double a = 6.283185307179586 * j / n;
      orig.insert(orig.end(), {0.5 + 0.4 * std::cos(a), 0.5 + 0.4 * std::sin(a)});
      target.insert(target.end(), {orig[2 * j] + move(gen), orig[2 * j + 1] + move(gen)});
    }
    for (int count = 1; count <= 19; count += (count < 17 ? 1 : 2)) {
      Points p = Places(gen, count, orig, 7), x, y, reference(2 * count);
      for (int k = 5; k < count; k += 7) {  // the middle of edge k
        const int j = k % n, i = (j + 1) % n;
        p[2 * k] = 0.5 * (orig[2 * j] + orig[2 * i]), p[2 * k + 1] = 0.5 * (orig[2 * j + 1] + orig[2 * i + 1]);
      }
      for (int k = 0; k < count; ++k) {
        x.push_back(p[2 * k]), y.push_back(p[2 * k + 1]);
        DeformMeanValueCoords::MapPolygonPoint(orig, target, x[k], y[k], reference[2 * k], reference[2 * k + 1]);
      }
      ExpectBitsOnEveryTarget(reference, [&] {
        Points ox(count), oy(count), out;
        DeformMeanValueCoords::MapPolygonPoints(orig, target, count, x.data(), y.data(), ox.data(), oy.data());
        for (int k = 0; k < count; ++k) out.insert(out.end(), {ox[k], oy[k]});
        return out;
      }, "n " + std::to_string(n) + " count " + std::to_string(count));
    }
  }
}

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
    for (int i = 0; i < m; ++i) cen.emplace_back(orig[2 * i], orig[2 * i + 1]), vals.emplace_back(target[2 * i], target[2 * i + 1]);
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
