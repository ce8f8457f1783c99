#include <cmath>
#include <limits>

#include "TestCommon.h"
#include "linalg/LinAlgComplex.h"

namespace {

const double kPi = 3.14159265358979323846;

std::string Printed(const LinAlgComplex& z) {
  warpix_test::CoutCapture capture;
  z.PrintComplex();
  return capture.str();
}

void ExpectComplex(const LinAlgComplex& z, double re, double im, double tol = 1e-14) {
  EXPECT_NEAR(z.Re(), re, tol);
  EXPECT_NEAR(z.Im(), im, tol);
}

}  // namespace

TEST(LinAlgComplex, ArithmeticMatchesHandWorkedValues) {
  const LinAlgComplex a(1, 2), b(3, -4);
  ExpectComplex(a + b, 4, -2);
  ExpectComplex(a - b, -2, 6);
  ExpectComplex(a * b, 11, 2);           // (1+2i)(3-4i) = 3 - 4i + 6i + 8
  ExpectComplex(a / b, -0.2, 0.4);       // (1+2i)(3+4i)/25 = (-5 + 10i)/25
  ExpectComplex((a / b) * b, 1, 2);      // division undoes multiplication
  ExpectComplex(-a, -1, -2);
  ExpectComplex(5.0 - a, 4, -2);         // a real operand acts on the real part only
  ExpectComplex(a - 5.0, -4, 2);
  ExpectComplex(a + 1.0, 2, 2);
  ExpectComplex(1.0 + a, 2, 2);
  ExpectComplex(a * 2.0, 2, 4);
  ExpectComplex(2.0 * a, 2, 4);
  ExpectComplex(a / 2.0, 0.5, 1);
  ExpectComplex(2.0 / LinAlgComplex(0, 1), 0, -2);
}

TEST(LinAlgComplex, InPlaceOperatorsUseTheOperandsBeforeTheUpdate) {
  LinAlgComplex z(1, 2);
  z *= z;  // must read both parts before writing either
  ExpectComplex(z, -3, 4);
  z /= LinAlgComplex(-3, 4);
  ExpectComplex(z, 1, 0);
  z += LinAlgComplex(1, 1);
  z -= LinAlgComplex(0.5, 0.5);
  ExpectComplex(z, 1.5, 0.5);
  z += 1.0;
  z -= 0.5;
  ExpectComplex(z, 2, 0.5);
  z *= 2.0;
  z /= 4.0;
  ExpectComplex(z, 1, 0.25);
  z = 7.0;
  ExpectComplex(z, 7, 0);
}

TEST(LinAlgComplex, DivisionByExactZeroGivesZero) {
  const LinAlgComplex zero(0, 0);
  EXPECT_TRUE(LinAlgComplex(3, 4) / zero == zero);
  EXPECT_TRUE(1.0 / zero == zero);
  LinAlgComplex z(3, 4);
  z /= zero;
  EXPECT_TRUE(z == zero);
  // a tiny but non-zero divisor still divides
  EXPECT_GT((LinAlgComplex(1, 0) / LinAlgComplex(1e-150, 0)).Re(), 1e149);
}

TEST(LinAlgComplex, ComparisonIsExact) {
  const double x = 0.1;
  const double next = std::nextafter(x, 1.0);
  EXPECT_TRUE(LinAlgComplex(x, 1) == LinAlgComplex(x, 1));
  EXPECT_FALSE(LinAlgComplex(x, 1) == LinAlgComplex(next, 1));
  EXPECT_TRUE(LinAlgComplex(x, 1) != LinAlgComplex(x, next));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(LinAlgComplex(nan, 0) != LinAlgComplex(nan, 0));
  EXPECT_TRUE(LinAlgComplex(2, 0) == 2.0);
  EXPECT_TRUE(LinAlgComplex(2, 1e-300) != 2.0);
}

TEST(LinAlgComplex, ModulusPhaseAndConjugate) {
  EXPECT_DOUBLE_EQ(LinAlgComplex(3, 4).Power(), 5.0);
  EXPECT_EQ(LinAlgComplex(0, 0).Power(), 0.0);
  ExpectComplex(LinAlgComplex(3, 4).Conjugate(), 3, -4);
  EXPECT_NEAR(LinAlgComplex(1, 1).Phase(), kPi / 4, 1e-15);
  // the left half plane is shifted by pi, not folded like atan2
  EXPECT_NEAR(LinAlgComplex(-1, -1).Phase(), std::atan(1.0) + 3.14159265, 1e-15);
  EXPECT_NEAR(LinAlgComplex(-1, 1).Phase(), 3 * kPi / 4, 1e-8);
  EXPECT_TRUE(std::isnan(LinAlgComplex(0, 0).Phase()));
  // the phase always lies in (-pi/2, 3pi/2] and reproduces the number
  for (int k = 0; k < 36; ++k) {
    const double angle = -kPi + (k + 0.5) * kPi / 18;
    const LinAlgComplex z(2 * std::cos(angle), 2 * std::sin(angle));
    const double phase = z.Phase();
    EXPECT_GT(phase, -kPi / 2);
    EXPECT_LT(phase, 3 * kPi / 2);
    EXPECT_NEAR(2 * std::cos(phase), z.Re(), 1e-7);
    EXPECT_NEAR(2 * std::sin(phase), z.Im(), 1e-7);
  }
}

TEST(LinAlgComplex, ExpPowAndPrincipalSqrt) {
  ExpectComplex(LinAlgComplex(0, kPi).Exp(), -1, 0, 1e-15);
  ExpectComplex(LinAlgComplex(1, 0).Exp(), std::exp(1.0), 0);
  ExpectComplex(LinAlgComplex(1, 1).RaiseToPow(2), 0, 2, 1e-14);
  ExpectComplex(LinAlgComplex(0, 2).RaiseToPow(-1), 0, -0.5, 1e-15);
  ExpectComplex(LinAlgComplex(-4, 0).Sqrt(), 0, 2, 1e-15);
  // branch cut on the negative real axis: the sign of a zero imaginary part picks the side
  ExpectComplex(LinAlgComplex(-4, -0.0).Sqrt(), 0, -2, 1e-15);
  ExpectComplex(LinAlgComplex(0, 0).Sqrt(), 0, 0);
  ExpectComplex(LinAlgComplex(3, 4).Sqrt(), 2, 1);
  // principal root: real part >= 0 and the square gives the number back
  for (int k = 0; k < 12; ++k) {
    const LinAlgComplex z(std::cos(k * 0.5) * (k + 1), std::sin(k * 0.5) * (k + 1));
    const LinAlgComplex r = z.Sqrt();
    EXPECT_GE(r.Re(), 0.0);
    ExpectComplex(r * r, z.Re(), z.Im(), 1e-12 * (k + 1));
  }
}

TEST(LinAlgComplex, PrintComplexText) {
  EXPECT_EQ(Printed(LinAlgComplex(1, -2)), "1-2i");
  EXPECT_EQ(Printed(LinAlgComplex(1, 0)), "1+0i");
  EXPECT_EQ(Printed(LinAlgComplex(-0.5, 1.25)), "-0.5+1.25i");
  EXPECT_EQ(Printed(LinAlgComplex(1.0 / 3, 0)), "0.333333+0i");
}
