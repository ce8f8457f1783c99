#include <algorithm>
#include <cmath>
#include <random>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"

namespace {

LinAlgMatrixComplex RandomMatrix(int m, int n, std::mt19937& gen) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  LinAlgMatrixComplex a(m, n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) a(i, j) = LinAlgComplex(dist(gen), dist(gen));
  return a;
}

LinAlgVectorComplex RandomVector(int m, std::mt19937& gen) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  LinAlgVectorComplex v(m);
  for (int i = 0; i < m; ++i) v(i) = LinAlgComplex(dist(gen), dist(gen));
  return v;
}

// A x by plain loops, independent of CBLAS.
LinAlgVectorComplex Apply(const LinAlgMatrixComplex& a, const LinAlgVectorComplex& x) {
  LinAlgVectorComplex y(a.Rows());
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Cols(); ++j) y(i) += a(i, j) * x(j);
  return y;
}

double Length(const LinAlgVectorComplex& v) {
  double s = 0;
  for (int i = 0; i < v.Rows(); ++i) s += v(i).Power() * v(i).Power();
  return std::sqrt(s);
}

template <class F>
std::string Printed(F print) {
  warpix_test::CoutCapture capture;
  print();
  return capture.str();
}

}  // namespace

TEST(LinAlgMatrixComplex, ProductsMatchLoops) {
  std::mt19937 gen{11};
  LinAlgMatrixComplex a = RandomMatrix(8, 8, gen), b = RandomMatrix(8, 3, gen), c(8, 3);
  a.Multiply(b, c);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 3; ++j) {
      LinAlgComplex s;
      for (int k = 0; k < 8; ++k) s += a(i, k) * b(k, j);
      EXPECT_LT((c(i, j) - s).Power(), 1e-14) << i << "," << j;
    }
  LinAlgVectorComplex x = RandomVector(8, gen), y(8);
  a.Multiply(x, y);
  const LinAlgVectorComplex expected = Apply(a, x);
  for (int i = 0; i < 8; ++i) EXPECT_LT((y(i) - expected(i)).Power(), 1e-14) << i;
}

TEST(LinAlgMatrixComplex, LUSolveResidualIsSmallAndLeavesBUnchanged) {
  std::mt19937 gen{12};
  for (int n : {1, 2, 4, 13, 50}) {
    LinAlgMatrixComplex a = RandomMatrix(n, n, gen);
    for (int i = 0; i < n; ++i) a(i, i) += static_cast<double>(n);
    const LinAlgMatrixComplex original(a);
    LinAlgVectorComplex b = RandomVector(n, gen), x(n);
    const LinAlgVectorComplex bBefore(b);
    ASSERT_TRUE(a.Solve(b, x)) << n;
    LinAlgVectorComplex r = Apply(original, x);
    for (int i = 0; i < n; ++i) {
      EXPECT_TRUE(b(i) == bBefore(i)) << n;
      r(i) -= bBefore(i);
    }
    EXPECT_LT(Length(r), 1e-10 * Length(bBefore)) << n;
  }
}

TEST(LinAlgMatrixComplex, LeastSquaresSatisfiesNormalEquations) {
  std::mt19937 gen{13};
  for (int shape : {0, 1, 2}) {
    const int m = 3 + 5 * shape, n = 2 + shape;
    LinAlgMatrixComplex a = RandomMatrix(m, n, gen);
    const LinAlgMatrixComplex original(a);
    LinAlgVectorComplex b = RandomVector(m, gen), x(n);
    const LinAlgVectorComplex bBefore(b);
    ASSERT_TRUE(a.Solve(b, x));
    // optimality: A^H (A x - b) = 0
    LinAlgVectorComplex r = Apply(original, x);
    for (int i = 0; i < m; ++i) r(i) -= bBefore(i);
    for (int j = 0; j < n; ++j) {
      LinAlgComplex g;
      for (int i = 0; i < m; ++i) g += original(i, j).Conjugate() * r(i);
      EXPECT_LT(g.Power(), 1e-10 * Length(bBefore)) << m << "x" << n;
    }
  }
}

