#include "deform/DeformMLS.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "TestCommon.h"
#include "image/R2Image.h"
#include "linalg/LinAlgComplex.h"

namespace {

using Points = std::vector<double>;

// A deformator over a cells x cells mesh of the unit square.
std::unique_ptr<DeformMLS> MakeMLS(R2Image& image, DeformMLS::MLSErrorType type, int cells) {
  auto mls = std::make_unique<DeformMLS>(image, "mls", type);
  mls->SwitchMeshBasedDeformation(cells, cells, false, false, RNRgb(0, 0, 0), -1, 0, 1, 0, 1);
  return mls;
}

// Sets originals and targets and recomputes the mesh.
void DeformTo(DeformMLS& mls, const Points& orig, const Points& target) {
  mls.m_ControlPointsOrigPos = orig;
  mls.m_ControlPointsNewPos = target;
  mls.m_bNeedsUpdate = true;
  mls.Deform();
}

// Expects every vertex at map(rest position) within tol.
template <class Map>
void ExpectVerticesAt(const DeformMLS& mls, Map map, double tol) {
  for (const auto& vertex : mls.m_Vertices) {
    const auto [x, y] = map(vertex.m_fRestX, vertex.m_fRestY);
    ASSERT_NEAR(vertex.m_fX, x, tol) << "vertex " << vertex.id;
    ASSERT_NEAR(vertex.m_fY, y, tol) << "vertex " << vertex.id;
  }
}

// Five control points on vertices of a 10 x 10 mesh.
const Points kOrig = {0.2, 0.3, 0.7, 0.2, 0.8, 0.8, 0.3, 0.7, 0.5, 0.5};

Points MapPoints(const Points& points, double aRe, double aIm, double tx, double ty) {
  Points out;
  for (size_t k = 0; k < points.size(); k += 2) {
    out.push_back(aRe * points[k] - aIm * points[k + 1] + tx);
    out.push_back(aIm * points[k] + aRe * points[k + 1] + ty);
  }
  return out;
}

class DeformMLSBothTypes : public ::testing::TestWithParam<DeformMLS::MLSErrorType> {
 protected:
  R2Image m_Image{4, 4, 3};
};

}  // namespace

TEST(DeformMLS, SimilarityReproducesGlobalSimilarity) {
  R2Image image(4, 4, 3);
  auto mls = MakeMLS(image, DeformMLS::MLS_FIT_SIMILARITY, 10);
  // a = 1.3 * (cos 0.4 + i sin 0.4), then a translation.
  const double aRe = 1.3 * std::cos(0.4), aIm = 1.3 * std::sin(0.4);
  DeformTo(*mls, kOrig, MapPoints(kOrig, aRe, aIm, 0.05, -0.1));
  ExpectVerticesAt(
      *mls,
      [&](double x, double y) {
        return std::make_pair(aRe * x - aIm * y + 0.05, aIm * x + aRe * y - 0.1);
      },
      1e-12);
}

TEST(DeformMLS, RigidReproducesGlobalRigidMotion) {
  R2Image image(4, 4, 3);
  auto mls = MakeMLS(image, DeformMLS::MLS_RIGID, 10);
  const double c = std::cos(-0.7), s = std::sin(-0.7);
  DeformTo(*mls, kOrig, MapPoints(kOrig, c, s, 0.2, 0.03));
  ExpectVerticesAt(
      *mls, [&](double x, double y) { return std::make_pair(c * x - s * y + 0.2, s * x + c * y + 0.03); },
      1e-12);
}

TEST(DeformMLS, ScalingAboutAPointScalesWithSimilarityAndShiftsByCentroidsWhenRigid) {
  R2Image image(4, 4, 3);
  const double cx = 0.4, cy = 0.6;
  Points target;
  for (size_t k = 0; k < kOrig.size(); k += 2) {
    target.push_back(cx + 2 * (kOrig[k] - cx));
    target.push_back(cy + 2 * (kOrig[k + 1] - cy));
  }
  auto similarity = MakeMLS(image, DeformMLS::MLS_FIT_SIMILARITY, 10);
  DeformTo(*similarity, kOrig, target);
  ExpectVerticesAt(
      *similarity,
      [&](double x, double y) { return std::make_pair(cx + 2 * (x - cx), cy + 2 * (y - cy)); },
      1e-12);

  // Rigid: the rotation is the identity, so X -> X + q* - p*; with q = c + 2(p - c)
  // that is X + p* - c, p* the weighted mean with weights 1/(|p - X| + 1e-6)^2.
  auto rigid = MakeMLS(image, DeformMLS::MLS_RIGID, 10);
  DeformTo(*rigid, kOrig, target);
  ExpectVerticesAt(
      *rigid,
      [&](double x, double y) {
        double sum = 0, px = 0, py = 0;
        for (size_t k = 0; k < kOrig.size(); k += 2) {
          const double w = std::pow(std::hypot(kOrig[k] - x, kOrig[k + 1] - y) + 1e-6, -2);
          sum += w;
          px += w * kOrig[k];
          py += w * kOrig[k + 1];
        }
        return std::make_pair(x + px / sum - cx, y + py / sum - cy);
      },
      1e-12);
}

