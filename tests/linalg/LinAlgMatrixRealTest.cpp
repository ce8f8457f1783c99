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