TEST(LinAlgMatrixComplex, InverseAndSingularFailure) {
  std::mt19937 gen{14};
  for (int n : {1, 2, 8}) {
    LinAlgMatrixComplex a = RandomMatrix(n, n, gen);
    for (int i = 0; i < n; ++i) a(i, i) += 2.0;
    LinAlgMatrixComplex inv(a), prod(n, n);
    ASSERT_TRUE(inv.Inverse());
    inv.Multiply(a, prod);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        EXPECT_LT((prod(i, j) - LinAlgComplex(i == j ? 1 : 0, 0)).Power(), 1e-12) << n;
  }
  // rows that differ by the factor i: singular at the second pivot
  LinAlgMatrixComplex s(2, 2);
  s(0, 0) = LinAlgComplex(1, 0); s(0, 1) = LinAlgComplex(2, 0);
  s(1, 0) = LinAlgComplex(0, 1); s(1, 1) = LinAlgComplex(0, 2);
  LinAlgMatrixComplex copy(s);
  LinAlgVectorComplex b(2), x(2);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(s.SolveLUDestructive(b, x));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[ERROR] Error solving system of equations: 2\n");
  EXPECT_FALSE(copy.Inverse());
}

TEST(LinAlgMatrixComplex, SVDReconstructsWithDescendingValues) {
  std::mt19937 gen{15};
  for (int m : {8, 16, 3}) {
    const int n = 6, k = std::min(m, n);
    LinAlgMatrixComplex a = RandomMatrix(m, n, gen), work(a), U(m, m), Vt(n, n);
    LinAlgVectorComplex S(k);
    ASSERT_TRUE(work.SVDDecomposeDestructive(U, S, Vt));
    for (int i = 1; i < k; ++i) EXPECT_GE(S(i - 1).Re(), S(i).Re());
    for (int i = 0; i < k; ++i) EXPECT_EQ(S(i).Im(), 0.0);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) {
        LinAlgComplex s;
        for (int l = 0; l < k; ++l) s += U(i, l) * S(l) * Vt(l, j);
        EXPECT_LT((s - a(i, j)).Power(), 1e-12) << m << ": " << i << "," << j;
      }
  }
}

TEST(LinAlgMatrixComplex, ElementWiseNormAndExtrema) {
  LinAlgMatrixComplex a(2, 2), c(2, 2), p(2, 2);
  a(0, 0) = LinAlgComplex(3, 4); a(0, 1) = LinAlgComplex(0, -1);
  a(1, 0) = LinAlgComplex(-2, 0); a(1, 1) = LinAlgComplex(0, 0);
  EXPECT_DOUBLE_EQ(a.Norm(), std::sqrt(25.0 + 1 + 4));
  EXPECT_EQ(a.GetMax(), 5.0);
  EXPECT_EQ(a.GetMin(), 0.0);
  a.Conj(c);
  a.PointwiseMultiply(c, p);  // z * conj(z) = |z|^2
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      EXPECT_TRUE(c(i, j) == a(i, j).Conjugate());
      EXPECT_NEAR(p(i, j).Re(), a(i, j).Power() * a(i, j).Power(), 1e-14);
      EXPECT_EQ(p(i, j).Im(), 0.0);
    }
  LinAlgMatrixComplex b(a);
  b.AddMatrix(a);
  b.MultiplyByReal(0.5);
  b.SetValue(1, 1, LinAlgComplex(1, 1));
  EXPECT_TRUE(b.GetValue(0, 0) == LinAlgComplex(3, 4));
  EXPECT_TRUE(b(1, 1) == LinAlgComplex(1, 1));
}

