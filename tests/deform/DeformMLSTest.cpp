// (Rest, motions of each fit's kind, vertices under the points, pixel mode
// and meshes without vertices: DeformPropertiesTest; the snap: SnapTest.)
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
    deform_test::Shown(m_Mls);
    for (const auto& v : m_Mls.m_Vertices) {
      warpix_test::expectNear({v.m_fX, v.m_fY}, {tX(v.id).m_fRe, tX(v.id).m_fIm}, 1e-12, "solver");
      if (map) warpix_test::expectNear({v.m_fX, v.m_fY}, map(v.m_fRestX, v.m_fRestY), tol, "map");
    }
  }
  void ExpectDeformed(const Points& orig, const Points& target, const AffineMap& m, double tol) {
    ExpectDeformed(orig, target, [&](double x, double y) { return Affine({x, y}, m); }, tol);
  }
  R2Image m_Image{4, 4, 3};
  DeformMLS m_Mls{m_Image, "mls", GetParam()};
};

}  // namespace

TEST_P(DeformMLSTest, ScaledTargetsFollowTheClosedForm) {
  // Targets scaled by 2 about c: the similarity scales the mesh the same way;
  // the rigid fit keeps rotation 1 and moves X by q* - p* = p* - c, with p*
  // the mean of the originals weighted by 1/(|p - X| + 1e-6)^2.
  const double cx = 0.4, cy = 0.6;
  ExpectDeformed(kOrig, Affine(kOrig, {2, 0, 0, 2, -cx, -cy}), [&](double x, double y) {
    if (GetParam() != DeformMLS::MLS_RIGID) return Points{2 * x - cx, 2 * y - cy};
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

INSTANTIATE_TEST_SUITE_P(Types, DeformMLSTest, ::testing::Values(DeformMLS::MLS_FIT_SIMILARITY, DeformMLS::MLS_RIGID));
