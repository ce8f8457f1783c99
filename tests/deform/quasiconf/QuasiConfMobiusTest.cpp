#include <cmath>
#include <random>
#include <vector>

#include "QuasiConfTesting.h"
#include "TestCommon.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "deform/quasiconf/QuasiConfDetail.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

using qc_test::Dist;
using qc_test::Image;
using qc_test::Matrix;
using qc_test::Points;
using qc_test::Pt;
using Q = DeformQuasiConf;

// The regular n-gon as the unweighted fit builds it.
LinAlgComplex Ngon(int k, int n) {
  return LinAlgComplex(0.0, (k * quasiconf_detail::kTwoPi) / n).Exp();
}

// The shape parameter mu of the affine n-gon g_k + mu conj(g_k) that the map
// Z puts the points p on, and the largest distance of an image from it.
double AffineNgonResidual(const LinAlgMatrixComplex& Z, const Points& p, LinAlgComplex* muOut) {
  const int n = static_cast<int>(p.size() / 2);
  // Least-squares scale-free check: mu from the first point, residual at all.
  const LinAlgComplex mu = (Image(Z, p, 0) - Ngon(0, n)) / Ngon(0, n).Conjugate();
  double worst = 0.0;
  for (int k = 0; k < n; ++k) {
    worst = std::fmax(worst, Dist(Image(Z, p, k), Ngon(k, n) + mu * Ngon(k, n).Conjugate()));
  }
  if (muOut != nullptr) *muOut = mu;
  return worst;
}

}  // namespace

TEST(QuasiConfMobius, QuadrupletGoesToAParallelogramWithNonNegativeImaginaryCorner) {
  std::mt19937 gen(11);
  for (int trial = 0; trial < 200; ++trial) {
    const Points p = qc_test::RandomPoints(gen, 4);
    LinAlgMatrixComplex Z(2, 2);
    if (!Q::MapQuadrupletToParallelogram(p, Z)) continue;  // rare near-flat draws
    const LinAlgComplex q0 = Image(Z, p, 0), q1 = Image(Z, p, 1), q2 = Image(Z, p, 2),
                        q3 = Image(Z, p, 3);
    const double scale = 1.0 + q3.Power();
    ASSERT_NEAR(q0.Power(), 0.0, 1e-9 * scale) << trial;
    ASSERT_NEAR(Dist(q1, LinAlgComplex(1, 0)), 0.0, 1e-9 * scale) << trial;
    ASSERT_NEAR(Dist(q0 + q2, q1 + q3), 0.0, 1e-9 * scale) << trial;
    ASSERT_GE(q3.m_fIm, -1e-12) << trial;
  }
}

TEST(QuasiConfMobius, ParallelogramsAndDegenerateQuadruplets) {
  // A counter-clockwise parallelogram: the affine normalisation (the unit
  // square in order maps to itself), never the constant candidate.
  const Points square = {0, 0, 1, 0, 1, 1, 0, 1};
  LinAlgMatrixComplex Z(2, 2);
  ASSERT_TRUE(Q::MapQuadrupletToParallelogram(square, Z));
  for (const LinAlgComplex z : {LinAlgComplex(0.3, 0.4), LinAlgComplex(0.9, 0.1)}) {
    EXPECT_NEAR(Dist(Q::MobiusTransform(Z, z), z), 0.0, 1e-12);
  }
  // A clockwise one: the rule takes the mirror candidate, a genuine Mobius map
  // onto a parallelogram with Im w >= 0.
  const Points clockwise = {0.2, 0.2, 0.3, 0.55, 0.7, 0.6, 0.6, 0.25};
  ASSERT_TRUE(Q::MapQuadrupletToParallelogram(clockwise, Z));
  EXPECT_GE(Image(Z, clockwise, 3).m_fIm, 0.0);
  EXPECT_NEAR(Dist(Image(Z, clockwise, 0) + Image(Z, clockwise, 2),
                   Image(Z, clockwise, 1) + Image(Z, clockwise, 3)),
              0.0, 1e-12);
  // Coincident, collinear, and concyclic in crossed order (a rectangle
  // clicked top-left, top-right, bottom-left, bottom-right): refused.
  for (const Points& bad : {Points{0.2, 0.2, 0.2, 0.2, 0.6, 0.7, 0.3, 0.6},
                            Points{0.1, 0.1, 0.2, 0.2, 0.4, 0.4, 0.3, 0.3},
                            Points{0.25, 0.75, 0.75, 0.75, 0.25, 0.25, 0.75, 0.25}}) {
    EXPECT_FALSE(Q::MapQuadrupletToParallelogram(bad, Z)) << bad[0] << " " << bad[1];
  }
}

