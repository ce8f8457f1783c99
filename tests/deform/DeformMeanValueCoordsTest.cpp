// (Points on their targets, affine targets and the batched mesh route:
// DeformPropertiesTest; the coordinates' reproduction of every point below is
// the affine precision.)
#include "deform/DeformMeanValueCoords.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "DeformTesting.h"

namespace {

using deform_test::Points;
using warpix_test::expectNear;

const Points kSquare = {0, 0, 1, 0, 1, 1, 0, 1};
// A concave L-shaped hexagon, counter-clockwise.
const Points kLShape = {0.1, 0.1, 0.9, 0.1, 0.9, 0.4, 0.4, 0.4, 0.4, 0.9, 0.1, 0.9};

// Both routes' coordinates of (x, y), checked to be usable.
std::vector<Points> BothRoutes(const Points& polygon, double x, double y) {
  Points slow, fast;
  EXPECT_TRUE(DeformMeanValueCoords::CalcMVC(polygon, x, y, slow) &&
              DeformMeanValueCoords::CalcMVCFast(polygon, x, y, fast)) << x << ", " << y;
  return {slow, fast};
}

class DeformMeanValueCoordsMap : public ::testing::Test {
 protected:
  Points Map(const Points& orig, const Points& target, double x, double y) {
    m_Mvc.m_ControlPointsOrigPos = orig;
    m_Mvc.m_ControlPointsNewPos = target;
    m_Mvc.Deform();  // the points are taken into the map
    Points out = {NAN, NAN};
    m_Mvc.MapPoint(x, y, out[0], out[1]);
    return out;
  }
  R2Image m_Image{4, 4, 3};
  DeformMeanValueCoords m_Mvc{m_Image, "mvc"};
};

}  // namespace

TEST(DeformMeanValueCoords, BothRoutesSumToOneReproduceThePointAndHandleHits) {
  // Expected coordinates (none: only the sum and the reproduction) with the
  // tolerance of the trigonometric and of the fast route.
  struct Case { const Points& polygon; double x, y; Points expected; double tolTrig, tolFast; };
  const Points coincident = {0.2, 0.2, 0.8, 0.2, 0.8, 0.2, 0.5, 0.9};  // the lower index takes a hit
  const std::vector<Case> cases = {
      {kSquare, 0.5, 0.5, {0.25, 0.25, 0.25, 0.25}, 1e-15, 1e-15}, {coincident, 0.8, 0.2, {0, 1, 0, 0}, 0, 0},
      // On edge 1 -> 2 and on the closing edge 3 -> 0: linear interpolation; on vertices 0 and 2.
      {kSquare, 1.0, 0.25, {0, 0.75, 0.25, 0}, 1e-12, 1e-15}, {kSquare, 0.0, 0.25, {0.75, 0, 0, 0.25}, 1e-12, 1e-15},
      {kSquare, 0, 0, {1, 0, 0, 0}, 0, 0}, {kSquare, 1, 1, {0, 0, 1, 0}, 0, 0}, {kSquare, 0.01, 0.99, {}, 0, 0},
      {kLShape, 0.2, 0.2, {}, 0, 0}, {kLShape, 0.35, 0.35, {}, 0, 0}, {kLShape, 0.41, 0.41, {}, 0, 0},
      {kLShape, 0.2, 0.8, {}, 0, 0}};
  for (const Case& c : cases) {
    const auto routes = BothRoutes(c.polygon, c.x, c.y);
    for (int route = 0; route < 2; ++route) {
      double x = 0, y = 0, sum = std::accumulate(routes[route].begin(), routes[route].end(), 0.0);
      DeformMeanValueCoords::Interpolate(c.polygon, routes[route], x, y);
      expectNear({sum, x, y}, {1, c.x, c.y}, 1e-12, "sum and reproduction");
      if (!c.expected.empty()) expectNear(routes[route], c.expected, route ? c.tolFast : c.tolTrig, "coordinates");
    }
  }
}

