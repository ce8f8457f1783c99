#include <cmath>
#include <tuple>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

using Values = std::vector<double>;

LinAlgMatrixReal FromRows(int m, int n, const Values& rowMajor) {
  LinAlgMatrixReal a(m, n, 0.0);
  for (int k = 0; k < m * n; ++k) a(k / n, k % n) = rowMajor[k];
  return a;
}

Values RowMajor(const LinAlgMatrixReal& a) {
  Values values;
  for (int k = 0; k < a.Rows() * a.Cols(); ++k) values.push_back(a(k / a.Cols(), k % a.Cols()));
  return values;
}

}  // namespace

TEST(LinAlgMatrixReal, ProductWithNoColumnsIsZero) {
  LinAlgMatrixReal a(3, 0, 0.0), empty(0, 2, 0.0), c(3, 2, 7.0);
  LinAlgVectorReal none(0, 0.0), y(3, 7.0);
  a.Multiply(none, y);
  a.Multiply(empty, c);
  EXPECT_TRUE(y.ToVector() == Values(3, 0.0) && RowMajor(c) == Values(6, 0.0));
}

TEST(LinAlgMatrixReal, EigenvaluesOrderedByMagnitudeWithTheirVectors) {
  // A = Q diag(-3, 1, 2) Q^T with Q a rotation about z by 30 degrees: c = cos 30, s = sin 30
  const double c = std::sqrt(3.0) / 2, s = 0.5, q[3][3] = {{c, s, 0}, {0, 0, 1}, {-s, c, 0}};  // columns for -3, 2, 1
  const Values entries = {-2, -2 * c, 0, -2 * c, 0, 0, 0, 0, 2};
  LinAlgMatrixReal a = FromRows(3, 3, entries), vectors(3, 3, 0.0);
  LinAlgVectorReal values(3, 0.0);
  ASSERT_TRUE(a.EigendecompositionSymmetric(values, vectors));
  EXPECT_EQ(RowMajor(a), entries);  // left as it was
  warpix_test::expectNear(values.ToVector(), {-3, 2, 1}, 1e-12, "eigenvalues");
  for (int k = 0; k < 3; ++k)  // each vector is its value's column of Q, up to sign
    EXPECT_NEAR(std::fabs(vectors(0, k) * q[k][0] + vectors(1, k) * q[k][1] + vectors(2, k) * q[k][2]), 1.0, 1e-12) << k;
}

TEST(LinAlgMatrixReal, ElementWiseNormRowNormalizeAndExtremaTies) {
  LinAlgMatrixReal a = FromRows(2, 2, {1, -1, 1, 3}), equal(3, 2, 5.0);
  // signs kept, no root
  EXPECT_EQ((Values{a.Norm(1), a.Norm(2), LinAlgVectorReal(Values{3, 4}).Norm(2), LinAlgVectorReal(Values{-1, 1}).Norm(1)}),
            (Values{4, 12, 25, 0}));
  a.RowNormalize();  // a row summing to 0 is left alone
  EXPECT_EQ(RowMajor(a), (Values{1, -1, 0.25, 0.75}));
  // ties go to the last element in row-by-row order: (1, 0) comes after (0, 1)
  int row = -1, col = -1;
  auto where = [&](double value) { return std::make_tuple(value, row, col); };
  EXPECT_EQ(where(equal.GetMax(&row, &col)), std::make_tuple(5.0, 2, 1));
  equal(1, 0) = equal(0, 1) = -2;
  EXPECT_EQ(where(equal.GetMin(&row, &col)), std::make_tuple(-2.0, 1, 0));
  EXPECT_EQ(where(equal.GetMax(&row, &col)), std::make_tuple(5.0, 2, 1));
  EXPECT_EQ(equal.GetMin(nullptr, nullptr), -2.0);
  LinAlgMatrixReal b = FromRows(2, 3, {1, 2, 3, 4, 5, 6}), t(3, 2, 0.0), p(2, 3, 0.0);
  b.Transpose(t);
  b.PointwiseMultiply(b, p);
  EXPECT_EQ(RowMajor(t), (Values{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(RowMajor(p), (Values{1, 4, 9, 16, 25, 36}));
  b.Add(p);
  b.MultiplyBy(0.5);
  b.AddVal(1, 2, 10);
  EXPECT_EQ(RowMajor(b), (Values{1, 3, 6, 10, 15, 31}));
  b.SetValues(0);
  EXPECT_EQ(RowMajor(b), Values(6, 0.0));
}

TEST(LinAlgMatrixReal, FilesTextRowMajorBinaryColumnMajor) {
  LinAlgMatrixReal a = FromRows(2, 3, {0.5, -0.5, -1.5, 1, 0, -1}), fromText(2, 3, 9.0), fromBin(fromText), target(fromText);
  warpix_test::TempFile text("matrix.txt"), bin("matrix.bin");
  EXPECT_EQ(a.WriteMatrixASCII(text.c_str()) + a.WriteMatrixBin(bin.c_str()), 2);
  EXPECT_EQ(text.read(), "0.5 -0.5 -1.5\n1 0 -1\n");
  const double columnMajor[6] = {0.5, 1, -0.5, 0, -1.5, -1};
  EXPECT_EQ(bin.read(), std::string(reinterpret_cast<const char*>(columnMajor), 48));
  EXPECT_EQ(fromText.ReadMatrixASCII(text.c_str()) + fromBin.ReadMatrixBin(bin.c_str()), 2);
  EXPECT_TRUE(RowMajor(fromText) == RowMajor(a) && RowMajor(fromBin) == RowMajor(a));
  // missing, short or junk files: result 0, matrix unchanged
  text.write("1 2 3\n4 5\n");
  bin.write(std::string(47, '\0'));
  EXPECT_EQ(target.ReadMatrixASCII(text.c_str()) + target.ReadMatrixBin(bin.c_str()) + target.ReadMatrixBin("/none/m"), 0);
  text.write("1 2 3\n4 x 6\n");
  EXPECT_EQ(target.ReadMatrixASCII(text.c_str()) + target.ReadMatrixASCII("/nonexistent/warpix.txt"), 0);
  EXPECT_EQ(RowMajor(target), Values(6, 9.0));
}

TEST(LinAlgVectorReal, OperationsAndFiles) {
  const LinAlgVectorReal v(Values{3, 4});
  LinAlgVectorReal w(2, 1.0), shorter(1, 0.0), a(2, 0.0), b(2, 0.0), three(3, 7.0);
  w.Add(v);
  w.Multiply(2);
  shorter = w;  // copies as many elements as it has
  EXPECT_TRUE(w.ToVector() == (Values{8, 10}) && shorter.ToVector() == Values{8});
  warpix_test::TempFile text("vector.txt"), bin("vector.bin");
  EXPECT_EQ(v.WriteVectorASCII(text.c_str()) + v.WriteVectorBin(bin.c_str()), 2);
  EXPECT_EQ(std::make_pair(text.read(), bin.read().size()), std::make_pair(std::string("3 4 "), size_t{16}));
  EXPECT_EQ(a.ReadVectorASCII(text.c_str()) + b.ReadVectorBin(bin.c_str()), 2);
  EXPECT_TRUE(a.ToVector() == v.ToVector() && b.ToVector() == v.ToVector());
  // short or missing files: result 0, vector unchanged
  EXPECT_EQ(three.ReadVectorASCII(text.c_str()) + three.ReadVectorBin(bin.c_str()) +
                three.ReadVectorASCII("/nonexistent/v.txt") + three.ReadVectorBin("/nonexistent/v.bin"), 0);
  EXPECT_EQ(three.ToVector(), Values(3, 7.0));
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
