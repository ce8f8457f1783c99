#include "deform/DeformMLS.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "TestCommon.h"
#include "image/R2Image.h"
#include "linalg/LinAlgComplex.h"

namespace {

using Points = std::vector<double>;
using PointMap = std::function<std::pair<double, double>(double, double)>;

// Five control points on vertices of a 10 x 10 mesh.
const Points kOrig = {0.2, 0.3, 0.7, 0.2, 0.8, 0.8, 0.3, 0.7, 0.5, 0.5};

// The similarity z -> (aRe + i aIm) z + t of every point.
Points Similar(const Points& points, double aRe, double aIm, double tx, double ty) {
  Points out;
  for (size_t k = 0; k < points.size(); k += 2) {
    out.push_back(aRe * points[k] - aIm * points[k + 1] + tx);
    out.push_back(aIm * points[k] + aRe * points[k + 1] + ty);
  }
  return out;
}

class DeformMLSTest : public ::testing::TestWithParam<DeformMLS::MLSErrorType> {
 protected:
  R2Image m_Image{4, 4, 3};
  DeformMLS m_Mls{m_Image, "mls", GetParam()};

  void SetUp() override {
    warpix_test::CoutCapture quiet;
    m_Mls.SwitchMeshBasedDeformation(10, 10, false, false, RNRgb(0, 0, 0), -1, 0, 1, 0, 1);
  }
  void DeformTo(const Points& orig, const Points& target) {
    m_Mls.m_ControlPointsOrigPos = orig;
    m_Mls.m_ControlPointsNewPos = target;
    m_Mls.m_bNeedsUpdate = true;
    m_Mls.Deform();
  }
  // Deforms and expects every vertex at map(rest position).
  void ExpectDeformed(const Points& orig, const Points& target, const PointMap& map, double tol) {
    DeformTo(orig, target);
    for (const auto& vertex : m_Mls.m_Vertices) {
      const auto [x, y] = map(vertex.m_fRestX, vertex.m_fRestY);
      ASSERT_NEAR(vertex.m_fX, x, tol) << "vertex " << vertex.id;
      ASSERT_NEAR(vertex.m_fY, y, tol) << "vertex " << vertex.id;
    }
  }
  bool Rigid() const { return GetParam() == DeformMLS::MLS_RIGID; }
};

}  // namespace

TEST_P(DeformMLSTest, ReproducesGlobalMotionsOfItsKind) {
  // Similarity: rotation, scale 1.3 and translation; rigid: scale 1.
  const double scale = Rigid() ? 1.0 : 1.3;
  const double aRe = scale * std::cos(0.4), aIm = scale * std::sin(0.4);
  ExpectDeformed(kOrig, Similar(kOrig, aRe, aIm, 0.05, -0.1), [&](double x, double y) {
    return std::make_pair(aRe * x - aIm * y + 0.05, aIm * x + aRe * y - 0.1);
  }, 1e-12);
  ExpectDeformed(kOrig, kOrig, [](double x, double y) { return std::make_pair(x, y); }, 1e-14);
}

TEST_P(DeformMLSTest, ScalingAboutAPointScalesOrShiftsByTheCentroids) {
  // Targets scaled by 2 about c: the similarity scales the mesh the same way;
  // the rigid fit keeps rotation 1 and moves X by q* - p* = p* - c, with p*
  // the mean of the originals weighted by 1/(|p - X| + 1e-6)^2.
  const double cx = 0.4, cy = 0.6;
  const Points target = Similar(kOrig, 2, 0, -cx, -cy);
  ExpectDeformed(kOrig, target, [&](double x, double y) {
    if (!Rigid()) return std::make_pair(2 * x - cx, 2 * y - cy);
    double sum = 0, px = 0, py = 0;
    for (size_t k = 0; k < kOrig.size(); k += 2) {
      const double w = std::pow(std::hypot(kOrig[k] - x, kOrig[k + 1] - y) + 1e-6, -2);
      sum += w;
      px += w * kOrig[k];
      py += w * kOrig[k + 1];
    }
    return std::make_pair(x + px / sum - cx, y + py / sum - cy);
  }, 1e-12);
}

TEST_P(DeformMLSTest, VerticesOnControlPointsFollowTheirTargets) {
  const Points target = {0.25, 0.3, 0.7, 0.15, 0.85, 0.8, 0.3, 0.75, 0.45, 0.55};
  DeformTo(kOrig, target);
  for (size_t k = 0; k < kOrig.size(); k += 2) {
    const auto& vertex =
        m_Mls.m_Vertices[std::lround(kOrig[k] * 10) * 11 + std::lround(kOrig[k + 1] * 10)];
    EXPECT_NEAR(vertex.m_fX, target[k], 1e-9) << "point " << k / 2;
    EXPECT_NEAR(vertex.m_fY, target[k + 1], 1e-9) << "point " << k / 2;
  }
}