TEST(DeformMeanValueCoords, FastRouteMatchesTrigonometricRoute) {
  // Five seeded star-shaped polygons (sorted random angles) of 4, 8 and 16
  // points each, against every vertex of a 20 x 20 grid, inside and outside.
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> angle(0.0, 2.0 * M_PI), radius(0.15, 0.45);
  for (int trial = 0; trial < 15; ++trial) {
    Points angles(4 << trial / 5), polygon;
    for (double& a : angles) a = angle(gen);
    std::sort(angles.begin(), angles.end());
    for (double a : angles) {
      const double r = radius(gen);
      polygon.insert(polygon.end(), {0.5 + r * std::cos(a), 0.5 + r * std::sin(a)});
    }
    for (int g = 0; g < 21 * 21; ++g) {
      const auto routes = BothRoutes(polygon, g / 21 / 20.0, g % 21 / 20.0);
      double scale = 1.0;
      for (double w : routes[0]) scale = std::max(scale, std::fabs(w));
      expectNear(routes[1], routes[0], 1e-9 * scale, "fast against trigonometric");
    }
  }
}

TEST_F(DeformMeanValueCoordsMap, FewerThanThreePointsMoveByTheMeanDisplacement) {
  EXPECT_EQ(Map({}, {}, 0.3, 0.4), Points({0.3, 0.4}));
  // One and two points, mean displacement (0.05, -0.1).
  expectNear(Map({0.2, 0.2}, {0.25, 0.1}, 0.3, 0.4), {0.35, 0.3}, 1e-15, "one point");
  expectNear(Map({0.2, 0.2, 0.8, 0.8}, {0.3, 0.2, 0.8, 0.6}, 0.3, 0.4), {0.35, 0.3}, 1e-15, "two points");
}

TEST_F(DeformMeanValueCoordsMap, PolygonsOfNoAreaAreRefusedAndTheLastGoodMapKept) {
  // Collinear originals (exactly, within a relative width of 1e-7, and in a
  // zigzag along the line), coincident ones, and one far away but still on
  // the line: the two-point map of the last accepted points stays, with one
  // warning until a polygon with area is accepted again.
  const Points two = {0.2, 0.2, 0.8, 0.8}, moved = {0.3, 0.2, 0.8, 0.6};
  const std::vector<Points> flat = {{0.25, 0.25, 0.4375, 0.4375, 0.625, 0.625, 0.8125, 0.8125},
                                    {0.2, 0.5, 0.5, 0.5 + 3e-8, 0.8, 0.5},
                                    {0.2, 0.2, 0.8, 0.8, 0.5, 0.5, 0.9, 0.9, 0.1, 0.1},
                                    {0.4, 0.4, 0.4, 0.4, 0.4, 0.4},
                                    {0.1, 0.1, 0.2, 0.2, 1e6, 1e6}};
  for (const Points& orig : flat) {
    warpix_test::CoutCapture out;
    expectNear(Map(two, moved, 0.3, 0.4), {0.35, 0.3}, 1e-15, "accepted");
    Points target = orig;
    for (double& v : target) v += 0.05;
    for (int i = 0; i <= 400; ++i) {
      expectNear(Map(orig, target, i % 20 / 19.0, i / 400.0), {i % 20 / 19.0 + 0.05, i / 400.0 - 0.1}, 1e-15, "kept");
    }
    EXPECT_TRUE(DeformMeanValueCoords::IsFlatPolygon(orig));
    EXPECT_EQ(out.str(), "[WARNING] mvc: the control points lie on one line, their polygon has no mean value "
                         "coordinates; the last good deformation is kept\n");
  }
  // Thin but not flat (a relative width of 1e-5) is a polygon.
  EXPECT_FALSE(DeformMeanValueCoords::IsFlatPolygon({0.2, 0.5, 0.5, 0.5 + 3e-6, 0.8, 0.5}));
  EXPECT_FALSE(DeformMeanValueCoords::IsFlatPolygon(kLShape));
}
