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

TEST(RNRgb, InPlaceArithmeticIsComponentwiseOnTheNamedColours) {
  RNRgb c = RNwhite_rgb, sum = RNred_rgb;
  EXPECT_TRUE(&(c *= 0.5) == &c && c == RNRgb(0.5, 0.5, 0.5));
  EXPECT_EQ(c += RNRgb(0.25, 0.0, -0.5), RNRgb(0.75, 0.5, 0.0));
  EXPECT_EQ(c -= RNred_rgb, RNRgb(-0.25, 0.5, 0.0));
  EXPECT_EQ(c *= RNRgb(2.0, 4.0, 8.0), RNRgb(-0.5, 2.0, 0.0));
  EXPECT_EQ(c /= 4.0, RNRgb(-0.125, 0.5, 0.0));
  EXPECT_TRUE(c.Red() == c[0] && c.G() == 0.5 && c.Blue() == 0.0);
  // The named colours are the corners of the unit cube.
  EXPECT_EQ(sum += RNgreen_rgb, RNyellow_rgb);
  EXPECT_EQ(sum += RNblue_rgb, RNwhite_rgb);
  EXPECT_EQ(sum -= RNred_rgb, RNcyan_rgb);
  EXPECT_TRUE(RNmagenta_rgb == RNRgb(1, 0, 1) && RNnull_rgb == RNblack_rgb && RNblack_rgb == RNRgb(0, 0, 0));
}
