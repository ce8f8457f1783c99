#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

LinAlgMatrixReal RandomMatrix(int m, int n, std::mt19937& gen) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  LinAlgMatrixReal a(m, n, 0.0);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) a(i, j) = dist(gen);
  return a;
}

LinAlgVectorReal RandomVector(int m, std::mt19937& gen) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  LinAlgVectorReal v(m, 0.0);
  for (int i = 0; i < m; ++i) v(i) = dist(gen);
  return v;
}

// Product by plain loops, independent of CBLAS.
std::vector<double> Apply(const LinAlgMatrixReal& a, const LinAlgVectorReal& x) {
  std::vector<double> y(a.Rows(), 0.0);
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Cols(); ++j) y[i] += a(i, j) * x(j);
  return y;
}

double Length(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x * x;
  return std::sqrt(s);
}

template <class F>
std::string Printed(F print) {
  warpix_test::CoutCapture capture;
  print();
  return capture.str();
}

}  // namespace

TEST(LinAlgMatrixReal, StorageIsColumnMajorAndProductsMatchLoops) {
  std::mt19937 gen{1};
  LinAlgMatrixReal a = RandomMatrix(4, 3, gen), b = RandomMatrix(3, 5, gen);
  LinAlgMatrixReal c = a * b;
  ASSERT_EQ(c.Rows(), 4);
  ASSERT_EQ(c.Cols(), 5);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 5; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += a(i, k) * b(k, j);
      EXPECT_NEAR(c(i, j), s, 1e-14) << i << "," << j;
    }
  LinAlgVectorReal x = RandomVector(3, gen), y(4, 0.0);
  a.Multiply(x, y);
  warpix_test::expectNear(y.ToVector(), Apply(a, x), 1e-14, "gemv");

  // a 2 x 3 matrix in a binary file is its six doubles in column order
  LinAlgMatrixReal m(2, 3, 0.0);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) m(i, j) = 10 * i + j;
  warpix_test::TempFile file("matrix.bin");
  EXPECT_EQ(m.WriteMatrixBin(file.c_str()), 1);
  const std::string bytes = file.read();
  ASSERT_EQ(bytes.size(), 48u);
  const double expected[6] = {0, 10, 1, 11, 2, 12};
  EXPECT_EQ(std::memcmp(bytes.data(), expected, 48), 0);
}

TEST(LinAlgMatrixReal, LUSolveResidualIsSmallAndLeavesBUnchanged) {
  std::mt19937 gen{2};
  for (int n : {1, 2, 5, 17, 64}) {
    LinAlgMatrixReal a = RandomMatrix(n, n, gen);
    for (int i = 0; i < n; ++i) a(i, i) += n;  // well conditioned
    const LinAlgMatrixReal original(a);
    LinAlgVectorReal b = RandomVector(n, gen), x(n, 0.0);
    const std::vector<double> bBefore = b.ToVector();
    ASSERT_TRUE(a.Solve(b, x)) << n;
    EXPECT_EQ(b.ToVector(), bBefore) << n;
    std::vector<double> r = Apply(original, x);
    for (int i = 0; i < n; ++i) r[i] -= bBefore[i];
    EXPECT_LT(Length(r), 1e-10 * Length(bBefore)) << n;
  }
}

TEST(LinAlgMatrixReal, LeastSquaresSatisfiesNormalEquations) {
  std::mt19937 gen{3};
  for (int shape : {0, 1, 2}) {
    const int m = 3 + 5 * shape, n = 2 + shape;
    LinAlgMatrixReal a = RandomMatrix(m, n, gen);
    const LinAlgMatrixReal original(a);
    LinAlgVectorReal b = RandomVector(m, gen), x(n, 0.0);
    const LinAlgVectorReal bBefore(b);
    ASSERT_TRUE(a.Solve(b, x));  // m > n takes the QR path
    // optimality: A^T (A x - b) = 0
    std::vector<double> r = Apply(original, x);
    for (int i = 0; i < m; ++i) r[i] -= bBefore(i);
    for (int j = 0; j < n; ++j) {
      double g = 0;
      for (int i = 0; i < m; ++i) g += original(i, j) * r[i];
      EXPECT_LT(std::fabs(g), 1e-10 * Length(bBefore.ToVector())) << m << "x" << n;
    }
  }
  // an exactly consistent 3 x 2 system: x is found exactly and b is overwritten
  LinAlgMatrixReal a(3, 2, 0.0);
  a(0, 0) = 1; a(1, 1) = 1; a(2, 0) = 1; a(2, 1) = 1;
  LinAlgVectorReal b(std::vector<double>{2, 3, 5}), x(2, 0.0);
  ASSERT_TRUE(a.Solve(b, x));
  EXPECT_NEAR(x(0), 2, 1e-14);
  EXPECT_NEAR(x(1), 3, 1e-14);
  EXPECT_NE(b.ToVector(), (std::vector<double>{2, 3, 5}));
}

