#include <cmath>
#include <limits>

#include "TestCommon.h"
#include "linalg/LinAlgComplex.h"

using C = LinAlgComplex;

TEST(LinAlgComplex, ArithmeticMatchesHandWorkedValues) {
  const C a(1, 2), b(3, -4), zero(0, 0);
  struct Case { C got; double re, im; const char* what; };
  const Case cases[] = {
      // (1+2i)(3-4i) = 3 - 4i + 6i + 8; (1+2i)/(3-4i) = (1+2i)(3+4i)/25 = (-5 + 10i)/25
      {a + b, 4, -2, "a+b"}, {a - b, -2, 6, "a-b"}, {-a, -1, -2, "-a"}, {a * b, 11, 2, "a*b"}, {a / b, -0.2, 0.4, "a/b"},
      {(a / b) * b, 1, 2, "a/b*b"}, {2.0 / C(0, 1), 0, -2, "2/i"}, {zero.Sqrt(), 0, 0, "sqrt(0)"},
      {5.0 - a, 4, -2, "5-a"}, {a - 5.0, -4, 2, "a-5"}, {a + 1.0, 2, 2, "a+1"}, {1.0 + a, 2, 2, "1+a"},  // real part only
      {a * 2.0, 2, 4, "a*2"}, {2.0 * a, 2, 4, "2*a"}, {a / 2.0, 0.5, 1, "a/2"}, {C(3, 4).Sqrt(), 2, 1, "sqrt(3+4i)"},
      // in place, from the operands as they were before the update; an exact zero divisor gives 0 + 0i
      {[&] { C z = a; z *= z; return z; }(), -3, 4, "z*=z"}, {[&] { C z = a; z /= b; return z; }(), -0.2, 0.4, "z/=b"},
      {[&] { C z = a; z += b; z -= C(0.5, 0.5); return z; }(), 3.5, -2.5, "+= -="},
      {[&] { C z = a; z += 1.0; z -= 0.5; z *= 2.0; z /= 4.0; return z; }(), 0.75, 1, "+=d -=d *=d /=d"},
      {[&] { C z = a; z = 7.0; return z; }(), 7, 0, "=d"}, {[&] { C z = a; z /= zero; return z; }(), 0, 0, "z/=0"},
      {a / zero, 0, 0, "a/0"}, {1.0 / zero, 0, 0, "1/0"}, {C(0, M_PI).Exp(), -1, 0, "exp(i pi)"},
      {C(1, 0).Exp(), std::exp(1.0), 0, "exp(1)"},
      // branch cut on the negative real axis: the sign of a zero imaginary part picks the side
      {C(-4, 0).Sqrt(), 0, 2, "sqrt(-4)"}, {C(-4, -0.0).Sqrt(), 0, -2, "sqrt(-4-0i)"},
  };
  for (const Case& c : cases) EXPECT_NEAR(std::fabs(c.got.Re() - c.re) + std::fabs(c.got.Im() - c.im), 0, 1e-14) << c.what;
  // a tiny but non-zero divisor still divides
  EXPECT_GT((C(1, 0) / C(1e-150, 0)).Re(), 1e149);
}

TEST(LinAlgComplex, ExactComparisonModulusAndPrincipalRoot) {
  const double x = 0.1, next = std::nextafter(x, 1.0), nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(C(x, 1) == C(x, 1) && !(C(x, 1) == C(next, 1)) && C(x, 1) != C(x, next) && C(nan, 0) != C(nan, 0));
  EXPECT_TRUE(C(2, 0) == 2.0 && C(2, 1e-300) != 2.0 && C(3, 4).Conjugate() == C(3, -4));
  EXPECT_EQ(std::make_pair(C(3, 4).Power(), C(0, 0).Power()), std::make_pair(5.0, 0.0));  // the modulus, not its square
  for (int k = 0; k < 36; ++k) {  // every direction, and growing moduli: the principal root, its square z
    const double angle = -M_PI + (k + 0.5) * M_PI / 18;
    const C z = C(std::cos(angle), std::sin(angle)) * (k + 1.0), r = z.Sqrt();
    EXPECT_TRUE(r.Re() >= 0 && (r * r - z).Power() < 1e-12 * (k + 1)) << angle << ": " << r.Re();
  }
}
