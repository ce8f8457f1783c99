#include <cmath>
#include <cstring>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

// A matrix from its rows.
LinAlgMatrixReal FromRows(int m, int n, std::vector<double> rowMajor) {
  LinAlgMatrixReal a(m, n, 0.0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) a(i, j) = rowMajor[i * n + j];
  return a;
}

std::vector<double> RowMajor(const LinAlgMatrixReal& a) {
  std::vector<double> values;
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Cols(); ++j) values.push_back(a(i, j));
  return values;
}

}  // namespace

TEST(LinAlgMatrixReal, ProductWithNoColumnsIsZero) {
  LinAlgMatrixReal a(3, 0, 0.0), empty(0, 2, 0.0), c(3, 2, 7.0);
  LinAlgVectorReal none(0, 0.0), y(3, 7.0);
  a.Multiply(none, y);
  a.Multiply(empty, c);
  EXPECT_EQ(y.ToVector(), std::vector<double>(3, 0.0));
  EXPECT_EQ(RowMajor(c), std::vector<double>(6, 0.0));
}

TEST(LinAlgMatrixReal, EigenvaluesOrderedByMagnitudeWithTheirVectors) {
  // A = Q diag(-3, 1, 2) Q^T with Q a rotation about z by 30 degrees
  const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  const double q[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}}, lambda[3] = {-3, 1, 2};
  LinAlgMatrixReal a(3, 3, 0.0), vectors(3, 3, 0.0);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) a(i, j) += q[i][k] * lambda[k] * q[j][k];
  const std::vector<double> before = RowMajor(a);
  LinAlgVectorReal values(3, 0.0);
  ASSERT_TRUE(a.EigendecompositionSymmetric(values, vectors));
  EXPECT_EQ(RowMajor(a), before);
  warpix_test::expectNear(values.ToVector(), {-3, 2, 1}, 1e-12, "eigenvalues");
  const int column[3] = {0, 2, 1};  // the column of Q each eigenvalue came from
  for (int k = 0; k < 3; ++k) {
    double dot = 0;
    for (int i = 0; i < 3; ++i) dot += vectors(i, k) * q[i][column[k]];
    EXPECT_NEAR(std::fabs(dot), 1.0, 1e-12) << k;
  }
}

TEST(LinAlgMatrixReal, NormRowNormalizeAndExtremaTies) {
  LinAlgMatrixReal a = FromRows(2, 2, {1, -1, 1, 3});
  EXPECT_EQ(a.Norm(1), 4.0);   // signs kept
  EXPECT_EQ(a.Norm(2), 12.0);  // no root
  a.RowNormalize();            // a row summing to 0 is left alone
  EXPECT_EQ(RowMajor(a), (std::vector<double>{1, -1, 0.25, 0.75}));
  EXPECT_EQ(LinAlgVectorReal(std::vector<double>{3, 4}).Norm(2), 25.0);
  EXPECT_EQ(LinAlgVectorReal(std::vector<double>{-1, 1}).Norm(1), 0.0);

  // ties go to the last element in row-by-row order: (1, 0) comes after (0, 1)
  LinAlgMatrixReal equal(3, 2, 5.0);
  int row = -1, col = -1;
  EXPECT_EQ(equal.GetMax(&row, &col), 5.0);
  EXPECT_EQ(std::make_pair(row, col), std::make_pair(2, 1));
  equal(1, 0) = equal(0, 1) = -2;
  EXPECT_EQ(equal.GetMin(&row, &col), -2.0);
  EXPECT_EQ(std::make_pair(row, col), std::make_pair(1, 0));
  EXPECT_EQ(equal.GetMax(&row, &col), 5.0);
  EXPECT_EQ(std::make_pair(row, col), std::make_pair(2, 1));
  EXPECT_EQ(equal.GetMin(nullptr, nullptr), -2.0);
}