TEST(LinAlgMatrixReal, InverseTimesMatrixIsIdentity) {
  std::mt19937 gen{4};
  for (int n : {1, 3, 10, 40}) {
    LinAlgMatrixReal a = RandomMatrix(n, n, gen);
    for (int i = 0; i < n; ++i) a(i, i) += 2;
    LinAlgMatrixReal inv(a);
    ASSERT_TRUE(inv.Inverse());
    LinAlgMatrixReal prod = inv * a;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) EXPECT_NEAR(prod(i, j), i == j ? 1.0 : 0.0, 1e-12) << n;
  }
}

TEST(LinAlgMatrixReal, SingularSystemsReportFailureWithoutStopping) {
  LinAlgMatrixReal a(2, 2, 0.0);
  a(0, 0) = 1; a(0, 1) = 2; a(1, 0) = 2; a(1, 1) = 4;
  LinAlgMatrixReal copy(a);
  LinAlgVectorReal b(2, 1.0), x(2, 0.0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(a.SolveLUDestructive(b, x));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[ERROR] Error solving system of equations: 2\n");
  EXPECT_FALSE(copy.Inverse());
  // rank-deficient least squares: failure, x untouched
  LinAlgMatrixReal tall(3, 2, 0.0);
  for (int i = 0; i < 3; ++i) tall(i, 0) = 1;
  LinAlgVectorReal b3(3, 1.0), x2(2, 7.0);
  EXPECT_FALSE(tall.LeastSquaresQRDestructive(b3, x2));
  EXPECT_EQ(x2(0), 7.0);
}

TEST(LinAlgMatrixReal, SVDReconstructsWithDescendingValues) {
  std::mt19937 gen{5};
  for (int shape : {0, 1, 2}) {
    const int m = shape == 1 ? 3 : 6, n = shape == 2 ? 2 : (shape == 1 ? 5 : 6);
    LinAlgMatrixReal a = RandomMatrix(m, n, gen), work(a);
    LinAlgMatrixReal U(m, m, 0.0), Vt(n, n, 0.0);
    LinAlgVectorReal S(std::min(m, n), 0.0);
    ASSERT_TRUE(work.SVDDecomposeDestructive(U, S, Vt));
    for (int k = 1; k < S.Rows(); ++k) EXPECT_GE(S(k - 1), S(k));
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) {
        double s = 0;
        for (int k = 0; k < S.Rows(); ++k) s += U(i, k) * S(k) * Vt(k, j);
        EXPECT_NEAR(s, a(i, j), 1e-12) << m << "x" << n;
      }
  }
}

