#include <cmath>
#include <tuple>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixComplex.h"

TEST(LinAlgMatrixComplex, ElementWiseNormAndExtrema) {
  LinAlgMatrixComplex a(2, 2), c(2, 2), p(2, 2);
  a(0, 0) = LinAlgComplex(3, 4); a(0, 1) = LinAlgComplex(0, -1); a(1, 0) = LinAlgComplex(-2, 0);
  // Frobenius norm (with the root), largest and smallest modulus
  EXPECT_EQ(std::make_tuple(a.Norm(), a.GetMax(), a.GetMin()), std::make_tuple(std::sqrt(25.0 + 1 + 4), 5.0, 0.0));
  a.Conj(c);
  a.PointwiseMultiply(c, p);  // z * conj(z) = |z|^2
  LinAlgMatrixComplex b(a);
  b.AddMatrix(a);
  b.MultiplyByReal(0.5);
  b.SetValue(1, 1, LinAlgComplex(1, 1));
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      EXPECT_TRUE(c(i, j) == a(i, j).Conjugate() && p(i, j) == LinAlgComplex(a(i, j).Power() * a(i, j).Power(), 0) &&
                  b.GetValue(i, j) == (i + j == 2 ? LinAlgComplex(1, 1) : a(i, j))) << i << j;
}

TEST(LinAlgMatrixComplexDeathTest, ShapeAndIndexErrorsAreFatal) {
  LinAlgMatrixComplex wide(2, 3), square(2, 2), tall(3, 2);
  LinAlgVectorComplex b2(2), x3(3), x2(2);
  EXPECT_DEATH(wide.Solve(b2, x3), "false");
  EXPECT_DEATH(wide(0, 3), "i<m && i>=0 && j<n && j>=0");
  EXPECT_DEATH(x2(2), "i<m && i>=0");
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
