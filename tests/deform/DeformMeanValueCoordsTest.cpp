#include "deform/DeformMeanValueCoords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "TestCommon.h"
#include "image/R2Image.h"

namespace {

using Points = std::vector<double>;
using warpix_test::expectNear;

const Points kSquare = {0, 0, 1, 0, 1, 1, 0, 1};
// A concave L-shaped hexagon, counter-clockwise.
const Points kLShape = {0.1, 0.1, 0.9, 0.1, 0.9, 0.4, 0.4, 0.4, 0.4, 0.9, 0.1, 0.9};

// Both routes' coordinates of (x, y), checked to be usable.
std::vector<Points> BothRoutes(const Points& polygon, double x, double y) {
  Points slow, fast;
  EXPECT_TRUE(DeformMeanValueCoords::CalcMVC(polygon, x, y, slow)) << x << ", " << y;
  EXPECT_TRUE(DeformMeanValueCoords::CalcMVCFast(polygon, x, y, fast)) << x << ", " << y;
  return {slow, fast};
}

class DeformMeanValueCoordsMap : public ::testing::Test {
 protected:
  R2Image m_Image{4, 4, 3};
  DeformMeanValueCoords m_Mvc{m_Image, "mvc"};

  std::pair<double, double> Map(const Points& orig, const Points& target, double x, double y) {
    m_Mvc.m_ControlPointsOrigPos = orig;
    m_Mvc.m_ControlPointsNewPos = target;
    double outX = NAN, outY = NAN;
    m_Mvc.MapPoint(x, y, outX, outY);
    return {outX, outY};
  }
};

}  // namespace

TEST(DeformMeanValueCoords, CentreOfUnitSquareHasQuarterCoordinates) {
  for (const Points& mvc : BothRoutes(kSquare, 0.5, 0.5)) {
    expectNear(mvc, {0.25, 0.25, 0.25, 0.25}, 1e-15);
  }
}

TEST(DeformMeanValueCoords, CoordinatesSumToOneAndReproduceThePoint) {
  const Points inside[] = {{0.3, 0.6, 0.01, 0.99, 0.75, 0.2},
                           {0.2, 0.2, 0.35, 0.35, 0.41, 0.41, 0.2, 0.8}};
  const Points* polygons[] = {&kSquare, &kLShape};
  for (int p = 0; p < 2; ++p) {
    for (size_t k = 0; k < inside[p].size(); k += 2) {
      for (const Points& mvc : BothRoutes(*polygons[p], inside[p][k], inside[p][k + 1])) {
        double sum = 0, x = 0, y = 0;
        for (size_t i = 0; i < mvc.size(); ++i) {
          sum += mvc[i];
          x += mvc[i] * (*polygons[p])[2 * i];
          y += mvc[i] * (*polygons[p])[2 * i + 1];
        }
        EXPECT_NEAR(sum, 1.0, 1e-12);
        EXPECT_NEAR(x, inside[p][k], 1e-12);
        EXPECT_NEAR(y, inside[p][k + 1], 1e-12);
      }
    }
  }
}

TEST(DeformMeanValueCoords, ExactHitsGiveUnitCoordinatesAndEdgesInterpolate) {
  for (int k = 0; k < 4; ++k) {
    Points unit(4, 0.0);
    unit[k] = 1.0;
    for (const Points& mvc : BothRoutes(kSquare, kSquare[2 * k], kSquare[2 * k + 1])) {
      expectNear(mvc, unit, 0.0);
    }
  }
  // Coincident points: the lower index takes the hit.
  expectNear(BothRoutes({0.2, 0.2, 0.8, 0.2, 0.8, 0.2, 0.5, 0.9}, 0.8, 0.2)[1], {0, 1, 0, 0}, 0.0);
  // A quarter along edge 1 -> 2 and along the closing edge 3 -> 0: linear
  // interpolation; the trigonometric route within its unbounded tangent's rounding.
  auto onRight = BothRoutes(kSquare, 1.0, 0.25), onLeft = BothRoutes(kSquare, 0.0, 0.25);
  expectNear(onRight[1], {0, 0.75, 0.25, 0}, 1e-15);
  expectNear(onRight[0], {0, 0.75, 0.25, 0}, 1e-12);
  expectNear(onLeft[1], {0.75, 0, 0, 0.25}, 1e-15);
  expectNear(onLeft[0], {0.75, 0, 0, 0.25}, 1e-12);
}

TEST(DeformMeanValueCoords, FastRouteMatchesTrigonometricRoute) {
  // Seeded star-shaped polygons (sorted random angles) of 4, 8 and 16 points,
  // against every vertex of a 20 x 20 grid, inside and outside.
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> angle(0.0, 2.0 * M_PI), radius(0.15, 0.45);
  for (int n : {4, 8, 16}) {
    for (int trial = 0; trial < 5; ++trial) {
      Points angles(n), polygon;
      for (double& a : angles) a = angle(gen);
      std::sort(angles.begin(), angles.end());
      for (double a : angles) {
        const double r = radius(gen);
        polygon.insert(polygon.end(), {0.5 + r * std::cos(a), 0.5 + r * std::sin(a)});
      }
      for (int i = 0; i <= 20; ++i) {
        for (int j = 0; j <= 20; ++j) {
          const auto routes = BothRoutes(polygon, i / 20.0, j / 20.0);
          double scale = 1.0;
          for (double w : routes[0]) scale = std::max(scale, std::fabs(w));
          expectNear(routes[1], routes[0], 1e-9 * scale, "fast against trigonometric");
        }
      }
    }
  }
}

