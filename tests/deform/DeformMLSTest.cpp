#include "deform/DeformMLS.h"

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "DeformTesting.h"
#include "linalg/LinAlgComplex.h"

namespace {

using deform_test::Affine;
using deform_test::AffineMap;
using deform_test::Points;

// Five control points on vertices of a 10 x 10 mesh.
const Points kOrig = {0.2, 0.3, 0.7, 0.2, 0.8, 0.8, 0.3, 0.7, 0.5, 0.5};

class DeformMLSTest : public ::testing::TestWithParam<DeformMLS::MLSErrorType> {
 protected:
  void SetUp() override { deform_test::Mesh(m_Mls, 10, 10); }
  // Deforms (the closed-form route) and expects every vertex at the dense
  // solver's image of its rest position to 1e-12 and, given a map, at
  // map(rest position) within tol.
  void ExpectDeformed(const Points& orig, const Points& target,
                      const std::function<Points(double, double)>& map = nullptr, double tol = 0.0) {
    // The solver's vectors need one entry at least: no point, no solve (the rest mesh).
    const int m = static_cast<int>(orig.size() / 2), n = static_cast<int>(m_Mls.m_Vertices.size());
    LinAlgVectorComplex P(m + (m == 0)), tP(m + (m == 0)), X(n), tX(n);
    for (int k = 0; k < m; ++k) {
      P(k) = LinAlgComplex(orig[2 * k], orig[2 * k + 1]);
      tP(k) = LinAlgComplex(target[2 * k], target[2 * k + 1]);
    }
    for (const auto& v : m_Mls.m_Vertices) X(v.id) = tX(v.id) = LinAlgComplex(v.m_fRestX, v.m_fRestY);
    if (m > 0) m_Mls.QCONF_closed_MLS(P, tP, X, tX);
    m_Mls.m_ControlPointsOrigPos = orig;
    m_Mls.m_ControlPointsNewPos = target;
    m_Mls.m_bNeedsUpdate = true;
    m_Mls.Deform();
    for (const auto& v : m_Mls.m_Vertices) {
      warpix_test::expectNear({v.m_fX, v.m_fY}, {tX(v.id).m_fRe, tX(v.id).m_fIm}, 1e-12, "solver");
      if (map) warpix_test::expectNear({v.m_fX, v.m_fY}, map(v.m_fRestX, v.m_fRestY), tol, "map");
    }
  }
  void ExpectDeformed(const Points& orig, const Points& target, const AffineMap& m, double tol) {
    ExpectDeformed(orig, target, [&](double x, double y) { return Affine({x, y}, m); }, tol);
  }
  bool Rigid() const { return GetParam() == DeformMLS::MLS_RIGID; }
  R2Image m_Image{4, 4, 3};
  DeformMLS m_Mls{m_Image, "mls", GetParam()};
};

}  // namespace

TEST_P(DeformMLSTest, ReproducesMotionsOfItsKindAndVerticesOnPointsFollowTheirTargets) {
  // Rotation, scale 1.3 (rigid: 1) and translation; the identity.
  const double s = Rigid() ? 1.0 : 1.3, c = s * std::cos(0.4), n = s * std::sin(0.4);
  for (const AffineMap& m : {AffineMap{c, -n, n, c, 0.05, -0.1}, AffineMap{1, 0, 0, 1, 0, 0}}) {
    ExpectDeformed(kOrig, Affine(kOrig, m), m, 1e-12);
  }
  const Points target = {0.25, 0.3, 0.7, 0.15, 0.85, 0.8, 0.3, 0.75, 0.45, 0.55};
  ExpectDeformed(kOrig, target);
  for (size_t k = 0; k < kOrig.size(); k += 2) {
    const auto& v = m_Mls.m_Vertices[std::lround(kOrig[k] * 10) * 11 + std::lround(kOrig[k + 1] * 10)];
    warpix_test::expectNear({v.m_fX, v.m_fY}, {target[k], target[k + 1]}, 1e-9, "on a point");
  }
  // Targets scaled by 2 about c: the similarity scales the mesh the same way;
  // the rigid fit keeps rotation 1 and moves X by q* - p* = p* - c, with p*
  // the mean of the originals weighted by 1/(|p - X| + 1e-6)^2.
  const double cx = 0.4, cy = 0.6;
  ExpectDeformed(kOrig, Affine(kOrig, {2, 0, 0, 2, -cx, -cy}), [&](double x, double y) {
    if (!Rigid()) return Points{2 * x - cx, 2 * y - cy};
    double sum = 0, px = 0, py = 0;
    for (size_t k = 0; k < kOrig.size(); k += 2) {
      const double w = std::pow(std::hypot(kOrig[k] - x, kOrig[k + 1] - y) + 1e-6, -2);
      sum += w;
      px += w * kOrig[k];
      py += w * kOrig[k + 1];
    }
    return Points{x + px / sum - cx, y + py / sum - cy};
  }, 1e-12);
}

