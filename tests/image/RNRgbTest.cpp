#include "image/RNRgb.h"

#include <cmath>

#include "TestCommon.h"

TEST(RNRgb, ComparisonIsExactAndNaNIsNeverEqual) {
  const double values[3] = {0.25, 0.5, 1.0};
  EXPECT_EQ(RNRgb(0.25, 0.5, 1.0), RNRgb(values));
  EXPECT_NE(RNRgb(0.25, 0.5, 1.0), RNRgb(0.25, 0.5, std::nextafter(1.0, 0.0)));
  const RNRgb nan(NAN, 0, 0);
  EXPECT_FALSE(nan == nan);
  EXPECT_TRUE(nan != nan);
}

TEST(RNRgb, InPlaceArithmeticWorksComponentwiseAndReturnsTheTarget) {
  RNRgb c = RNwhite_rgb;
  EXPECT_EQ(&(c *= 0.5), &c);
  EXPECT_EQ(c, RNRgb(0.5, 0.5, 0.5));
  c += RNRgb(0.25, 0.0, -0.5);
  EXPECT_EQ(c, RNRgb(0.75, 0.5, 0.0));
  c -= RNred_rgb;
  EXPECT_EQ(c, RNRgb(-0.25, 0.5, 0.0));
  c *= RNRgb(2.0, 4.0, 8.0);
  EXPECT_EQ(c, RNRgb(-0.5, 2.0, 0.0));
  c /= 4.0;
  EXPECT_EQ(c, RNRgb(-0.125, 0.5, 0.0));
  EXPECT_EQ(c.Red(), c[0]);
  EXPECT_EQ(c.G(), 0.5);
}

TEST(RNRgb, NamedColoursAreTheCornersOfTheCube) {
  EXPECT_EQ(RNnull_rgb, RNblack_rgb);
  RNRgb sum = RNred_rgb;
  sum += RNgreen_rgb;
  EXPECT_EQ(sum, RNyellow_rgb);
  sum += RNblue_rgb;
  EXPECT_EQ(sum, RNwhite_rgb);
  sum -= RNred_rgb;
  EXPECT_EQ(sum, RNcyan_rgb);
  EXPECT_EQ(RNmagenta_rgb, RNRgb(1, 0, 1));
}
