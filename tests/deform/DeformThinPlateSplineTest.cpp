#include "deform/DeformThinPlateSpline.h"

#include <cmath>
#include <random>
#include <vector>

#include "TestCommon.h"

namespace {

using Centres = std::vector<LinAlgComplex>;
using TPS = DeformThinPlateSpline;

Centres Random(std::mt19937& gen, int n) {
  std::uniform_real_distribution<double> u(0.05, 0.95);
  Centres c;
  for (int i = 0; i < n; ++i) c.emplace_back(u(gen), u(gen));
  return c;
}

double Dist(LinAlgComplex a, LinAlgComplex b) { return std::hypot(a.m_fRe - b.m_fRe, a.m_fIm - b.m_fIm); }

// A real-linear affine map of the plane (not a complex-affine one).
LinAlgComplex Affine(LinAlgComplex z) {
  return {0.9 * z.m_fRe - 0.3 * z.m_fIm + 0.1, 0.2 * z.m_fRe + 1.1 * z.m_fIm - 0.2};
}

}  // namespace

TEST(DeformThinPlateSpline, InterpolatesEveryCentreWithZeroSideConditions) {
  std::mt19937 gen(3);
  for (int m : {3, 4, 9, 20}) {
    Centres cen = Random(gen, m), vals = Random(gen, m + 2);  // longer values: the rest unread
    LinAlgVectorComplex coeffs(m + 3);
    ASSERT_TRUE(TPS::PrepareTPSCoefficients(cen, vals, coeffs)) << m;
    LinAlgComplex sum, sumX, sumY;
    for (int i = 0; i < m; ++i) {
      EXPECT_LT(Dist(TPS::MapUsignTPS(cen[i], cen, coeffs), vals[i]), 1e-9) << m << " centre " << i;
      sum += coeffs(i);
      sumX += coeffs(i) * cen[i].m_fRe;
      sumY += coeffs(i) * cen[i].m_fIm;
    }
    // The three zero rows of the system: sum w = sum w x = sum w y = 0.
    for (const LinAlgComplex& s : {sum, sumX, sumY}) EXPECT_LT(s.Power(), 1e-9) << m;
  }
}

TEST(DeformThinPlateSpline, AffineValuesGiveNoKernelWeightsAndTheAffineMapEverywhere) {
  std::mt19937 gen(4);
  Centres cen = Random(gen, 7), vals;
  for (const LinAlgComplex& c : cen) vals.push_back(Affine(c));
  LinAlgVectorComplex coeffs(10);
  ASSERT_TRUE(TPS::PrepareTPSCoefficients(cen, vals, coeffs));
  for (int i = 0; i < 7; ++i) EXPECT_LT(coeffs(i).Power(), 1e-10) << i;
  for (const LinAlgComplex& z : Random(gen, 20)) EXPECT_LT(Dist(TPS::MapUsignTPS(z, cen, coeffs), Affine(z)), 1e-10);
  // Three centres: whatever the values, the affine map through them, here
  // found independently by Cramer's rule.
  Centres three = {{0.1, 0.2}, {0.8, 0.3}, {0.4, 0.9}}, v3 = {{0.3, 0.3}, {0.9, 0.1}, {0.2, 0.7}};
  LinAlgVectorComplex c3(6);
  ASSERT_TRUE(TPS::PrepareTPSCoefficients(three, v3, c3));
  const double x1 = three[1].m_fRe - three[0].m_fRe, y1 = three[1].m_fIm - three[0].m_fIm;
  const double x2 = three[2].m_fRe - three[0].m_fRe, y2 = three[2].m_fIm - three[0].m_fIm;
  const double det = x1 * y2 - x2 * y1;
  for (const LinAlgComplex& z : Random(gen, 10)) {
    const double dx = z.m_fRe - three[0].m_fRe, dy = z.m_fIm - three[0].m_fIm;
    const double s = (dx * y2 - x2 * dy) / det, t = (x1 * dy - dx * y1) / det;  // z = c0 + s e1 + t e2
    const LinAlgComplex expect = v3[0] + (v3[1] - v3[0]) * s + (v3[2] - v3[0]) * t;
    EXPECT_LT(Dist(TPS::MapUsignTPS(z, three, c3), expect), 1e-12);
  }
}