TEST_P(DeformMLSTest, SeededConfigurationsMatchTheSolverAndFewPointsTranslate) {
  // Control points on random vertices, targets moved by up to 0.05; 121
  // vertices are 30 four-vertex blocks and one left over.
  std::mt19937 gen(1);
  std::uniform_int_distribution<int> vertex(0, 120);
  std::uniform_real_distribution<double> shift(-0.05, 0.05);
  for (int m : {4, 8, 16}) {
    Points orig, target;
    for (int k = 0; k < m; ++k) {
      const auto& v = m_Mls.m_Vertices[vertex(gen)];
      orig.insert(orig.end(), {v.m_fRestX, v.m_fRestY});
      target.insert(target.end(), {v.m_fRestX + shift(gen), v.m_fRestY + shift(gen)});
    }
    ExpectDeformed(orig, target);
  }
  // No point: the rest mesh; one point, or two on one vertex with one dragged
  // (equal weights, the mean displacement): a translation. A replayed history
  // can hold any finite position: weights of a point far beyond the mesh
  // underflow and the mesh stays at rest instead of NaN.
  ExpectDeformed({}, {}, {1, 0, 0, 1, 0, 0}, 0.0);
  ExpectDeformed({0.5, 0.5}, {0.6, 0.45}, {1, 0, 0, 1, 0.1, -0.05}, 1e-14);
  ExpectDeformed({0.5, 0.5, 0.5, 0.5}, {0.6, 0.5, 0.5, 0.5}, {1, 0, 0, 1, 0.05, 0}, 1e-14);
  ExpectDeformed({1e300, 0.5}, {1e300, 0.6}, {1, 0, 0, 1, 0, 0}, 0.0);
}

TEST_P(DeformMLSTest, PixelModeAndMissingMeshNeverReachAnAssertion) {
  DeformMLS pixel(m_Image, "pixel", GetParam()), noMesh(m_Image, "empty", GetParam());
  deform_test::Mesh(noMesh, -1, -1);
  for (DeformMLS* mls : {&pixel, &noMesh}) {
    double x = 0.0, y = 0.0;
    for (double c : {0.26, 0.5, 0.74, 0.3}) mls->AddControlPoint(c, 1 - c, &x, &y);
    EXPECT_EQ(Points({x, y}), Points({0.3, 0.7}));  // clicked position kept
    mls->SelectControlPoint(0.5, 0.5);
    mls->MoveSelectedControlPoint(0.55, 0.5);
    EXPECT_EQ(mls->m_ControlPointsNewPos[2], 0.55);
    warpix_test::CoutCapture quiet;
    mls->ClearControls(true);  // the "s" key
    mls->ClearControls(false);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, DeformMLSTest, ::testing::Values(DeformMLS::MLS_FIT_SIMILARITY, DeformMLS::MLS_RIGID));

TEST(DeformMLS, SnapsToTheNearestVertexAndPrintsIt) {
  R2Image image(4, 4, 3);
  DeformMLS mls(image, "mls", DeformMLS::MLS_RIGID);
  deform_test::Mesh(mls, 10, 10);
  double x = 0.0, y = 0.0;
  warpix_test::CoutCapture capture;
  mls.AddControlPoint(0.26, 0.74, &x, &y);
  EXPECT_EQ(capture.str(), "actual=[0.3, 0.7]\n");
  const Points vertex40 = {mls.m_Vertices[40].m_fX, mls.m_Vertices[40].m_fY};  // vertex (3, 7)
  EXPECT_EQ((std::vector<Points>{{x, y}, mls.m_ControlPointsOrigPos, mls.m_ControlPointsNewPos}),
            std::vector<Points>(3, vertex40));
  mls.AddControlPoint(0.25, 0.5, &x, &y);  // halfway: the lower index wins
  EXPECT_EQ(x, mls.m_Vertices[27].m_fX);
}