TEST_P(DeformMLSTest, FastRouteMatchesSolverRoute) {
  // Seeded control points on mesh vertices, targets moved by up to 0.05;
  // every vertex from Deform against QCONF_closed_MLS (121 = 30 blocks + 1).
  std::mt19937 gen(1);
  std::uniform_int_distribution<int> vertex(0, 120);
  std::uniform_real_distribution<double> shift(-0.05, 0.05);
  const int n = 121;
  for (int m : {4, 8, 16}) {
    Points orig, target;
    LinAlgVectorComplex P(m), tP(m), X(n), tX(n);
    for (int k = 0; k < m; ++k) {
      const auto& v = m_Mls.m_Vertices[vertex(gen)];
      P(k) = LinAlgComplex(v.m_fRestX, v.m_fRestY);
      tP(k) = LinAlgComplex(v.m_fRestX + shift(gen), v.m_fRestY + shift(gen));
      orig.insert(orig.end(), {P(k).m_fRe, P(k).m_fIm});
      target.insert(target.end(), {tP(k).m_fRe, tP(k).m_fIm});
    }
    for (int i = 0; i < n; ++i) {
      X(i) = LinAlgComplex(m_Mls.m_Vertices[i].m_fRestX, m_Mls.m_Vertices[i].m_fRestY);
    }
    m_Mls.QCONF_closed_MLS(P, tP, X, tX);
    ExpectDeformed(orig, target, [&](double x, double y) {
      const int i = std::lround(x * 10) * 11 + std::lround(y * 10);
      return std::make_pair(tX(i).m_fRe, tX(i).m_fIm);
    }, 1e-12);
  }
}

TEST_P(DeformMLSTest, NoPointKeepsTheRestMeshAndOneOrCoincidentPointsTranslate) {
  auto shifted = [](double dx, double dy) -> PointMap {
    return [=](double x, double y) { return std::make_pair(x + dx, y + dy); };
  };
  ExpectDeformed({}, {}, shifted(0, 0), 0.0);
  ExpectDeformed({0.5, 0.5}, {0.6, 0.45}, shifted(0.1, -0.05), 1e-14);
  // Two points on one vertex, one dragged: equal weights, the mean displacement.
  ExpectDeformed({0.5, 0.5, 0.5, 0.5}, {0.6, 0.5, 0.5, 0.5}, shifted(0.05, 0), 1e-14);
  // A replayed history can hold any finite position: weights of a point far
  // beyond the mesh underflow and the mesh stays at rest instead of NaN.
  ExpectDeformed({1e300, 0.5}, {1e300, 0.6}, shifted(0, 0), 0.0);
  LinAlgVectorComplex P(1), tP(1), X(1), tX(1);
  P(0) = LinAlgComplex(0.5, 0.5);
  tP(0) = LinAlgComplex(0.6, 0.45);
  X(0) = LinAlgComplex(0.2, 0.9);
  m_Mls.QCONF_closed_MLS(P, tP, X, tX);
  EXPECT_NEAR(tX(0).m_fRe, 0.3, 1e-14);
  EXPECT_NEAR(tX(0).m_fIm, 0.85, 1e-14);
}

TEST_P(DeformMLSTest, PixelModeAndMissingMeshNeverReachAnAssertion) {
  DeformMLS pixel(m_Image, "pixel", GetParam());
  DeformMLS noMesh(m_Image, "empty", GetParam());
  warpix_test::CoutCapture quiet;
  noMesh.SwitchMeshBasedDeformation(-1, -1, false, false, RNRgb(0, 0, 0), -1, 0, 1, 0, 1);
  for (DeformMLS* mls : {&pixel, &noMesh}) {
    double x = 0.0, y = 0.0;
    for (double c : {0.26, 0.5, 0.74, 0.3}) mls->AddControlPoint(c, 1 - c, &x, &y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(0.3, 0.7));  // clicked position kept
    mls->SelectControlPoint(0.5, 0.5);
    mls->MoveSelectedControlPoint(0.55, 0.5);
    EXPECT_EQ(mls->m_ControlPointsNewPos[2], 0.55);
    mls->ClearControls(true);  // the "s" key
    mls->ClearControls(false);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, DeformMLSTest,
                         ::testing::Values(DeformMLS::MLS_FIT_SIMILARITY, DeformMLS::MLS_RIGID));

TEST(DeformMLS, SnapsToTheNearestVertexPrintsItAndNeverMapsSinglePoints) {
  R2Image image(4, 4, 3);
  DeformMLS mls(image, "mls", DeformMLS::MLS_RIGID);
  double x = 0.0, y = 0.0;
  {
    warpix_test::CoutCapture capture;
    mls.SwitchMeshBasedDeformation(10, 10, false, false, RNRgb(0, 0, 0), -1, 0, 1, 0, 1);
    mls.AddControlPoint(0.26, 0.74, &x, &y);
    EXPECT_EQ(capture.str(), "Mesh Based Deformation\nactual=[0.3, 0.7]\n");
  }
  EXPECT_EQ(x, mls.m_Vertices[40].m_fX);  // vertex (3, 7)
  EXPECT_EQ(y, mls.m_Vertices[40].m_fY);
  EXPECT_EQ(mls.m_ControlPointsOrigPos, (Points{x, y}));
  EXPECT_EQ(mls.m_ControlPointsNewPos, (Points{x, y}));
  mls.AddControlPoint(0.25, 0.5, &x, &y);  // halfway: the lower index wins
  EXPECT_EQ(x, mls.m_Vertices[27].m_fX);

  // Deform runs once per drawn frame; MapMeshVertices keeps its positions.
  mls.m_ControlPointsNewPos = {0.35, 0.7, x, y};
  mls.m_bNeedsUpdate = false;
  mls.Deform();
  EXPECT_EQ(mls.m_Vertices[0].m_fX, 0.0);
  mls.m_bNeedsUpdate = true;
  mls.Deform();
  const double moved = mls.m_Vertices[0].m_fX;
  EXPECT_NE(moved, 0.0);
  mls.MapMeshVertices();
  EXPECT_EQ(mls.m_Vertices[0].m_fX, moved);

  EXPECT_DEATH(mls.MapPoint(0.5, 0.5, x, y), "false");
  LinAlgVectorComplex two(2), one(1);
  EXPECT_DEATH(mls.QCONF_closed_MLS(two, one, one, one), "tP.Rows\\(\\)==P.Rows\\(\\)");
}