TEST(QuasiConfMobius, BothSixUnknownCandidatesMeetTheConstraintAndReachAffineNgons) {
  // The null space of the n-gon system for four points in general position,
  // as the fits take it, and both roots of the selection step.
  std::mt19937 gen(5);
  for (int trial = 0; trial < 20; ++trial) {
    const Points p = qc_test::RandomPoints(gen, 4);
    LinAlgMatrixComplex M(4, 6), U(4, 4), Vt(6, 6);
    LinAlgVectorComplex S(4);
    for (int k = 0; k < 4; ++k) quasiconf_detail::NgonRow(Pt(p, k), Ngon(k, 4), 1.0, &M(k, 0), 4);
    ASSERT_TRUE(M.SVDDecomposeDestructive(U, S, Vt));
    LinAlgComplex u[6], v[6], x[2][6];
    for (int i = 0; i < 6; ++i) {
      u[i] = Vt(4, i).Conjugate();
      v[i] = Vt(5, i).Conjugate();
    }
    quasiconf_detail::QuadraticSelect(u, v, 6, 2, 5, 3, 4, x[0], x[1]);
    for (auto& c : x) {
      const double size = c[2].Power() * c[5].Power() + c[3].Power() * c[4].Power();
      ASSERT_NEAR(Dist(c[2] * c[5], c[3] * c[4]), 0.0, 1e-12 * size) << trial;
      const LinAlgComplex mu = c[5] / c[3];
      const LinAlgMatrixComplex Z = Matrix(c[0], c[1], c[2], c[3]);
      for (int k = 0; k < 4; ++k) {
        ASSERT_NEAR(Dist(Image(Z, p, k), Ngon(k, 4) + mu * Ngon(k, 4).Conjugate()), 0.0, 1e-9)
            << trial << " point " << k;
      }
    }
    // The fit itself returns one of them.
    LinAlgMatrixComplex Z(2, 2);
    ASSERT_TRUE(Q::NMobiusPointAffineMap(p, Z));
    EXPECT_LT(AffineNgonResidual(Z, p, nullptr), 1e-9) << trial;
  }
}

TEST(QuasiConfMobius, ThreePointsGoExactlyOntoTheTriangleCollinearOnesToo) {
  for (const Points& p : {Points{0.2, 0.3, 0.7, 0.2, 0.5, 0.8}, Points{0.1, 0.1, 0.3, 0.3, 0.7, 0.7}}) {
    LinAlgMatrixComplex Z(2, 2);
    ASSERT_TRUE(Q::NMobiusPointAffineMap(p, Z));
    LinAlgVectorComplex z(3);
    LinAlgVectorReal w(3, 1.0 / 3);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(Dist(Image(Z, p, k), Ngon(k, 3)), 0.0, 1e-12) << k;
      z(k) = Pt(p, k);
    }
    w(0) = 0.7;  // weights do not matter for an exact fit
    LinAlgMatrixComplex W(2, 2);
    ASSERT_TRUE(Q::QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS(z, w, W));
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(Dist(Image(W, p, k), LinAlgComplex(0.0, k * (quasiconf_detail::kTwoPi / 3)).Exp()),
                  0.0, 1e-12);
    }
  }
  // Two points coincide: refused, and fewer than three points fit nothing.
  LinAlgMatrixComplex Z(2, 2);
  EXPECT_FALSE(Q::NMobiusPointAffineMap({0.2, 0.3, 0.2, 0.3, 0.5, 0.8}, Z));
  EXPECT_FALSE(Q::NMobiusPointAffineMap({0.2, 0.3, 0.5, 0.8}, Z));
}

