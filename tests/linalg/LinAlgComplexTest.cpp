#include <cmath>
#include <limits>

#include "TestCommon.h"
#include "linalg/LinAlgComplex.h"

namespace {

const double kPi = 3.14159265358979323846;

void ExpectComplex(const LinAlgComplex& z, double re, double im, double tol, const std::string& what) {
  EXPECT_NEAR(z.Re(), re, tol) << what;
  EXPECT_NEAR(z.Im(), im, tol) << what;
}

// Applies an in-place operator to a copy of z.
template <class F>
LinAlgComplex Updated(LinAlgComplex z, F update) {
  update(z);
  return z;
}

}  // namespace

TEST(LinAlgComplex, ArithmeticMatchesHandWorkedValues) {
  const LinAlgComplex a(1, 2), b(3, -4), zero(0, 0);
  struct Case { LinAlgComplex got; double re, im; const char* what; };
  const Case cases[] = {
      {a + b, 4, -2, "a+b"}, {a - b, -2, 6, "a-b"}, {-a, -1, -2, "-a"},
      {a * b, 11, 2, "a*b"},         // (1+2i)(3-4i) = 3 - 4i + 6i + 8
      {a / b, -0.2, 0.4, "a/b"},     // (1+2i)(3+4i)/25 = (-5 + 10i)/25
      {(a / b) * b, 1, 2, "a/b*b"},  // division undoes multiplication
      {5.0 - a, 4, -2, "5-a"}, {a - 5.0, -4, 2, "a-5"},  // a real acts on the real part only
      {a + 1.0, 2, 2, "a+1"}, {1.0 + a, 2, 2, "1+a"},
      {a * 2.0, 2, 4, "a*2"}, {2.0 * a, 2, 4, "2*a"}, {a / 2.0, 0.5, 1, "a/2"},
      {2.0 / LinAlgComplex(0, 1), 0, -2, "2/i"},
      // in place, from the operands as they were before the update
      {Updated(a, [](LinAlgComplex& z) { z *= z; }), -3, 4, "z*=z"},
      {Updated(a, [&](LinAlgComplex& z) { z /= b; }), -0.2, 0.4, "z/=b"},
      {Updated(a, [&](LinAlgComplex& z) { z += b; z -= LinAlgComplex(0.5, 0.5); }), 3.5, -2.5, "+= -="},
      {Updated(a, [](LinAlgComplex& z) { z += 1.0; z -= 0.5; }), 1.5, 2, "+=d -=d"},
      {Updated(a, [](LinAlgComplex& z) { z *= 2.0; z /= 4.0; }), 0.5, 1, "*=d /=d"},
      {Updated(a, [](LinAlgComplex& z) { z = 7.0; }), 7, 0, "=d"},
      // an exact zero divisor gives 0 + 0i, not infinities
      {a / zero, 0, 0, "a/0"}, {1.0 / zero, 0, 0, "1/0"},
      {Updated(a, [&](LinAlgComplex& z) { z /= zero; }), 0, 0, "z/=0"},
      {LinAlgComplex(0, kPi).Exp(), -1, 0, "exp(i pi)"}, {LinAlgComplex(1, 0).Exp(), std::exp(1.0), 0, "exp(1)"},
      {LinAlgComplex(1, 1).RaiseToPow(2), 0, 2, "(1+i)^2"}, {LinAlgComplex(0, 2).RaiseToPow(-1), 0, -0.5, "(2i)^-1"},
      {LinAlgComplex(3, 4).Sqrt(), 2, 1, "sqrt(3+4i)"}, {zero.Sqrt(), 0, 0, "sqrt(0)"},
      // branch cut on the negative real axis: the sign of a zero imaginary part picks the side
      {LinAlgComplex(-4, 0).Sqrt(), 0, 2, "sqrt(-4)"}, {LinAlgComplex(-4, -0.0).Sqrt(), 0, -2, "sqrt(-4-0i)"},
  };
  for (const Case& c : cases) ExpectComplex(c.got, c.re, c.im, 1e-14, c.what);
  // a tiny but non-zero divisor still divides
  EXPECT_GT((LinAlgComplex(1, 0) / LinAlgComplex(1e-150, 0)).Re(), 1e149);
}

TEST(LinAlgComplex, ExactComparisonModulusPhaseAndPrincipalRoot) {
  const double x = 0.1, next = std::nextafter(x, 1.0), nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(LinAlgComplex(x, 1) == LinAlgComplex(x, 1));
  EXPECT_FALSE(LinAlgComplex(x, 1) == LinAlgComplex(next, 1));
  EXPECT_TRUE(LinAlgComplex(x, 1) != LinAlgComplex(x, next));
  EXPECT_TRUE(LinAlgComplex(nan, 0) != LinAlgComplex(nan, 0));
  EXPECT_TRUE(LinAlgComplex(2, 0) == 2.0);
  EXPECT_TRUE(LinAlgComplex(2, 1e-300) != 2.0);
  EXPECT_EQ(LinAlgComplex(3, 4).Power(), 5.0);  // the modulus, not its square
  EXPECT_EQ(LinAlgComplex(0, 0).Power(), 0.0);
  EXPECT_TRUE(LinAlgComplex(3, 4).Conjugate() == LinAlgComplex(3, -4));
  EXPECT_NEAR(LinAlgComplex(1, 1).Phase(), kPi / 4, 1e-15);
  // the left half plane is shifted by the constant 3.14159265, not folded like atan2
  EXPECT_EQ(LinAlgComplex(-1, -1).Phase(), std::atan(1.0) + 3.14159265);
  EXPECT_TRUE(std::isnan(LinAlgComplex(0, 0).Phase()));
  for (int k = 0; k < 36; ++k) {  // every direction, and growing moduli
    const double angle = -kPi + (k + 0.5) * kPi / 18, phase = LinAlgComplex(std::cos(angle), std::sin(angle)).Phase();
    EXPECT_TRUE(phase > -kPi / 2 && phase < 3 * kPi / 2) << angle;
    EXPECT_NEAR(std::cos(phase - angle), 1.0, 1e-12) << angle;  // the same direction
    const LinAlgComplex z = LinAlgComplex(std::cos(angle), std::sin(angle)) * (k + 1.0), r = z.Sqrt();
    EXPECT_GE(r.Re(), 0.0) << angle;  // principal root, and its square gives the number back
    ExpectComplex(r * r, z.Re(), z.Im(), 1e-12 * (k + 1), std::to_string(angle));
  }
}