TEST_P(DeformMLSBothTypes, IdentityTranslationAndPointsFollowingTheirTargets) {
  auto mls = MakeMLS(m_Image, GetParam(), 10);
  DeformTo(*mls, kOrig, kOrig);
  ExpectVerticesAt(*mls, [](double x, double y) { return std::make_pair(x, y); }, 1e-14);

  DeformTo(*mls, kOrig, MapPoints(kOrig, 1, 0, -0.04, 0.07));
  ExpectVerticesAt(*mls, [](double x, double y) { return std::make_pair(x - 0.04, y + 0.07); },
                   1e-14);

  // An irregular move: a vertex on a control point lands on its target.
  const Points target = {0.25, 0.3, 0.7, 0.15, 0.85, 0.8, 0.3, 0.75, 0.45, 0.55};
  DeformTo(*mls, kOrig, target);
  for (size_t k = 0; k < kOrig.size(); k += 2) {
    const int i = static_cast<int>(std::lround(kOrig[k] * 10)), j =
                      static_cast<int>(std::lround(kOrig[k + 1] * 10));
    const auto& vertex = mls->m_Vertices[11 * i + j];
    EXPECT_NEAR(vertex.m_fX, target[k], 1e-9) << "point " << k / 2;
    EXPECT_NEAR(vertex.m_fY, target[k + 1], 1e-9) << "point " << k / 2;
  }
}

TEST_P(DeformMLSBothTypes, FastRouteMatchesSolverRoute) {
  // Seeded control points on vertices of a 20 x 20 mesh, targets moved by up
  // to 0.05; every vertex from Deform against QCONF_closed_MLS.
  std::mt19937 gen(1);
  std::uniform_int_distribution<int> cell(0, 20);
  std::uniform_real_distribution<double> shift(-0.05, 0.05);
  auto mls = MakeMLS(m_Image, GetParam(), 20);
  const int n = static_cast<int>(mls->m_Vertices.size());
  for (int points : {4, 8, 16}) {
    for (int trial = 0; trial < 3; ++trial) {
      Points orig, target;
      for (int k = 0; k < points; ++k) {
        const auto& vertex = mls->m_Vertices[21 * cell(gen) + cell(gen)];
        orig.push_back(vertex.m_fRestX);
        orig.push_back(vertex.m_fRestY);
        target.push_back(vertex.m_fRestX + shift(gen));
        target.push_back(vertex.m_fRestY + shift(gen));
      }
      DeformTo(*mls, orig, target);

      LinAlgVectorComplex P(points), tP(points), X(n), tX(n);
      for (int k = 0; k < points; ++k) {
        P(k) = LinAlgComplex(orig[2 * k], orig[2 * k + 1]);
        tP(k) = LinAlgComplex(target[2 * k], target[2 * k + 1]);
      }
      for (int v = 0; v < n; ++v) {
        X(v) = LinAlgComplex(mls->m_Vertices[v].m_fRestX, mls->m_Vertices[v].m_fRestY);
      }
      mls->QCONF_closed_MLS(P, tP, X, tX);
      for (int v = 0; v < n; ++v) {
        ASSERT_NEAR(mls->m_Vertices[v].m_fX, tX(v).m_fRe, 1e-12) << points << " points, vertex " << v;
        ASSERT_NEAR(mls->m_Vertices[v].m_fY, tX(v).m_fIm, 1e-12) << points << " points, vertex " << v;
      }
    }
  }
}

