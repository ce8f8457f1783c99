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

const Points kUnitSquare = {0, 0, 1, 0, 1, 1, 0, 1};
// An L-shaped (concave) hexagon, counter-clockwise.
const Points kLShape = {0.1, 0.1, 0.9, 0.1, 0.9, 0.4, 0.4, 0.4, 0.4, 0.9, 0.1, 0.9};

// Sum and first moments of the coordinates: (sum, sum w x, sum w y).
void CheckReproduces(const Points& polygon, double x, double y, const std::vector<double>& mvc) {
  double sum = 0.0, mx = 0.0, my = 0.0;
  for (size_t k = 0; k < mvc.size(); ++k) {
    sum += mvc[k];
    mx += mvc[k] * polygon[2 * k];
    my += mvc[k] * polygon[2 * k + 1];
  }
  EXPECT_NEAR(sum, 1.0, 1e-12) << "at " << x << ", " << y;
  EXPECT_NEAR(mx, x, 1e-12) << "at " << x << ", " << y;
  EXPECT_NEAR(my, y, 1e-12) << "at " << x << ", " << y;
}

// A simple star-shaped polygon of n points in the unit square: random
// angles sorted around a centre, random radii.
Points RandomPolygon(std::mt19937& gen, int n) {
  std::uniform_real_distribution<double> angle(0.0, 2.0 * M_PI);
  std::uniform_real_distribution<double> radius(0.15, 0.45);
  std::vector<double> angles(n);
  for (double& a : angles) a = angle(gen);
  std::sort(angles.begin(), angles.end());
  Points polygon;
  for (double a : angles) {
    const double r = radius(gen);
    polygon.push_back(0.5 + r * std::cos(a));
    polygon.push_back(0.5 + r * std::sin(a));
  }
  return polygon;
}

class DeformMeanValueCoordsMap : public ::testing::Test {
 protected:
  R2Image m_Image{4, 4, 3};
  DeformMeanValueCoords m_Mvc{m_Image, "mvc"};

  void SetPoints(const Points& orig, const Points& target) {
    m_Mvc.m_ControlPointsOrigPos = orig;
    m_Mvc.m_ControlPointsNewPos = target;
  }
};

}  // namespace

TEST(DeformMeanValueCoords, CentreOfUnitSquareHasQuarterCoordinates) {
  std::vector<double> mvc, fast;
  ASSERT_TRUE(DeformMeanValueCoords::CalcMVC(kUnitSquare, 0.5, 0.5, mvc));
  ASSERT_TRUE(DeformMeanValueCoords::CalcMVCFast(kUnitSquare, 0.5, 0.5, fast));
  warpix_test::expectNear(mvc, {0.25, 0.25, 0.25, 0.25}, 1e-15, "trigonometric");
  warpix_test::expectNear(fast, {0.25, 0.25, 0.25, 0.25}, 1e-15, "fast");
}

TEST(DeformMeanValueCoords, CoordinatesSumToOneAndReproduceThePoint) {
  // Convex square and concave L, interior points including the reflex corner's
  // neighbourhood, by both routes.
  const std::vector<std::pair<Points, std::vector<std::pair<double, double>>>> cases = {
      {kUnitSquare, {{0.3, 0.6}, {0.01, 0.99}, {0.75, 0.2}}},
      {kLShape, {{0.2, 0.2}, {0.35, 0.35}, {0.41, 0.41}, {0.2, 0.8}, {0.8, 0.3}}}};
  for (const auto& [polygon, points] : cases) {
    for (const auto& [x, y] : points) {
      std::vector<double> mvc;
      ASSERT_TRUE(DeformMeanValueCoords::CalcMVC(polygon, x, y, mvc));
      CheckReproduces(polygon, x, y, mvc);
      ASSERT_TRUE(DeformMeanValueCoords::CalcMVCFast(polygon, x, y, mvc));
      CheckReproduces(polygon, x, y, mvc);
    }
  }
}