TEST(LinAlgMatrixComplex, WorkspaceCacheIdentity) {
  LinAlgComplex* z = LinAlgMatrixComplex::GetLapackComplexWorkspace(23, 7);
  EXPECT_TRUE(z[22] == LinAlgComplex(0, 0));  // complex buffers start at zero
  EXPECT_EQ(LinAlgMatrixComplex::GetLapackComplexWorkspace(23, 7), z);
  EXPECT_NE(LinAlgMatrixComplex::GetLapackComplexWorkspace(23, 8), z);
  EXPECT_NE(LinAlgMatrixComplex::GetLapackComplexWorkspace(24, 7), z);
  int* k = LinAlgMatrixComplex::GetLapackIntWorkspace(23, 7);
  EXPECT_EQ(LinAlgMatrixComplex::GetLapackIntWorkspace(23, 7), k);
  EXPECT_NE(LinAlgMatrixComplex::GetLapackIntWorkspace(23, 6), k);
  // the complex matrix's caches are its own
  EXPECT_NE(LinAlgMatrixReal::GetLapackWorkspace(23, 7), LinAlgMatrixComplex::GetLapackWorkspace(23, 7));
}

TEST(LinAlgMatrixComplex, PrintFormats) {
  LinAlgMatrixComplex a(2, 2);
  a(0, 0) = LinAlgComplex(1, 2); a(0, 1) = LinAlgComplex(0.001, 0);
  a(1, 0) = LinAlgComplex(-1, -0.5); a(1, 1) = LinAlgComplex(0, 0.01);
  EXPECT_EQ(Printed([&] { a.PrintMatrix(0.01); }), "[\t1+2i\t0*\t]\n[\t-1-0.5i\t0+0.01i\t]\n\n");
  EXPECT_EQ(Printed([&] { a.PrintMatlab(); }), "[[1+2i, 0.001];[-1-0.5i, 0+0.01i];]");
  LinAlgVectorComplex v(3);
  v(0) = LinAlgComplex(1, 0); v(1) = LinAlgComplex(2, -3); v(2) = LinAlgComplex(0.5, 0.25);
  EXPECT_EQ(Printed([&] { v.PrintMatlab(); }), "[ 1, 2-3i, 0.5+0.25i]");
}

TEST(LinAlgMatrixComplexDeathTest, ShapeAndIndexErrorsAreFatal) {
  LinAlgMatrixComplex wide(2, 3), square(2, 2), tall(3, 2);
  LinAlgVectorComplex b2(2), x3(3), x2(2);
  EXPECT_DEATH(wide.Solve(b2, x3), "false");
  EXPECT_DEATH(wide(0, 3), "i<m && i>=0 && j<n && j>=0");
  EXPECT_DEATH(square = wide, "Rows\\(\\)==src\\.Rows\\(\\) && Cols\\(\\)==src\\.Cols\\(\\)");
  EXPECT_DEATH(square.AddMatrix(tall), "Rows\\(\\)==m2\\.Rows\\(\\)");
  EXPECT_DEATH(square.Multiply(wide, square), "m==trg\\.m && m2\\.n==trg\\.n");
  EXPECT_DEATH(wide.Multiply(wide, square), "m2\\.m==n");
  EXPECT_DEATH(wide.Multiply(b2, x2), "n==v\\.m && m==trg\\.m");
  EXPECT_DEATH(tall.Inverse(), "m==n");
  EXPECT_DEATH(square.SolveLUDestructive(x3, x2), "m==n && b\\.m==m && xVec\\.m==m");
  EXPECT_DEATH(tall.LeastSquaresQRDestructive(b2, x2), "m==b\\.m && n==x\\.m");
  EXPECT_DEATH(tall.SVDDecomposeDestructive(square, b2, square), "U\\.m==m && U\\.n==m");
  EXPECT_DEATH(wide.PointwiseMultiply(wide, square), "i<m && i>=0 && j<n && j>=0");  // target too small
  EXPECT_DEATH(LinAlgVectorComplex(0), "m>0");
}