TEST(DeformThinPlateSpline, EvaluationByHand) {
  // One centre at 0 with weight 2 + 3i, x coefficient 1 + 0.5i, constant 0.25i.
  Centres cen = {{0.0, 0.0}};
  LinAlgVectorComplex coeffs(4);
  coeffs(0) = LinAlgComplex(2, 3);
  coeffs(1) = LinAlgComplex(1, 0.5);
  coeffs(3) = LinAlgComplex(0, 0.25);
  // At z = 2: s = 4, U = 4 log 4.
  EXPECT_LT(Dist(TPS::MapUsignTPS({2.0, 0.0}, cen, coeffs), {8 * std::log(4.0) + 2, 12 * std::log(4.0) + 1.25}), 1e-15);
  // On the centre the kernel is 0.
  EXPECT_EQ(TPS::MapUsignTPS({0.0, 0.0}, cen, coeffs), LinAlgComplex(0, 0.25));
}

TEST(DeformThinPlateSpline, SingularCentresAreRefusedAndLeaveTheCoefficients) {
  ::testing::internal::CaptureStderr();
  for (Centres cen : {Centres{{0.1, 0.1}, {0.5, 0.5}}, Centres{{0.1, 0.1}, {0.5, 0.2}, {0.1, 0.1}, {0.7, 0.8}},
                      Centres{{0.1, 0.1}, {0.3, 0.3}, {0.6, 0.6}, {0.9, 0.9}},
                      Centres{{0.1, 0.1}, {0.5, NAN}, {0.6, 0.2}}}) {
    Centres vals(cen.size(), LinAlgComplex(0.5, 0.5));
    LinAlgVectorComplex coeffs(static_cast<int>(cen.size()) + 3);
    coeffs(0) = LinAlgComplex(7, 7);
    EXPECT_FALSE(TPS::PrepareTPSCoefficients(cen, vals, coeffs)) << cen.size();
    EXPECT_EQ(coeffs(0), LinAlgComplex(7, 7));
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // refused before the solver, which would print
  // Centres a billionth off a line still make a system (the line constraints
  // put offset centres that close).
  Centres near = {{0.1, 0.1}, {0.3, 0.3}, {0.6, 0.6}, {0.35, 0.35 + 1e-9}};
  LinAlgVectorComplex coeffs(7);
  EXPECT_TRUE(TPS::PrepareTPSCoefficients(near, near, coeffs));
}

// The packed evaluator takes its own logarithm (within one unit in the last
// place of the library's): it gives the documented sum to rounding, that is
// within a few units of the size of the sum's terms (points on the centres
// among them).
TEST(DeformThinPlateSpline, PackedEvaluatorEqualsTheDocumentedSumToRounding) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> u(-0.2, 1.2);
  int exact = 0, compared = 0;
  for (int m : {3, 4, 17, 43}) {
    Centres cen = Random(gen, m), vals;
    for (const LinAlgComplex& c : cen) vals.push_back(Affine(c) + LinAlgComplex(0.01 * u(gen), 0.02 * u(gen)));
    LinAlgVectorComplex coeffs(m + 3);
    ASSERT_TRUE(TPS::PrepareTPSCoefficients(cen, vals, coeffs)) << m;
    const TPS::Evaluator packed(cen, coeffs);
    Centres points = cen;
    for (int k = 0; k < 200; ++k) points.emplace_back(u(gen), u(gen));
    for (const LinAlgComplex& z : points) {
      double size = std::fabs(coeffs(m).m_fRe * z.m_fRe) + std::fabs(coeffs(m + 1).m_fRe * z.m_fIm) +
                    std::fabs(coeffs(m + 2).m_fRe) + std::fabs(coeffs(m).m_fIm * z.m_fRe) +
                    std::fabs(coeffs(m + 1).m_fIm * z.m_fIm) + std::fabs(coeffs(m + 2).m_fIm);
      for (int i = 0; i < m; ++i) {
        const double s = (z - cen[i]).Power() * (z - cen[i]).Power();
        size += (std::fabs(coeffs(i).m_fRe) + std::fabs(coeffs(i).m_fIm)) * std::fabs(s > 0 ? s * std::log(s) : 0.0);
      }
      const LinAlgComplex documented = TPS::MapUsignTPS(z, cen, coeffs), fast = packed.Map(z);
      ASSERT_TRUE(std::fmax(std::fabs(fast.m_fRe - documented.m_fRe), std::fabs(fast.m_fIm - documented.m_fIm)) <=
                  4e-16 * size) << m;
      exact += fast == documented;
      ++compared;
    }
  }
  // The two logarithms agree on nearly every argument, so most sums are equal.
  EXPECT_GT(exact, compared / 2);
  EXPECT_EQ(TPS::Evaluator().Map({0.3, -2}), LinAlgComplex(0.3, -2));
}
