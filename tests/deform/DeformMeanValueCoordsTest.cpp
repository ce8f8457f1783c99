#include "deform/DeformMeanValueCoords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "DeformTesting.h"

namespace {

using deform_test::Affine;
using deform_test::AffineMap;
using deform_test::Points;
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

TEST(DeformMeanValueCoords, BothRoutesSumToOneReproduceThePointAndHandleHits) {
  // Expected coordinates (none: only the sum and the reproduction) with the
  // tolerance of the trigonometric and of the fast route.
  struct Case { const Points& polygon; double x, y; Points expected; double tolTrig, tolFast; };
  const Points coincident = {0.2, 0.2, 0.8, 0.2, 0.8, 0.2, 0.5, 0.9};  // the lower index takes a hit
  std::vector<Case> cases = {{kSquare, 0.5, 0.5, {0.25, 0.25, 0.25, 0.25}, 1e-15, 1e-15},
                             {coincident, 0.8, 0.2, {0, 1, 0, 0}, 0, 0},
                             // On edge 1 -> 2 and on the closing edge 3 -> 0: linear interpolation.
                             {kSquare, 1.0, 0.25, {0, 0.75, 0.25, 0}, 1e-12, 1e-15},
                             {kSquare, 0.0, 0.25, {0.75, 0, 0, 0.25}, 1e-12, 1e-15}};
  for (int k = 0; k < 4; ++k) {
    Points unit(4, 0.0);
    unit[k] = 1.0;
    cases.push_back({kSquare, kSquare[2 * k], kSquare[2 * k + 1], unit, 0, 0});
  }
  for (const Points& inside : {Points{0.3, 0.6}, {0.01, 0.99}, {0.75, 0.2}}) cases.push_back({kSquare, inside[0], inside[1], {}, 0, 0});
  for (const Points& inside : {Points{0.2, 0.2}, {0.35, 0.35}, {0.41, 0.41}, {0.2, 0.8}}) cases.push_back({kLShape, inside[0], inside[1], {}, 0, 0});
  for (const Case& c : cases) {
    const auto routes = BothRoutes(c.polygon, c.x, c.y);
    for (int route = 0; route < 2; ++route) {
      const Points& mvc = routes[route];
      double sum = 0;
      for (double w : mvc) sum += w;
      double x = 0, y = 0;
      DeformMeanValueCoords::Interpolate(c.polygon, mvc, x, y);
      expectNear({sum, x, y}, {1, c.x, c.y}, 1e-12, "sum and reproduction");
      if (!c.expected.empty()) expectNear(mvc, c.expected, route == 0 ? c.tolTrig : c.tolFast, "coordinates");
    }
  }
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
    EXPECT_EQ(Map(kLShape, target, kLShape[2 * k], kLShape[2 * k + 1]),
              std::make_pair(target[2 * k], target[2 * k + 1]));
  }
  // Targets T(p) (identity and translation included): interior points of the
  // concave polygon map by T.
  for (const AffineMap& m : {AffineMap{1, 0, 0, 1, 0, 0}, AffineMap{1, 0, 0, 1, 0.05, -0.02},
                             AffineMap{1.2, 0.3, -0.1, 0.8, 0.05, -0.02}}) {
    for (const Points& p : {Points{0.2, 0.2}, {0.3, 0.7}, {0.7, 0.3}, {0.39, 0.39}, {0.4, 0.25}}) {
      const auto [x, y] = Map(kLShape, Affine(kLShape, m), p[0], p[1]);
      expectNear({x, y}, Affine(p, m), 1e-12, "affine");
    }
  }
}

TEST_F(DeformMeanValueCoordsMap, FewerThanThreePointsMoveByTheMeanDisplacement) {
  EXPECT_EQ(Map({}, {}, 0.3, 0.4), std::make_pair(0.3, 0.4));
  for (const auto& [orig, target] : {std::pair<Points, Points>{{0.2, 0.2}, {0.25, 0.1}},
                                     {{0.2, 0.2, 0.8, 0.8}, {0.3, 0.2, 0.8, 0.6}}}) {
    const auto [x, y] = Map(orig, target, 0.3, 0.4);  // mean displacement (0.05, -0.1)
    expectNear({x, y}, {0.35, 0.3}, 1e-15, "mean displacement");
  }
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
  deform_test::Mesh(m_Mvc, 20, 20);
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