TEST(DeformMeanValueCoords, InterpolateChecksShapes) {
  double x = 0.0, y = 0.0;
  EXPECT_DEATH(DeformMeanValueCoords::Interpolate({1, 2, 3, 4}, {1.0}, x, y),
               "MVC.size\\(\\)==ctrlPnts.size\\(\\)/2");
  EXPECT_DEATH(DeformMeanValueCoords::Interpolate({1, 2, 3}, {1.0}, x, y),
               "ctrlPnts.size\\(\\)%2==0");
}

TEST_F(DeformMeanValueCoordsMap, ControlPointsMapExactlyToTheirTargetsAndAffineMapsAreReproduced) {
  const Points target = {0.15, 0.1, 0.8, 0.05, 0.95, 0.5, 0.45, 0.35, 0.3, 0.95, 0.1, 0.7};
  for (int k = 0; k < 6; ++k) {
    const auto [x, y] = Map(kLShape, target, kLShape[2 * k], kLShape[2 * k + 1]);
    EXPECT_EQ(x, target[2 * k]);
    EXPECT_EQ(y, target[2 * k + 1]);
  }
  // Targets T(p) = M p + t (identity and translation included): interior
  // points of the concave polygon map by T.
  const double maps[][6] = {
      {1, 0, 0, 1, 0, 0}, {1, 0, 0, 1, 0.05, -0.02}, {1.2, 0.3, -0.1, 0.8, 0.05, -0.02}};
  const Points inside = {0.2, 0.2, 0.3, 0.7, 0.7, 0.3, 0.39, 0.39, 0.4, 0.25};
  for (const auto& m : maps) {
    Points affine;
    for (size_t k = 0; k < kLShape.size(); k += 2) {
      affine.push_back(m[0] * kLShape[k] + m[1] * kLShape[k + 1] + m[4]);
      affine.push_back(m[2] * kLShape[k] + m[3] * kLShape[k + 1] + m[5]);
    }
    for (size_t k = 0; k < inside.size(); k += 2) {
      const double x = inside[k], y = inside[k + 1];
      const auto [outX, outY] = Map(kLShape, affine, x, y);
      EXPECT_NEAR(outX, m[0] * x + m[1] * y + m[4], 1e-12) << x << ", " << y;
      EXPECT_NEAR(outY, m[2] * x + m[3] * y + m[5], 1e-12) << x << ", " << y;
    }
  }
}

TEST_F(DeformMeanValueCoordsMap, FewerThanThreePointsMoveByTheMeanDisplacement) {
  EXPECT_EQ(Map({}, {}, 0.3, 0.4), std::make_pair(0.3, 0.4));
  const auto one = Map({0.2, 0.2}, {0.25, 0.1}, 0.3, 0.4);
  EXPECT_NEAR(one.first, 0.35, 1e-15);
  EXPECT_NEAR(one.second, 0.3, 1e-15);
  const auto two = Map({0.2, 0.2, 0.8, 0.8}, {0.3, 0.2, 0.8, 0.6}, 0.3, 0.4);  // mean (0.05, -0.1)
  EXPECT_NEAR(two.first, 0.35, 1e-15);
  EXPECT_NEAR(two.second, 0.3, 1e-15);
  // Three collinear points make a degenerate polygon: still finite everywhere.
  const Points line = {0.2, 0.5, 0.5, 0.5, 0.8, 0.5}, bent = {0.2, 0.5, 0.5, 0.6, 0.8, 0.5};
  for (int i = 0; i <= 400; ++i) {
    const auto [x, y] = Map(line, bent, i % 20 / 19.0, i / 400.0);
    ASSERT_TRUE(std::isfinite(x) && std::isfinite(y)) << i;
  }
}

TEST_F(DeformMeanValueCoordsMap, BatchedMeshMappingEqualsMapPointAtEveryVertex) {
  // Control points on mesh vertices, so other vertices lie on polygon edges;
  // 21 x 21 vertices cover the two-vertex blocks and the last one.
  m_Mvc.SwitchMeshBasedDeformation(20, 20, false, false, RNRgb(0, 0, 0), -1, 0, 1, 0, 1);
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> shift(-0.05, 0.05);
  for (const Points& orig : {Points{0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8}, kLShape}) {
    Points target = orig;
    for (double& v : target) v += shift(gen);
    Map(orig, target, 0, 0);
    m_Mvc.MapMeshVertices();
    for (const auto& vertex : m_Mvc.m_Vertices) {
      const auto [x, y] = Map(orig, target, vertex.m_fRestX, vertex.m_fRestY);
      ASSERT_NEAR(vertex.m_fX, x, 1e-15) << "vertex " << vertex.id;
      ASSERT_NEAR(vertex.m_fY, y, 1e-15) << "vertex " << vertex.id;
    }
  }
}
