#include "image/RNRgb.h"

#include <cmath>

#include "TestCommon.h"

TEST(RNRgb, ComparisonIsExactAndNaNIsNeverEqual) {
  const double values[3] = {0.25, 0.5, 1.0};
  const RNRgb nan(NAN, 0, 0);
  EXPECT_EQ(RNRgb(0.25, 0.5, 1.0), RNRgb(values));
  EXPECT_NE(RNRgb(0.25, 0.5, 1.0), RNRgb(0.25, 0.5, std::nextafter(1.0, 0.0)));
  EXPECT_TRUE(!(nan == nan) && nan != nan);
}