TEST(QuasiConfMobius, NgonFitsOfManyPointsCoincidencesAndCollinearRuns) {
  std::mt19937 gen(8);
  LinAlgMatrixComplex Z(2, 2);
  // Four points with two on one spot are singular (the relative determinant
  // test, not an exact zero, catches them); four collinear points in
  // monotone order are not (a Mobius map takes the line to a circle).
  EXPECT_FALSE(Q::NMobiusPointAffineMap({0.2, 0.3, 0.2, 0.3, 0.5, 0.8, 0.7, 0.2}, Z));
  EXPECT_TRUE(Q::NMobiusPointAffineMap({0.1, 0.2, 0.2, 0.26, 0.3, 0.32, 0.4, 0.38}, Z));
  EXPECT_LT(AffineNgonResidual(Z, {0.1, 0.2, 0.2, 0.26, 0.3, 0.32, 0.4, 0.38}, nullptr), 1e-9);
  // More points than unknowns: a least-squares fit, near an affine n-gon for
  // points that nearly form one.
  for (int n : {5, 8, 16}) {
    Points p;
    for (int k = 0; k < n; ++k) {
      const LinAlgComplex g = Ngon(k, n) + LinAlgComplex(0.2, 0.1) * Ngon(k, n).Conjugate();
      p.insert(p.end(), {0.5 + 0.3 * g.m_fRe, 0.5 + 0.3 * g.m_fIm});
    }
    ASSERT_TRUE(Q::NMobiusPointAffineMap(p, Z)) << n;
    LinAlgComplex mu;
    EXPECT_LT(AffineNgonResidual(Z, p, &mu), 1e-9) << n;
    EXPECT_NEAR(Dist(mu, LinAlgComplex(0.2, 0.1)), 0.0, 1e-9) << n;
    ASSERT_TRUE(Q::NMobiusPointAffineMap(qc_test::Jitter(gen, p, 0.01), Z)) << n;
  }
}

TEST(QuasiConfMobius, WeightedFitRebuildsItsWorkspacesWhenTheCountChanges) {
  std::mt19937 gen(2);
  for (int n : {4, 5, 4, 8}) {
    const Points p = qc_test::RandomPoints(gen, n);
    LinAlgVectorComplex z(n);
    LinAlgVectorReal w(n, 0.0);
    std::vector<double> weights;
    for (int k = 0; k < n; ++k) {
      z(k) = Pt(p, k);
      w(k) = 1.0 + k;
      weights.push_back(w(k));
    }
    LinAlgMatrixComplex Z(2, 2);
    ASSERT_TRUE(Q::QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS(z, w, Z)) << n;
    // The fast fit (no U) takes the points to the same places.
    quasiconf_detail::FastFitWork work(n);
    LinAlgComplex zm[4];
    ASSERT_TRUE(quasiconf_detail::FastWeightedFit(&z(0), weights.data(), work, zm)) << n;
    for (int k = 0; k < n; ++k) {
      EXPECT_NEAR(Dist(Image(Z, p, k), quasiconf_detail::Mobius(zm, Pt(p, k))), 0.0, 1e-9) << n;
    }
  }
}

TEST(QuasiConfMobius, RegularityIsRelativeToTheMatrixSize) {
  EXPECT_TRUE(Q::IsRegularMobius(Matrix({1e-9, 0}, {0, 0}, {0, 0}, {1e-9, 0})));
  EXPECT_FALSE(Q::IsRegularMobius(Matrix({1, 0}, {2, 0}, {2, 0}, {4 + 1e-9, 0})));
  EXPECT_FALSE(Q::IsRegularMobius(Matrix({NAN, 0}, {0, 0}, {0, 0}, {1, 0})));
  EXPECT_FALSE(Q::IsRegularMobius(Matrix({0, 0}, {0, 0}, {0, 0}, {0, 0})));
}
