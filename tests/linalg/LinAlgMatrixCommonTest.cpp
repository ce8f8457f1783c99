// What the real and the complex matrix share, checked for both classes by one
// set of tests: products against plain loops, solver dispatch and residuals,
// inverse, SVD, failure results, the workspace caches and the exact dump texts.
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

double Uniform(std::mt19937& gen) { return std::uniform_real_distribution<double>(-1.0, 1.0)(gen); }
void Draw(double& x, std::mt19937& gen) { x = Uniform(gen); }
void Draw(LinAlgComplex& z, std::mt19937& gen) { z = LinAlgComplex(Uniform(gen), Uniform(gen)); }
double Modulus(double x) { return std::fabs(x); }
double Modulus(const LinAlgComplex& z) { return z.Power(); }
double Conj(double x) { return x; }
LinAlgComplex Conj(const LinAlgComplex& z) { return z.Conjugate(); }

struct Real {
  using Matrix = LinAlgMatrixReal;
  using Vector = LinAlgVectorReal;
  using Scalar = double;
  static Matrix Zeros(int m, int n) { return Matrix(m, n, 0.0); }
  static Vector Zeros(int m) { return Vector(m, 0.0); }
};

struct Complex {
  using Matrix = LinAlgMatrixComplex;
  using Vector = LinAlgVectorComplex;
  using Scalar = LinAlgComplex;
  static Matrix Zeros(int m, int n) { return Matrix(m, n); }
  static Vector Zeros(int m) { return Vector(m); }
};

template <class K>
class LinAlgMatrixCommon : public testing::Test {
 protected:
  using Matrix = typename K::Matrix;
  using Vector = typename K::Vector;
  // Seeded entries in (-1, 1), plus `diagonal` on the diagonal.
  Matrix RandomMatrix(int m, int n, double diagonal = 0.0) {
    Matrix a = K::Zeros(m, n);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < m; ++i) Draw(a(i, j), gen);
    for (int i = 0; i < std::min(m, n); ++i) a(i, i) += diagonal;
    return a;
  }
  Vector RandomVector(int m) {
    Vector v = K::Zeros(m);
    for (int i = 0; i < m; ++i) Draw(v(i), gen);
    return v;
  }
  // A x - b by plain loops, independent of BLAS.
  static Vector Residual(const Matrix& a, const Vector& x, const Vector& b) {
    Vector r = K::Zeros(a.Rows());
    for (int i = 0; i < a.Rows(); ++i) {
      for (int j = 0; j < a.Cols(); ++j) r(i) += a(i, j) * x(j);
      r(i) -= b(i);
    }
    return r;
  }
  static double Length(const Vector& v) {
    double s = 0;
    for (int i = 0; i < v.Rows(); ++i) s += Modulus(v(i)) * Modulus(v(i));
    return std::sqrt(s);
  }

  std::mt19937 gen{7};
};

using Kinds = testing::Types<Real, Complex>;
TYPED_TEST_SUITE(LinAlgMatrixCommon, Kinds);

TYPED_TEST(LinAlgMatrixCommon, ProductsMatchLoops) {
  auto a = this->RandomMatrix(4, 3), b = this->RandomMatrix(3, 5), c = TypeParam::Zeros(4, 5);
  a.Multiply(b, c);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 5; ++j) {
      typename TypeParam::Scalar s{};
      for (int k = 0; k < 3; ++k) s += a(i, k) * b(k, j);
      EXPECT_LT(Modulus(c(i, j) - s), 1e-14) << i << "," << j;
    }
  auto x = this->RandomVector(3), y = TypeParam::Zeros(4);
  a.Multiply(x, y);
  EXPECT_LT(this->Length(this->Residual(a, x, y)), 1e-14);
}

// Square systems take the LU path (b unchanged), tall ones least squares (the
// solution comes through b); both satisfy the normal equations A^H (A x - b) = 0.
TYPED_TEST(LinAlgMatrixCommon, SolveDispatchesByShapeAndSatisfiesNormalEquations) {
  const int shapes[][2] = {{1, 1}, {2, 2}, {5, 5}, {17, 17}, {64, 64}, {3, 2}, {8, 3}, {13, 4}};
  for (const auto& shape : shapes) {
    const int m = shape[0], n = shape[1];
    auto a = this->RandomMatrix(m, n, n);
    auto b = this->RandomVector(m), x = TypeParam::Zeros(n);
    const auto original(a);
    const auto bBefore(b);
    ASSERT_TRUE(a.Solve(b, x)) << m << "x" << n;
    const auto r = this->Residual(original, x, bBefore);
    for (int j = 0; j < n; ++j) {
      typename TypeParam::Scalar g{};
      for (int i = 0; i < m; ++i) g += Conj(original(i, j)) * r(i);
      EXPECT_LT(Modulus(g), 1e-10 * this->Length(bBefore)) << m << "x" << n;
      EXPECT_TRUE(m > n ? x(j) == b(j) : b(j) == bBefore(j)) << m << "x" << n;
    }
  }
}