TEST(LinAlgMatrixReal, ElementWiseOperations) {
  const LinAlgMatrixReal a = FromRows(2, 3, {1, 2, 3, 4, 5, 6});
  LinAlgMatrixReal b(a), t(3, 2, 0.0), p(2, 3, 0.0);
  b.Transpose(t);
  EXPECT_EQ(RowMajor(t), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  b.PointwiseMultiply(b, p);
  EXPECT_EQ(RowMajor(p), (std::vector<double>{1, 4, 9, 16, 25, 36}));
  b.Add(p);
  b.MultiplyBy(0.5);
  b.AddVal(1, 2, 10);
  EXPECT_EQ(RowMajor(b), (std::vector<double>{1, 3, 6, 10, 15, 31}));
  b.SetValues(0);
  EXPECT_EQ(RowMajor(b), std::vector<double>(6, 0.0));
}

TEST(LinAlgMatrixReal, FilesTextRowMajorBinaryColumnMajor) {
  LinAlgMatrixReal a = FromRows(2, 3, {0.5, -0.5, -1.5, 1, 0, -1});
  warpix_test::TempFile text("matrix.txt"), bin("matrix.bin");
  EXPECT_EQ(a.WriteMatrixASCII(text.c_str()), 1);
  EXPECT_EQ(text.read(), "0.5 -0.5 -1.5\n1 0 -1\n");
  EXPECT_EQ(a.WriteMatrixBin(bin.c_str()), 1);
  const std::string bytes = bin.read();
  const double columnMajor[6] = {0.5, 1, -0.5, 0, -1.5, -1};
  ASSERT_EQ(bytes.size(), 48u);
  EXPECT_EQ(std::memcmp(bytes.data(), columnMajor, 48), 0);
  LinAlgMatrixReal fromText(2, 3, 9.0), fromBin(2, 3, 9.0);
  EXPECT_EQ(fromText.ReadMatrixASCII(text.c_str()) + fromBin.ReadMatrixBin(bin.c_str()), 2);
  EXPECT_EQ(RowMajor(fromText), RowMajor(a));
  EXPECT_EQ(RowMajor(fromBin), RowMajor(a));
  // missing, short or junk files: result 0, matrix unchanged
  LinAlgMatrixReal target(2, 3, 9.0);
  EXPECT_EQ(target.ReadMatrixASCII("/nonexistent/warpix.txt") + target.ReadMatrixBin("/nonexistent/warpix.bin"), 0);
  for (const char* junk : {"1 2 3\n4 5\n", "1 2 3\n4 x 6\n"}) {
    text.write(junk);
    EXPECT_EQ(target.ReadMatrixASCII(text.c_str()), 0) << junk;
  }
  bin.write(std::string(47, '\0'));
  EXPECT_EQ(target.ReadMatrixBin(bin.c_str()), 0);
  EXPECT_EQ(RowMajor(target), std::vector<double>(6, 9.0));
}

TEST(LinAlgVectorReal, OperationsAndFiles) {
  const LinAlgVectorReal v(std::vector<double>{3, 4});
  LinAlgVectorReal w(2, 1.0), shorter(1, 0.0);
  w.Add(v);
  w.Multiply(2);
  EXPECT_EQ(w.ToVector(), (std::vector<double>{8, 10}));
  shorter = w;  // copies as many elements as it has
  EXPECT_EQ(shorter.ToVector(), std::vector<double>{8});

  warpix_test::TempFile text("vector.txt"), bin("vector.bin");
  EXPECT_EQ(v.WriteVectorASCII(text.c_str()) + v.WriteVectorBin(bin.c_str()), 2);
  EXPECT_EQ(text.read(), "3 4 ");
  EXPECT_EQ(bin.read().size(), 16u);
  LinAlgVectorReal a(2, 0.0), b(2, 0.0), three(3, 7.0);
  EXPECT_EQ(a.ReadVectorASCII(text.c_str()) + b.ReadVectorBin(bin.c_str()), 2);
  EXPECT_EQ(a.ToVector(), v.ToVector());
  EXPECT_EQ(b.ToVector(), v.ToVector());
  // short or missing files: result 0, vector unchanged
  EXPECT_EQ(three.ReadVectorASCII(text.c_str()) + three.ReadVectorBin(bin.c_str()) +
                three.ReadVectorASCII("/nonexistent/v.txt") + three.ReadVectorBin("/nonexistent/v.bin"), 0);
  EXPECT_EQ(three.ToVector(), (std::vector<double>{7, 7, 7}));
}

TEST(LinAlgMatrixRealDeathTest, ShapeAndIndexErrorsAreFatal) {
  LinAlgMatrixReal a(2, 3, 0.0), square(2, 2, 0.0), U(2, 2, 0.0), Vt(3, 3, 0.0);
  LinAlgVectorReal b(2, 0.0), x(3, 0.0), v(3, 0.0);
  EXPECT_DEATH(a.Solve(b, x), "false");
  EXPECT_DEATH(a(2, 0), "i<m && i>=0 && j<n && j>=0");
  EXPECT_DEATH(v(3), "i<m && i>=0");
  EXPECT_DEATH(a.MultiplyBy(0), "value!=0");
  EXPECT_DEATH(square = a, "m==src\\.m && n==src\\.n");
  EXPECT_DEATH(a.Add(square), "m==otherMatrix\\.m && n==otherMatrix\\.n");
  EXPECT_DEATH(a.Transpose(a), "m==trg\\.n && n==trg\\.m");
  EXPECT_DEATH(a.Multiply(a, square), "trg\\.m==m && trg\\.n==m2\\.n && n==m2\\.m");
  EXPECT_DEATH(a.Multiply(b, v), "v\\.m==n && vTrg\\.m==m");
  EXPECT_DEATH(a.Inverse(), "m==n");
  EXPECT_DEATH(square.SolveLUDestructive(x, b), "m==n && b\\.m==m && xVec\\.m==m");
  EXPECT_DEATH(square.LeastSquaresQRDestructive(b, b), "m>n");
  EXPECT_DEATH(a.EigendecompositionSymmetric(x, Vt), "m==n && eigenValues");
  EXPECT_DEATH(a.DecomposeCholesky(), "false");
  EXPECT_DEATH(v.Add(b), "v2\\.m==m");
  EXPECT_DEATH(a.SVDDecomposeDestructive(U, v, Vt), "S\\.Rows\\(\\)==zelMin\\(m, n\\)");
  EXPECT_DEATH(a.WriteMatrixBin("/nonexistent/warpix.bin"), "file!=NULL");
  EXPECT_DEATH(a.WriteMatrixASCII("/nonexistent/warpix.txt"), "textStream\\.is_open\\(\\)");
}
