// What the real and the complex matrix share, checked for both classes by one
// set of tests: products against plain loops, solver dispatch and residuals,
// inverse, SVD and failure results; and the real products without columns.
#include <algorithm>
#include <cmath>
#include <random>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

double Uniform(std::mt19937& gen) { return std::uniform_real_distribution<double>(-1.0, 1.0)(gen); }
double Modulus(double x) { return std::fabs(x); }
double Modulus(const LinAlgComplex& z) { return z.Power(); }
double Conj(double x) { return x; }
LinAlgComplex Conj(const LinAlgComplex& z) { return z.Conjugate(); }

struct Real {
  using Matrix = LinAlgMatrixReal; using Vector = LinAlgVectorReal; using Scalar = double;
  static Matrix Zeros(int m, int n) { return Matrix(m, n, 0.0); }
  static Vector Zeros(int m) { return Vector(m, 0.0); }
  static double Random(std::mt19937& gen) { return Uniform(gen); }
};

struct Complex {
  using Matrix = LinAlgMatrixComplex; using Vector = LinAlgVectorComplex; using Scalar = LinAlgComplex;
  static Matrix Zeros(int m, int n) { return Matrix(m, n); }
  static Vector Zeros(int m) { return Vector(m); }
  static LinAlgComplex Random(std::mt19937& gen) { const double re = Uniform(gen); return LinAlgComplex(re, Uniform(gen)); }
};

// Entry i of A x - b by plain loops, independent of BLAS.
template <class M, class V>
auto Residual(const M& a, const V& x, const V& b, int i) {
  auto r = -b(i);
  for (int j = 0; j < a.Cols(); ++j) r += a(i, j) * x(j);
  return r;
}

template <class K>
class LinAlgMatrixCommon : public testing::Test {
 protected:
  // Seeded entries in (-1, 1), plus `diagonal` on the diagonal.
  typename K::Matrix RandomMatrix(int m, int n, double diagonal = 0.0) {
    auto a = K::Zeros(m, n);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < m; ++i) a(i, j) = K::Random(gen) + (i == j ? diagonal : 0.0);
    return a;
  }
  typename K::Vector RandomVector(int m) {
    auto v = K::Zeros(m);
    for (int i = 0; i < m; ++i) v(i) = K::Random(gen);
    return v;
  }

  std::mt19937 gen{7};
};

using Kinds = testing::Types<Real, Complex>;
TYPED_TEST_SUITE(LinAlgMatrixCommon, Kinds);

TYPED_TEST(LinAlgMatrixCommon, ProductsMatchLoops) {
  auto a = this->RandomMatrix(4, 3), b = this->RandomMatrix(3, 5), c = TypeParam::Zeros(4, 5);
  auto x = this->RandomVector(3), y = TypeParam::Zeros(4);
  a.Multiply(b, c);
  a.Multiply(x, y);
  for (int i = 0; i < 4; ++i) EXPECT_LT(Modulus(Residual(a, x, y, i)), 1e-14) << i;
  for (int e = 0; e < 20; ++e) {  // entry (e % 4, e / 4)
    auto s = -c(e % 4, e / 4);
    for (int k = 0; k < 3; ++k) s += a(e % 4, k) * b(k, e / 4);
    EXPECT_LT(Modulus(s), 1e-14) << e;
  }
}

// Square systems take the LU path (b unchanged), tall ones least squares (the
// solution comes through b); both satisfy the normal equations A^H (A x - b) = 0.
TYPED_TEST(LinAlgMatrixCommon, SolveDispatchesByShapeAndSatisfiesNormalEquations) {
  for (const auto& [m, n] : {std::make_pair(1, 1), {2, 2}, {5, 5}, {17, 17}, {64, 64}, {3, 2}, {8, 3}, {13, 4}}) {
    auto a = this->RandomMatrix(m, n, n), original(a);
    auto b = this->RandomVector(m), bBefore(b), x = TypeParam::Zeros(n);
    ASSERT_TRUE(a.Solve(b, x)) << m << "x" << n;
    for (int j = 0; j < n; ++j) {
      typename TypeParam::Scalar g{};
      for (int i = 0; i < m; ++i) g += Conj(original(i, j)) * Residual(original, x, bBefore, i);
      EXPECT_TRUE(Modulus(g) < 1e-10 && (m > n ? x(j) == b(j) : b(j) == bBefore(j))) << m << "x" << n << ": " << Modulus(g);
    }
  }
}

TYPED_TEST(LinAlgMatrixCommon, InverseOrReportedFailure) {
  for (int n : {1, 3, 10, 40}) {
    auto a = this->RandomMatrix(n, n, 2.0), inv(a), prod = TypeParam::Zeros(n, n);
    ASSERT_TRUE(inv.Inverse());
    inv.Multiply(a, prod);
    for (int e = 0; e < n * n; ++e) EXPECT_LT(Modulus(prod(e % n, e / n) - (e % n == e / n ? 1.0 : 0.0)), 1e-12) << n;
  }
  // singular square systems fail with a message instead of stopping the program
  auto a = TypeParam::Zeros(2, 2), tall = TypeParam::Zeros(3, 2);
  a(0, 0) = 1; a(0, 1) = 2; a(1, 0) = 2; a(1, 1) = 4;
  auto b = this->RandomVector(2), x = TypeParam::Zeros(2), b3 = this->RandomVector(3);
  EXPECT_FALSE(typename TypeParam::Matrix(a).Inverse());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(a.SolveLUDestructive(b, x));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[ERROR] Error solving system of equations: 2\n");
  // rank-deficient least squares: failure, x untouched
  tall(0, 0) = tall(1, 0) = tall(2, 0) = x(0) = 7;
  EXPECT_TRUE(!tall.LeastSquaresQRDestructive(b3, x) && x(0) == 7.0);
}

TYPED_TEST(LinAlgMatrixCommon, SVDReconstructsWithDescendingValues) {
  for (const auto& [m, n] : {std::make_pair(6, 6), {3, 5}, {6, 2}, {16, 6}}) {
    const int k = std::min(m, n);
    auto a = this->RandomMatrix(m, n), work(a), U = TypeParam::Zeros(m, m), Vt = TypeParam::Zeros(n, n);
    auto S = TypeParam::Zeros(k);
    ASSERT_TRUE(work.SVDDecomposeDestructive(U, S, Vt));
    for (int l = 1; l < k; ++l) EXPECT_GE(Modulus(S(l - 1)), Modulus(S(l))) << m << "x" << n;
    for (int e = 0; e < m * n; ++e) {  // entry (e % m, e / m)
      auto s = -a(e % m, e / m);
      for (int l = 0; l < k; ++l) s += U(e % m, l) * S(l) * Vt(l, e / m);
      EXPECT_LT(Modulus(s), 1e-12) << m << "x" << n << ": " << e;
    }
  }
}

}  // namespace

// No columns (real matrices only: complex vectors have at least one entry):
// the products are zero.
TEST(LinAlgMatrixReal, ProductWithNoColumnsIsZero) {
  LinAlgMatrixReal a(3, 0, 0.0), empty(0, 2, 0.0), c(3, 2, 7.0);
  LinAlgVectorReal none(0, 0.0), y(3, 7.0);
  a.Multiply(none, y);
  a.Multiply(empty, c);
  for (int e = 0; e < 6; ++e) EXPECT_EQ(std::fabs(c(e % 3, e / 3)) + std::fabs(y(e % 3)), 0.0) << e;
}