TYPED_TEST(LinAlgMatrixCommon, InverseOrReportedFailure) {
  for (int n : {1, 3, 10, 40}) {
    auto a = this->RandomMatrix(n, n, 2.0), inv(a), prod = TypeParam::Zeros(n, n);
    ASSERT_TRUE(inv.Inverse());
    inv.Multiply(a, prod);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) EXPECT_LT(Modulus(prod(i, j) - (i == j ? 1.0 : 0.0)), 1e-12) << n;
  }
  // singular square systems fail with a message instead of stopping the program
  auto a = TypeParam::Zeros(2, 2);
  a(0, 0) = 1; a(0, 1) = 2; a(1, 0) = 2; a(1, 1) = 4;
  auto copy(a);
  auto b = this->RandomVector(2), x = TypeParam::Zeros(2);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(a.SolveLUDestructive(b, x));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[ERROR] Error solving system of equations: 2\n");
  EXPECT_FALSE(copy.Inverse());
  // rank-deficient least squares: failure, x untouched
  auto tall = TypeParam::Zeros(3, 2);
  auto b3 = this->RandomVector(3), x2 = TypeParam::Zeros(2);
  for (int i = 0; i < 3; ++i) tall(i, 0) = 1;
  x2(0) = 7;
  EXPECT_FALSE(tall.LeastSquaresQRDestructive(b3, x2));
  EXPECT_TRUE(x2(0) == 7.0);
}

TYPED_TEST(LinAlgMatrixCommon, SVDReconstructsWithDescendingValues) {
  const int shapes[][2] = {{6, 6}, {3, 5}, {6, 2}, {16, 6}};
  for (const auto& shape : shapes) {
    const int m = shape[0], n = shape[1], k = std::min(m, n);
    auto a = this->RandomMatrix(m, n), work(a), U = TypeParam::Zeros(m, m), Vt = TypeParam::Zeros(n, n);
    auto S = TypeParam::Zeros(k);
    ASSERT_TRUE(work.SVDDecomposeDestructive(U, S, Vt));
    for (int l = 1; l < k; ++l) EXPECT_GE(Modulus(S(l - 1)), Modulus(S(l))) << m << "x" << n;
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) {
        typename TypeParam::Scalar s{};
        for (int l = 0; l < k; ++l) s += U(i, l) * S(l) * Vt(l, j);
        EXPECT_LT(Modulus(s - a(i, j)), 1e-12) << m << "x" << n << ": " << i << "," << j;
      }
  }
}

// Every cache: one buffer per exact (slot, size), contents kept between users,
// never replaced by a later, larger request.
TEST(LinAlgWorkspaces, SharedPerExactSlotAndSize) {
  auto check = [](auto get, const char* which) {
    auto* buffer = get(37, 3);
    buffer[36] = 42;
    get(38, 3);
    EXPECT_TRUE(get(37, 3) == buffer && buffer[36] == 42) << which;
    EXPECT_TRUE(get(37, 5) != buffer && get(36, 3) != buffer) << which;
  };
  check(LinAlgMatrixReal::GetLapackWorkspace, "real");
  check(LinAlgMatrixReal::GetLapackIntWorkspace, "real int");
  check(LinAlgMatrixComplex::GetLapackComplexWorkspace, "complex");
  check(LinAlgMatrixComplex::GetLapackWorkspace, "complex's real");
  check(LinAlgMatrixComplex::GetLapackIntWorkspace, "complex's int");
  // the complex matrix's caches are its own; its complex buffers start at 0 + 0i
  EXPECT_TRUE(LinAlgMatrixReal::GetLapackWorkspace(23, 7) != LinAlgMatrixComplex::GetLapackWorkspace(23, 7) &&
              LinAlgMatrixReal::GetLapackIntWorkspace(23, 7) != LinAlgMatrixComplex::GetLapackIntWorkspace(23, 7));
  EXPECT_TRUE(LinAlgMatrixComplex::GetLapackComplexWorkspace(29, 7)[28] == LinAlgComplex(0, 0));
}

// Every dump writes exactly these texts (no line end where none is shown).
TEST(LinAlgDumps, ExactTexts) {
  LinAlgMatrixReal r(2, 2, 0.0);
  r(0, 0) = 0.001; r(0, 1) = 0.01; r(1, 0) = -0.5; r(1, 1) = 4;  // 0.01 itself is printed
  const LinAlgVectorReal v(std::vector<double>{0.001, -2, 1.0 / 3});
  LinAlgMatrixComplex z(2, 2);
  z(0, 0) = LinAlgComplex(1, 2); z(0, 1) = LinAlgComplex(0.001, 0);
  z(1, 0) = LinAlgComplex(-1, -0.5); z(1, 1) = LinAlgComplex(0, 0.01);
  LinAlgVectorComplex w(3);
  w(0) = LinAlgComplex(1, 0); w(1) = LinAlgComplex(2, -3); w(2) = LinAlgComplex(0.5, 0.25);
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { r.PrintMatlab(); }, "[0.001 0.01 ;-0.5 4 ]"},
      {[&] { r.PrintMatrix(0.01); }, "[\t0*\t0.01\t]\n[\t-0.5\t4\t]\n\n"},
      {[&] { v.PrintMatlab(0.01); }, "[ 0 -2 0.333333 ]"},
      {[&] { z.PrintMatrix(0.01); }, "[\t1+2i\t0*\t]\n[\t-1-0.5i\t0+0.01i\t]\n\n"},
      {[&] { z.PrintMatlab(); }, "[[1+2i, 0.001];[-1-0.5i, 0+0.01i];]"},
      {[&] { w.PrintMatlab(); }, "[ 1, 2-3i, 0.5+0.25i]"},
      {[] { LinAlgComplex(1, -2).PrintComplex(); }, "1-2i"},
      {[] { LinAlgComplex(1, 0).PrintComplex(); }, "1+0i"},
      {[] { LinAlgComplex(-0.5, 1.25).PrintComplex(); }, "-0.5+1.25i"},
      {[] { LinAlgComplex(1.0 / 3, 0).PrintComplex(); }, "0.333333+0i"},
  };
  for (const auto& c : cases) {
    warpix_test::CoutCapture capture;
    c.first();
    EXPECT_EQ(capture.str(), c.second);
  }
}

}  // namespace