TEST(LinAlgMatrixReal, EigenvaluesOrderedByMagnitudeWithTheirVectors) {
  // A = Q diag(-3, 1, 2) Q^T with Q a rotation about z by 30 degrees
  const double c = std::cos(0.5235987755982988), s = std::sin(0.5235987755982988);
  const double q[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
  const double lambda[3] = {-3, 1, 2};
  LinAlgMatrixReal a(3, 3, 0.0);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) a(i, j) += q[i][k] * lambda[k] * q[j][k];
  const LinAlgMatrixReal before(a);
  LinAlgVectorReal values(3, 0.0);
  LinAlgMatrixReal vectors(3, 3, 0.0);
  ASSERT_TRUE(a.EigendecompositionSymmetric(values, vectors));
  warpix_test::expectNear(values.ToVector(), {-3, 2, 1}, 1e-12, "eigenvalues");
  for (int k = 0; k < 3; ++k) {
    double dot = 0;  // |<v_k, q_k'>| = 1 for the matching column of Q
    const int original = k == 0 ? 0 : (k == 1 ? 2 : 1);
    for (int i = 0; i < 3; ++i) {
      double av = 0;
      for (int j = 0; j < 3; ++j) av += a(i, j) * vectors(j, k);
      EXPECT_NEAR(av, values(k) * vectors(i, k), 1e-12) << k;
      dot += vectors(i, k) * q[i][original];
    }
    EXPECT_NEAR(std::fabs(dot), 1.0, 1e-12) << k;
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(a(i, j), before(i, j));
}

TEST(LinAlgMatrixReal, NormRowNormalizeAndExtremaTies) {
  LinAlgMatrixReal a(2, 2, 0.0);
  a(0, 0) = 1; a(0, 1) = -1; a(1, 0) = 1; a(1, 1) = 3;
  EXPECT_EQ(a.Norm(1), 4.0);   // signs kept
  EXPECT_EQ(a.Norm(2), 12.0);  // no root
  a.RowNormalize();
  EXPECT_EQ(a(0, 0), 1.0);  // a row summing to 0 is left alone
  EXPECT_EQ(a(0, 1), -1.0);
  EXPECT_EQ(a(1, 0), 0.25);
  EXPECT_EQ(a(1, 1), 0.75);

  LinAlgMatrixReal equal(3, 2, 5.0);
  int row = -1, col = -1;
  EXPECT_EQ(equal.GetMax(&row, &col), 5.0);
  EXPECT_EQ(row, 2);
  EXPECT_EQ(col, 1);
  equal(1, 0) = -2;
  equal(0, 1) = -2;
  EXPECT_EQ(equal.GetMin(&row, &col), -2.0);  // row by row: (1, 0) comes after (0, 1)
  EXPECT_EQ(row, 1);
  EXPECT_EQ(col, 0);
  EXPECT_EQ(equal.GetMax(nullptr, nullptr), 5.0);
}

TEST(LinAlgMatrixReal, ElementWiseOperations) {
  LinAlgMatrixReal a(2, 3, 0.0), t(3, 2, 0.0), p(2, 3, 0.0);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) a(i, j) = 1 + i + 2 * j;
  a.Transpose(t);
  a.PointwiseMultiply(a, p);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(t(j, i), a(i, j));
      EXPECT_EQ(p(i, j), a(i, j) * a(i, j));
    }
  LinAlgMatrixReal b(a);
  b.Add(a);
  b.MultiplyBy(0.5);
  b.AddVal(1, 2, 10);
  EXPECT_EQ(b(0, 0), a(0, 0));
  EXPECT_EQ(b(1, 2), a(1, 2) + 10);
  b.SetValues(0);
  EXPECT_EQ(b.Norm(1), 0.0);
}

TEST(LinAlgMatrixReal, WorkspaceCacheIdentity) {
  double* a = LinAlgMatrixReal::GetLapackWorkspace(37, 3);
  a[36] = 42;
  EXPECT_EQ(LinAlgMatrixReal::GetLapackWorkspace(37, 3), a);
  EXPECT_EQ(a[36], 42);  // contents survive between users
  EXPECT_NE(LinAlgMatrixReal::GetLapackWorkspace(37, 5), a);
  EXPECT_NE(LinAlgMatrixReal::GetLapackWorkspace(36, 3), a);  // exact size only
  int* b = LinAlgMatrixReal::GetLapackIntWorkspace(11, 0);
  EXPECT_EQ(LinAlgMatrixReal::GetLapackIntWorkspace(11, 0), b);
  EXPECT_NE(LinAlgMatrixReal::GetLapackIntWorkspace(11, 1), b);
}

TEST(LinAlgMatrixReal, PrintFormats) {
  LinAlgMatrixReal a(2, 2, 0.0);
  a(0, 0) = 1; a(0, 1) = 2; a(1, 0) = 3; a(1, 1) = 4;
  EXPECT_EQ(Printed([&] { a.PrintMatlab(); }), "[1 2 ;3 4 ]");
  a(0, 0) = 0.001; a(0, 1) = 0.01; a(1, 0) = -0.5;
  EXPECT_EQ(Printed([&] { a.PrintMatrix(0.01); }), "[\t0*\t0.01\t]\n[\t-0.5\t4\t]\n\n");
  LinAlgVectorReal v(std::vector<double>{0.001, -2, 1.0 / 3});
  EXPECT_EQ(Printed([&] { v.PrintMatlab(0.01); }), "[ 0 -2 0.333333 ]");
}