TEST(DeformMeanValueCoords, ExactHitsGiveUnitCoordinatesAndEdgesInterpolate) {
  std::vector<double> mvc;
  for (int k = 0; k < 4; ++k) {
    const double x = kUnitSquare[2 * k], y = kUnitSquare[2 * k + 1];
    std::vector<double> unit(4, 0.0);
    unit[k] = 1.0;
    ASSERT_TRUE(DeformMeanValueCoords::CalcMVC(kUnitSquare, x, y, mvc));
    warpix_test::expectNear(mvc, unit, 0.0, "trigonometric");
    ASSERT_TRUE(DeformMeanValueCoords::CalcMVCFast(kUnitSquare, x, y, mvc));
    warpix_test::expectNear(mvc, unit, 0.0, "fast");
  }
  // Two coincident control points: the lower index takes the hit.
  const Points doubled = {0.2, 0.2, 0.8, 0.2, 0.8, 0.2, 0.5, 0.9};
  ASSERT_TRUE(DeformMeanValueCoords::CalcMVCFast(doubled, 0.8, 0.2, mvc));
  warpix_test::expectNear(mvc, {0, 1, 0, 0}, 0.0);

  // A quarter of the way along the edge from corner 1 to corner 2 (also the
  // closing edge 3 -> 0): linear interpolation, the trigonometric route within
  // the rounding of its unbounded tangent.
  const std::vector<std::pair<std::pair<double, double>, std::vector<double>>> edges = {
      {{1.0, 0.25}, {0, 0.75, 0.25, 0}}, {{0.0, 0.25}, {0.75, 0, 0, 0.25}}};
  for (const auto& [point, expected] : edges) {
    ASSERT_TRUE(DeformMeanValueCoords::CalcMVCFast(kUnitSquare, point.first, point.second, mvc));
    warpix_test::expectNear(mvc, expected, 1e-15, "fast");
    ASSERT_TRUE(DeformMeanValueCoords::CalcMVC(kUnitSquare, point.first, point.second, mvc));
    warpix_test::expectNear(mvc, expected, 1e-12, "trigonometric");
  }
}

TEST(DeformMeanValueCoords, FastRouteMatchesTrigonometricRoute) {
  // Seeded star-shaped polygons of 4, 8 and 16 points against every vertex of
  // a 20 x 20 grid, inside and outside the polygon.
  std::mt19937 gen(1);
  std::vector<double> slow, fast;
  for (int n : {4, 8, 16}) {
    for (int trial = 0; trial < 5; ++trial) {
      const Points polygon = RandomPolygon(gen, n);
      for (int i = 0; i <= 20; ++i) {
        for (int j = 0; j <= 20; ++j) {
          const double x = i / 20.0, y = j / 20.0;
          ASSERT_TRUE(DeformMeanValueCoords::CalcMVC(polygon, x, y, slow));
          ASSERT_TRUE(DeformMeanValueCoords::CalcMVCFast(polygon, x, y, fast));
          double scale = 0.0;
          for (double w : slow) scale = std::max(scale, std::fabs(w));
          warpix_test::expectNear(fast, slow, 1e-9 * std::max(1.0, scale), "coordinates");
        }
      }
    }
  }
}

TEST(DeformMeanValueCoords, InterpolateChecksShapes) {
  double x = 0.0, y = 0.0;
  DeformMeanValueCoords::Interpolate({1, 2, 3, 4}, {0.25, 0.75}, x, y);
  EXPECT_DOUBLE_EQ(x, 0.25 * 1 + 0.75 * 3);
  EXPECT_DOUBLE_EQ(y, 0.25 * 2 + 0.75 * 4);
  EXPECT_DEATH(DeformMeanValueCoords::Interpolate({1, 2, 3, 4}, {1.0}, x, y),
               "MVC.size\\(\\)==ctrlPnts.size\\(\\)/2");
  EXPECT_DEATH(DeformMeanValueCoords::Interpolate({1, 2, 3}, {1.0}, x, y),
               "ctrlPnts.size\\(\\)%2==0");
}

TEST_F(DeformMeanValueCoordsMap, ControlPointsMapExactlyToTheirTargets) {
  SetPoints(kLShape, {0.15, 0.1, 0.8, 0.05, 0.95, 0.5, 0.45, 0.35, 0.3, 0.95, 0.1, 0.7});
  for (int k = 0; k < 6; ++k) {
    double x = 0.0, y = 0.0;
    m_Mvc.MapPoint(kLShape[2 * k], kLShape[2 * k + 1], x, y);
    EXPECT_EQ(x, m_Mvc.m_ControlPointsNewPos[2 * k]) << "point " << k;
    EXPECT_EQ(y, m_Mvc.m_ControlPointsNewPos[2 * k + 1]) << "point " << k;
  }
}

TEST_F(DeformMeanValueCoordsMap, AffineImageOfTheControlPointsMapsInteriorPointsByThatMap) {
  // Targets T(p) = M p + t; identity (M = I, t = 0) included.
  auto affine = [](double m00, double m01, double m10, double m11, double tx, double ty) {
    return [=](double x, double y) {
      return std::make_pair(m00 * x + m01 * y + tx, m10 * x + m11 * y + ty);
    };
  };
  for (const auto& map : {affine(1, 0, 0, 1, 0, 0), affine(1, 0, 0, 1, 0.05, -0.02),
                          affine(1.2, 0.3, -0.1, 0.8, 0.05, -0.02)}) {
    Points target;
    for (size_t k = 0; k < kLShape.size(); k += 2) {
      const auto [tx, ty] = map(kLShape[k], kLShape[k + 1]);
      target.push_back(tx);
      target.push_back(ty);
    }
    SetPoints(kLShape, target);
    for (const auto& [x, y] : std::vector<std::pair<double, double>>{
             {0.2, 0.2}, {0.3, 0.7}, {0.7, 0.3}, {0.39, 0.39}, {0.4, 0.25}}) {
      double outX = 0.0, outY = 0.0;
      m_Mvc.MapPoint(x, y, outX, outY);
      const auto [ex, ey] = map(x, y);
      EXPECT_NEAR(outX, ex, 1e-12) << "at " << x << ", " << y;
      EXPECT_NEAR(outY, ey, 1e-12) << "at " << x << ", " << y;
    }
  }
}

