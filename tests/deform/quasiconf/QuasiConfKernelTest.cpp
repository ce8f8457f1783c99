#include "deform/quasiconf/QuasiConfKernel.h"

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "../DeformTesting.h"
#include "deform/quasiconf/QuasiConfDetail.h"

namespace {

const auto Same = deform_test::SameOrBothNaN;

// Seeded points with the awkward ones among them: signed zeros, a point
// whose divisor c z + d is exactly zero, not-a-number and infinities.
std::vector<LinAlgComplex> Points(std::mt19937& gen, int count, LinAlgComplex pole) {
  std::uniform_real_distribution<double> u(-1.5, 1.5);
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<LinAlgComplex> z;
  for (int k = 0; k < count; ++k) {
    z.emplace_back(u(gen), u(gen));
    if (k % 9 == 1) z.back() = pole;
    if (k % 9 == 4) z.back() = LinAlgComplex(k % 2 ? -0.0 : 0.0, k % 4 == 0 ? -0.0 : 0.0);
    if (k % 13 == 7) z.back() = LinAlgComplex(std::nan(""), 0.5);
    if (k % 17 == 11) z.back() = LinAlgComplex(inf, -0.25);
  }
  return z;
}

// Every target this processor runs maps every point as the complex type's
// one-point arithmetic does, bit for bit, for counts leaving every
// remainder, out of place and in place.
TEST(QuasiConfKernel, EveryTargetMapsLikeTheComplexArithmeticBitForBit) {
  std::mt19937 gen(19);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  // c z + d vanishes at z = pole exactly: c = 1, d = -pole.
  const LinAlgComplex pole(0.375, -0.625);
  const LinAlgComplex mobius[4] = {{u(gen), u(gen)}, {u(gen), u(gen)}, {1.0, 0.0}, -pole};
  const LinAlgComplex alpha(u(gen), u(gen)), beta(u(gen), u(gen));
  const double m[8] = {mobius[0].m_fRe, mobius[0].m_fIm, mobius[1].m_fRe, mobius[1].m_fIm,
                       mobius[2].m_fRe, mobius[2].m_fIm, mobius[3].m_fRe, mobius[3].m_fIm};
  const double linear[4] = {alpha.m_fRe, alpha.m_fIm, beta.m_fRe, beta.m_fIm};
  for (int count = 1; count <= 37; count += (count < 19 ? 1 : 6)) {
    const std::vector<LinAlgComplex> z = Points(gen, count, pole);
    std::vector<double> x(count), y(count);
    for (int k = 0; k < count; ++k) x[k] = z[k].m_fRe, y[k] = z[k].m_fIm;
    EXPECT_GT(warpix_test::ForEveryTarget([&](const char* name) {
      std::vector<double> mx(count), my(count), lx(count), ly(count);
      warpix::MobiusMapPoints(m, count, x.data(), y.data(), mx.data(), my.data());
      warpix::RLinearMapPoints(linear, count, x.data(), y.data(), lx.data(), ly.data());
      std::vector<double> ix = x, iy = y;
      warpix::MobiusMapPoints(m, count, ix.data(), iy.data(), ix.data(), iy.data());
      for (int k = 0; k < count; ++k) {
        const LinAlgComplex w = quasiconf_detail::Mobius(mobius, z[k]);
        const LinAlgComplex l = alpha * z[k] + beta * z[k].Conjugate();
        ASSERT_TRUE(Same(mx[k], w.m_fRe) && Same(my[k], w.m_fIm)) << name << " Mobius, count " << count << " point " << k;
        ASSERT_TRUE(Same(ix[k], w.m_fRe) && Same(iy[k], w.m_fIm)) << name << " in place";
        ASSERT_TRUE(Same(lx[k], l.m_fRe) && Same(ly[k], l.m_fIm)) << name << " R-linear, count " << count << " point " << k;
      }
    }), 0);
  }
  // The pole maps to 0 + 0i by the quotient's rule, not to infinity.
  double x = pole.m_fRe, y = pole.m_fIm;
  warpix::MobiusMapPoints(m, 1, &x, &y, &x, &y);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 0.0);
}

// The one-pass mesh route: Mobius, R-linear (or nothing), Mobius from each
// rest position, exactly as the one-point arithmetic composes them; a
// vertex whose result is not finite (a not-a-number rest position, or an
// infinite one) keeps the position it had.
TEST(QuasiConfKernel, ChainOverVerticesComposesTheMapsAndKeepsNonFiniteVertices) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const LinAlgComplex first[4] = {{1.1, 0.2}, {-0.1, 0.05}, {0.15, -0.1}, {0.9, 0.1}};
  const LinAlgComplex second[4] = {{0.8, -0.3}, {0.2, 0.1}, {-0.05, 0.2}, {1.2, 0.0}};
  const LinAlgComplex alpha(1.05, 0.1), beta(0.03, -0.02);
  double f[8], g[8];
  for (int e = 0; e < 4; ++e) {
    f[2 * e] = first[e].m_fRe, f[2 * e + 1] = first[e].m_fIm;
    g[2 * e] = second[e].m_fRe, g[2 * e + 1] = second[e].m_fIm;
  }
  const double linear[4] = {alpha.m_fRe, alpha.m_fIm, beta.m_fRe, beta.m_fIm};
  for (bool withLinear : {false, true}) {
    for (int count : {1, 7, 16, 23, 41}) {
      std::vector<Warpixator::ImgVertex> rest(count);
      for (int k = 0; k < count; ++k) {
        rest[k].m_fRestX = u(gen), rest[k].m_fRestY = u(gen);
        rest[k].m_fX = 10.0 + k, rest[k].m_fY = -10.0 - k;
        if (k % 6 == 5) rest[k].m_fRestY = std::nan("");
        if (k % 10 == 3) rest[k].m_fRestX = std::numeric_limits<double>::infinity();
      }
      warpix_test::ForEveryTarget([&](const char* name) {
        std::vector<Warpixator::ImgVertex> v = rest;
        warpix::MobiusChainVertices(f, withLinear ? linear : nullptr, g, v.data(), count);
        for (int k = 0; k < count; ++k) {
          LinAlgComplex w = quasiconf_detail::Mobius(first, {rest[k].m_fRestX, rest[k].m_fRestY});
          if (withLinear) w = alpha * w + beta * w.Conjugate();
          w = quasiconf_detail::Mobius(second, w);
          if (!std::isfinite(w.m_fRe) || !std::isfinite(w.m_fIm)) w = {rest[k].m_fX, rest[k].m_fY};
          ASSERT_TRUE(Same(v[k].m_fX, w.m_fRe) && Same(v[k].m_fY, w.m_fIm))
              << name << " linear " << withLinear << " count " << count << " vertex " << k;
          ASSERT_EQ(v[k].m_fRestX, rest[k].m_fRestX);
        }
      });
    }
  }
}

}  // namespace