TEST(LinAlgMatrixReal, FileRoundTripsAndShortFiles) {
  LinAlgMatrixReal a(2, 3, 0.0);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) a(i, j) = 0.5 * (1 + i) - j;
  warpix_test::TempFile text("matrix.txt"), bin("matrix2.bin");
  EXPECT_EQ(a.WriteMatrixASCII(text.c_str()), 1);
  EXPECT_EQ(text.read(), "0.5 -0.5 -1.5\n1 0 -1\n");  // row-major text
  EXPECT_EQ(a.WriteMatrixBin(bin.c_str()), 1);
  LinAlgMatrixReal fromText(2, 3, 9.0), fromBin(2, 3, 9.0);
  EXPECT_EQ(fromText.ReadMatrixASCII(text.c_str()), 1);
  EXPECT_EQ(fromBin.ReadMatrixBin(bin.c_str()), 1);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(fromText(i, j), a(i, j));
      EXPECT_EQ(fromBin(i, j), a(i, j));
    }
  // a file that does not open, one too short, one with junk: result 0, matrix unchanged
  LinAlgMatrixReal target(2, 3, 9.0);
  EXPECT_EQ(target.ReadMatrixASCII("/nonexistent/warpix.txt"), 0);
  EXPECT_EQ(target.ReadMatrixBin("/nonexistent/warpix.bin"), 0);
  text.write("1 2 3\n4 5\n");
  EXPECT_EQ(target.ReadMatrixASCII(text.c_str()), 0);
  text.write("1 2 3\n4 x 6\n");
  EXPECT_EQ(target.ReadMatrixASCII(text.c_str()), 0);
  bin.write(std::string(47, '\0'));
  EXPECT_EQ(target.ReadMatrixBin(bin.c_str()), 0);
  EXPECT_EQ(target.Norm(1), 54.0);
}

TEST(LinAlgVectorReal, OperationsAndFileRoundTrips) {
  LinAlgVectorReal v(std::vector<double>{3, 4});
  EXPECT_EQ(v.Norm(2), 25.0);
  EXPECT_EQ(LinAlgVectorReal(std::vector<double>{-1, 1}).Norm(1), 0.0);
  LinAlgVectorReal w(2, 1.0);
  w.Add(v);
  w.Multiply(2);
  EXPECT_EQ(w.ToVector(), (std::vector<double>{8, 10}));
  LinAlgVectorReal shorter(1, 0.0);
  shorter = w;  // copies as many elements as it has
  EXPECT_EQ(shorter(0), 8.0);

  warpix_test::TempFile text("vector.txt"), bin("vector.bin");
  EXPECT_EQ(v.WriteVectorASCII(text.c_str()), 1);
  EXPECT_EQ(text.read(), "3 4 ");
  EXPECT_EQ(v.WriteVectorBin(bin.c_str()), 1);
  LinAlgVectorReal a(2, 0.0), b(2, 0.0), three(3, 7.0);
  EXPECT_EQ(a.ReadVectorASCII(text.c_str()) + b.ReadVectorBin(bin.c_str()), 2);
  EXPECT_EQ(a.ToVector(), v.ToVector());
  EXPECT_EQ(b.ToVector(), v.ToVector());
  // short files: result 0, vector unchanged
  EXPECT_EQ(three.ReadVectorASCII(text.c_str()) + three.ReadVectorBin(bin.c_str()), 0);
  EXPECT_EQ(three.ToVector(), (std::vector<double>{7, 7, 7}));
}

TEST(LinAlgMatrixRealDeathTest, ShapeAndIndexErrorsAreFatal) {
  LinAlgMatrixReal a(2, 3, 0.0), square(2, 2, 0.0);
  LinAlgVectorReal b(2, 0.0), x(3, 0.0), v(3, 0.0);
  EXPECT_DEATH(a.Solve(b, x), "false");
  EXPECT_DEATH(a(2, 0), "i<m && i>=0 && j<n && j>=0");
  EXPECT_DEATH(a.MultiplyBy(0), "value!=0");
  EXPECT_DEATH(square = a, "m==src\\.m && n==src\\.n");
  EXPECT_DEATH(a.Add(square), "m==otherMatrix\\.m && n==otherMatrix\\.n");
  EXPECT_DEATH(a.Multiply(a, square), "trg\\.m==m && trg\\.n==m2\\.n && n==m2\\.m");
  EXPECT_DEATH(a.Multiply(b, v), "v\\.m==n && vTrg\\.m==m");
  EXPECT_DEATH(a.Inverse(), "m==n");
  EXPECT_DEATH(v.Add(b), "v2\\.m==m");
  LinAlgMatrixReal U(2, 2, 0.0), Vt(3, 3, 0.0);
  EXPECT_DEATH(a.SVDDecomposeDestructive(U, v, Vt), "S\\.Rows\\(\\)==zelMin\\(m, n\\)");
  EXPECT_DEATH(a.WriteMatrixBin("/nonexistent/warpix.bin"), "file!=NULL");
  EXPECT_DEATH(a.WriteMatrixASCII("/nonexistent/warpix.txt"), "textStream\\.is_open\\(\\)");
}