TEST_F(DeformMeanValueCoordsMap, FewerThanThreePointsMoveByTheMeanDisplacement) {
  double x = 0.0, y = 0.0;
  m_Mvc.MapPoint(0.3, 0.4, x, y);  // no point: identity
  EXPECT_EQ(x, 0.3);
  EXPECT_EQ(y, 0.4);
  SetPoints({0.2, 0.2}, {0.25, 0.1});
  m_Mvc.MapPoint(0.3, 0.4, x, y);
  EXPECT_NEAR(x, 0.35, 1e-15);
  EXPECT_NEAR(y, 0.3, 1e-15);
  SetPoints({0.2, 0.2, 0.8, 0.8}, {0.3, 0.2, 0.8, 0.6});
  m_Mvc.MapPoint(0.3, 0.4, x, y);  // mean displacement (0.05, -0.1)
  EXPECT_NEAR(x, 0.35, 1e-15);
  EXPECT_NEAR(y, 0.3, 1e-15);
  // Three collinear points make a degenerate polygon: still finite everywhere.
  SetPoints({0.2, 0.5, 0.5, 0.5, 0.8, 0.5}, {0.2, 0.5, 0.5, 0.6, 0.8, 0.5});
  for (int i = 0; i <= 10; ++i) {
    for (int j = 0; j <= 10; ++j) {
      m_Mvc.MapPoint(i / 10.0, j / 10.0, x, y);
      ASSERT_TRUE(std::isfinite(x) && std::isfinite(y)) << i << ", " << j;
    }
  }
}

TEST_F(DeformMeanValueCoordsMap, MeshVerticesIncludingThoseOnPolygonEdgesFollowTheMap) {
  m_Mvc.SwitchMeshBasedDeformation(4, 4, false, false, RNRgb(0, 0, 0), -1, 0, 1, 0, 1);
  double placedX = 0.0, placedY = 0.0;
  for (size_t k = 0; k < kUnitSquare.size(); k += 2) {
    m_Mvc.AddControlPoint(kUnitSquare[k], kUnitSquare[k + 1], &placedX, &placedY);
  }
  for (double& v : m_Mvc.m_ControlPointsNewPos) v = 0.5 + 0.5 * v;  // halve towards (1, 1)
  m_Mvc.MapMeshVertices();
  for (const auto& vertex : m_Mvc.m_Vertices) {
    EXPECT_NEAR(vertex.m_fX, 0.5 + 0.5 * vertex.m_fRestX, 1e-12) << "vertex " << vertex.id;
    EXPECT_NEAR(vertex.m_fY, 0.5 + 0.5 * vertex.m_fRestY, 1e-12) << "vertex " << vertex.id;
  }
}

TEST_F(DeformMeanValueCoordsMap, BatchedMeshMappingEqualsMapPointAtEveryVertex) {
  // Control points on mesh vertices (so other vertices lie on polygon edges),
  // seeded targets; 21 x 21 vertices cover the four-lane blocks and the rest.
  m_Mvc.SwitchMeshBasedDeformation(20, 20, false, false, RNRgb(0, 0, 0), -1, 0, 1, 0, 1);
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> shift(-0.05, 0.05);
  for (const Points& orig : {Points{0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8},
                             Points{0.1, 0.5, 0.45, 0.15, 0.9, 0.3, 0.7, 0.95, 0.5, 0.5, 0.3, 0.85}}) {
    Points target = orig;
    for (double& v : target) v += shift(gen);
    SetPoints(orig, target);
    m_Mvc.MapMeshVertices();
    for (const auto& vertex : m_Mvc.m_Vertices) {
      double x = 0.0, y = 0.0;
      m_Mvc.MapPoint(vertex.m_fRestX, vertex.m_fRestY, x, y);
      ASSERT_NEAR(vertex.m_fX, x, 1e-15) << "vertex " << vertex.id;
      ASSERT_NEAR(vertex.m_fY, y, 1e-15) << "vertex " << vertex.id;
    }
  }
}