TEST_P(DeformMLSBothTypes, NoPointKeepsRestAndOneOrCoincidentPointsTranslate) {
  auto mls = MakeMLS(m_Image, GetParam(), 10);
  DeformTo(*mls, {0.5, 0.5}, {0.6, 0.45});
  ExpectVerticesAt(*mls, [](double x, double y) { return std::make_pair(x + 0.1, y - 0.05); },
                   1e-14);
  // Two points on one vertex, one dragged: equal weights, mean displacement.
  DeformTo(*mls, {0.5, 0.5, 0.5, 0.5}, {0.6, 0.5, 0.5, 0.5});
  ExpectVerticesAt(*mls, [](double x, double y) { return std::make_pair(x + 0.05, y); }, 1e-14);
  // After the window's "c" the next frame deforms with no point: the rest mesh.
  mls->ClearControls(false);
  mls->m_bNeedsUpdate = true;
  mls->Deform();
  ExpectVerticesAt(*mls, [](double x, double y) { return std::make_pair(x, y); }, 0.0);

  // The solver route agrees on the single point.
  LinAlgVectorComplex P(1), tP(1), X(1), tX(1);
  P(0) = LinAlgComplex(0.5, 0.5);
  tP(0) = LinAlgComplex(0.6, 0.45);
  X(0) = LinAlgComplex(0.2, 0.9);
  mls->QCONF_closed_MLS(P, tP, X, tX);
  EXPECT_NEAR(tX(0).m_fRe, 0.3, 1e-14);
  EXPECT_NEAR(tX(0).m_fIm, 0.85, 1e-14);
}

TEST_P(DeformMLSBothTypes, PixelModeAndMissingMeshNeverReachAnAssertion) {
  DeformMLS pixel(m_Image, "pixel", GetParam());
  DeformMLS noMesh(m_Image, "empty", GetParam());
  noMesh.SwitchMeshBasedDeformation(-1, -1, false, false, RNRgb(0, 0, 0), -1, 0, 1, 0, 1);
  for (DeformMLS* mls : {&pixel, &noMesh}) {
    warpix_test::CoutCapture capture;
    double x = 0.0, y = 0.0;
    for (double c : {0.26, 0.5, 0.74, 0.3}) mls->AddControlPoint(c, 1 - c, &x, &y);
    EXPECT_EQ(x, 0.3);  // the clicked position is kept
    EXPECT_EQ(y, 0.7);
    mls->SelectControlPoint(0.5, 0.5);
    mls->MoveSelectedControlPoint(0.55, 0.5);
    EXPECT_EQ(mls->m_ControlPointsNewPos[2], 0.55);
    mls->m_bNeedsUpdate = true;
    mls->Deform();
    mls->ClearControls(true);  // the "s" key
    mls->ClearControls(false);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, DeformMLSBothTypes,
                         ::testing::Values(DeformMLS::MLS_FIT_SIMILARITY, DeformMLS::MLS_RIGID));

TEST(DeformMLS, SnapsToTheNearestVertexAndPrintsWhereItLanded) {
  R2Image image(4, 4, 3);
  auto mls = MakeMLS(image, DeformMLS::MLS_RIGID, 10);
  warpix_test::CoutCapture capture;
  double x = 0.0, y = 0.0;
  mls->AddControlPoint(0.26, 0.74, &x, &y);
  EXPECT_EQ(capture.str(), "actual=[0.3, 0.7]\n");
  EXPECT_EQ(x, mls->m_Vertices[11 * 3 + 7].m_fX);
  EXPECT_EQ(y, mls->m_Vertices[11 * 3 + 7].m_fY);
  EXPECT_EQ(mls->m_ControlPointsOrigPos, (Points{x, y}));
  EXPECT_EQ(mls->m_ControlPointsNewPos, (Points{x, y}));
  // Halfway between two vertices the lower index wins.
  mls->AddControlPoint(0.25, 0.5, &x, &y);
  EXPECT_EQ(x, mls->m_Vertices[11 * 2 + 5].m_fX);
}

TEST(DeformMLS, DeformHonoursTheUpdateFlagAndMapPointIsUnavailable) {
  R2Image image(4, 4, 3);
  auto mls = MakeMLS(image, DeformMLS::MLS_FIT_SIMILARITY, 4);
  mls->m_ControlPointsOrigPos = {0.5, 0.5};
  mls->m_ControlPointsNewPos = {0.6, 0.5};
  mls->m_bNeedsUpdate = false;
  mls->Deform();
  EXPECT_EQ(mls->m_Vertices[0].m_fX, 0.0);
  mls->m_bNeedsUpdate = true;
  mls->Deform();
  EXPECT_FALSE(mls->m_bNeedsUpdate);
  EXPECT_NEAR(mls->m_Vertices[0].m_fX, 0.1, 1e-15);
  mls->MapMeshVertices();  // leaves Deform's positions
  EXPECT_NEAR(mls->m_Vertices[0].m_fX, 0.1, 1e-15);

  double x = 0.0, y = 0.0;
  EXPECT_DEATH(mls->MapPoint(0.5, 0.5, x, y), "false");
  LinAlgVectorComplex two(2), one(1);
  EXPECT_DEATH(mls->QCONF_closed_MLS(two, one, one, one), "tP.Rows\\(\\)==P.Rows\\(\\)");
}
