#include "TestCommon.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

using Values = std::vector<double>;

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
