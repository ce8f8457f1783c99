// (Rest, similarity and rigid targets, the vertices under the points, clicks
// against loaded points, save and replay, pixel mode and points on one spot:
// DeformPropertiesTest.)
#include "deform/DeformAsRigidAsPossible.h"

#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DeformTesting.h"
#include "TestCommon.h"
#include "deform/quasiconf/DeformQuasiConf.h"

namespace {

using deform_test::Points;
using deform_test::Positions;
using warpix_test::CoutCapture;
using ARAP = DeformAsRigidAsPossible;

struct Options {
  bool rescale = false;
  bool quasiConf = false;
  bool dense = false;
  int cells = 6;
};

std::unique_ptr<ARAP> Make(R2Image& image, Options o) {
  auto d = std::make_unique<ARAP>(o.quasiConf, o.rescale, image, "arap");
  deform_test::Mesh(*d, o.cells, o.cells);
  d->m_bDenseRoute = o.dense;
  return d;
}

// Points added as the window adds them (snapped, printed lines swallowed).
void Add(ARAP& d, const Points& p) {
  CoutCapture quiet;
  for (size_t k = 0; k + 1 < p.size(); k += 2) d.AddControlPoint(p[k], p[k + 1], nullptr, nullptr);
}

// Moves every target and deforms.
Points Drag(ARAP& d, Points targets) {
  CoutCapture quiet;
  d.MoveAllControlPoints(targets);
  return Positions(d, false);
}

const Points kFour = {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.7};

Points Moved(const Points& p, double seedOffset = 0.0) {
  std::mt19937 gen(11 + static_cast<int>(seedOffset));
  std::uniform_real_distribution<double> u(-0.08, 0.08);
  Points out = p;
  for (double& v : out) v += u(gen);
  return out;
}

// The step-1 energy of the current positions, written out independently of
// the assembly: for every face and each (edge, opposite vertex) triple, the
// squared distance of the vertex from where the rest shape puts it.
double Step1Energy(const ARAP& d) {
  double e = 0.0;
  for (const auto& f : d.m_Faces) {
    const int t[3][3] = {{f.m_iV0, f.m_iV1, f.m_iV2}, {f.m_iV0, f.m_iV2, f.m_iV1}, {f.m_iV1, f.m_iV2, f.m_iV0}};
    for (const auto& tr : t) {
      const auto &a = d.m_Vertices[tr[0]], &b = d.m_Vertices[tr[1]], &c = d.m_Vertices[tr[2]];
      // Rest shape as a complex ratio: c - a = z (b - a).
      const std::complex<double> ra(a.m_fRestX, a.m_fRestY), rb(b.m_fRestX, b.m_fRestY),
          rc(c.m_fRestX, c.m_fRestY);
      const std::complex<double> z = (rc - ra) / (rb - ra);
      const std::complex<double> pa(a.m_fX, a.m_fY), pb(b.m_fX, b.m_fY), pc(c.m_fX, c.m_fY);
      e += std::norm(pa + z * (pb - pa) - pc);
    }
  }
  return e;
}

}  // namespace

TEST(DeformAsRigidAsPossible, FittedTriangleIsTheLeastSquaresSimilarShapeRescaled) {
  using V = Warpixator::ImgVertex;
  const double h = std::sqrt(3.0) / 2;
  V a, b, c;
  a.m_fX = 0.1, a.m_fY = 0.2;
  b.m_fX = 1.1, b.m_fY = 0.2;
  c.m_fX = 0.6, c.m_fY = 0.2 + h;  // left of the edge a -> b
  ARAP::FittedTriangle t(a, b, c, 0);
  for (double v : {t.x0f - a.m_fX, t.y0f - a.m_fY, t.x1f - b.m_fX, t.y1f - b.m_fY, t.x2f - c.m_fX, t.y2f - c.m_fY})
    EXPECT_LT(std::fabs(v), 1e-6);
  // Against an independent least-squares fit of the similar triangle to a
  // distorted one: f0, f1 free, f2 = f0 + z (f1 - f0) with the rest ratio z;
  // minimise |f0-p0|^2 + |f1-p1|^2 + |f2-p2|^2 by its normal equations.
  const std::complex<double> z(0.5, h), p0(0.0, 0.0), p1(1.2, 0.1), p2(0.3, 0.7);
  const std::complex<double> A = 1.0 - z, B = z;  // f2 = A f0 + B f1
  // d/d f0: (f0 - p0) + conj(A)(A f0 + B f1 - p2) = 0; d/d f1 likewise.
  const std::complex<double> m00 = 1.0 + std::norm(A), m01 = std::conj(A) * B, m11 = 1.0 + std::norm(B);
  const std::complex<double> r0 = p0 + std::conj(A) * p2, r1 = p1 + std::conj(B) * p2;
  const std::complex<double> det = m00 * m11 - m01 * std::conj(m01);
  const std::complex<double> f0 = (r0 * m11 - m01 * r1) / det, f1 = (m00 * r1 - std::conj(m01) * r0) / det;
  const std::complex<double> f2 = A * f0 + B * f1;
  t.GetFittedTriangle(p0.real(), p0.imag(), p1.real(), p1.imag(), p2.real(), p2.imag());
  // The documented scale step: s = |f0 - f1| / |p0 - p1| about the centroid.
  const double s = std::abs(f0 - f1) / std::abs(p0 - p1);
  const std::complex<double> m = (f0 + f1 + f2) / 3.0;
  const std::complex<double> want[3] = {m + s * (f0 - m), m + s * (f1 - m), m + s * (f2 - m)};
  warpix_test::expectNear({t.x0f, t.y0f, t.x1f, t.y1f, t.x2f, t.y2f}, {want[0].real(), want[0].imag(), want[1].real(),
                          want[1].imag(), want[2].real(), want[2].imag()}, 1e-12, "fitted");
  // Collapsed corners give finite fitted corners (no 0 / 0 scale).
  t.GetFittedTriangle(0.5, 0.5, 0.5, 0.5, 0.5, 0.5);
  for (double v : {t.x0f, t.y0f, t.x1f, t.y1f, t.x2f, t.y2f}) EXPECT_NEAR(v, 0.5, 1e-12);
  t.GetFittedTriangle(0.5, 0.5, 0.5, 0.5, 0.9, 0.5);
  for (double v : {t.x0f, t.y0f, t.x1f, t.y1f, t.x2f, t.y2f}) EXPECT_TRUE(std::isfinite(v));
  // A shape with no first edge cannot be fitted, nor one too thin for double
  // precision (a first edge of 1e-8 with the third corner 0.3 away: its fit
  // matrix is singular, or its fit misses the corners by far more than the
  // tolerance): the corners pass through.
  for (const double width : {0.0, 1e-8, 1e-7}) {
    V p = a, q = a, r = a;
    q.m_fY += width;
    r.m_fX += 0.3;
    ARAP::FittedTriangle thin(p, q, r, 2);
    EXPECT_FALSE(thin.Valid()) << width;
    thin.GetFittedTriangle(1, 2, 3, 4, 5, 6);
    EXPECT_TRUE(thin.x0f == 1 && thin.y1f == 4 && thin.y2f == 6) << width;
  }
}

TEST(DeformAsRigidAsPossible, BelowFourPointsOnlyThePointsVerticesMove) {
  R2Image image(4, 4, 3);
  auto d = Make(image, {});
  Add(*d, {0.31, 0.02, 0.9, 0.9, 0.1, 0.8});  // the first on vertex (2, 0) of the 6 x 6 mesh
  EXPECT_FALSE(d->Prepared());
  Points expect = Positions(*d, false);
  Points t = d->m_ControlPointsNewPos;
  t[0] += 0.05;
  d->MoveAllControlPoints(t);
  expect[2 * (2 * 7 + 0)] = t[0];
  EXPECT_EQ(Positions(*d, false), expect);
  Add(*d, {0.5, 0.5});
  EXPECT_TRUE(d->Prepared());
}

TEST(DeformAsRigidAsPossible, StepOneMinimisesTheEnergyAndStepTwoMatchesTheFittedTriangles) {
  R2Image image(4, 4, 3);
  for (bool rescale : {false, true}) {
    auto d = Make(image, {rescale});
    Add(*d, {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.7, 0.5, 0.5});
    Points targets = Moved(d->m_ControlPointsOrigPos);
    const Points shown = Drag(*d, targets);
    if (rescale) {
      // Step 2 is the least-squares match of every face's edges to its
      // fitted triangle (held as last fitted, from the step-1 positions):
      // the gradient of sum |(vi - vj) - (fi - fj)|^2 over the face pairs
      // vanishes at every free vertex.
      std::vector<double> grad(2 * d->m_Vertices.size(), 0.0);
      for (const auto& t : d->m_FittedTriangles) {
        const auto& f = d->m_Faces[t->m_iFace];
        const int v[3] = {f.m_iV0, f.m_iV1, f.m_iV2};
        const double fx[3] = {t->x0f, t->x1f, t->x2f}, fy[3] = {t->y0f, t->y1f, t->y2f};
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) {
            if (i == j) continue;
            const auto &a = d->m_Vertices[v[i]], &b = d->m_Vertices[v[j]];
            grad[2 * v[i]] += 2 * ((a.m_fX - b.m_fX) - (fx[i] - fx[j]));
            grad[2 * v[i] + 1] += 2 * ((a.m_fY - b.m_fY) - (fy[i] - fy[j]));
          }
      }
      for (int v : d->m_FreeParamToVertex) {
        ASSERT_TRUE(std::fmax(std::fabs(grad[2 * v]), std::fabs(grad[2 * v + 1])) < 1e-10) << v;
      }
      // Twice the same targets: the same vertices (the factors are reused).
      EXPECT_EQ(Drag(*d, targets), shown);
      continue;
    }
    // Every free coordinate is at a minimum of the energy: moving it either
    // way by h raises the energy by about the curvature times h^2 only.
    const double e0 = Step1Energy(*d), h = 1e-5;
    for (int v : d->m_FreeParamToVertex) {
      for (double* x : {&d->m_Vertices[v].m_fX, &d->m_Vertices[v].m_fY}) {
        const double keep = *x;
        *x = keep + h;
        const double plus = Step1Energy(*d);
        *x = keep - h;
        const double minus = Step1Energy(*d);
        *x = keep;
        ASSERT_TRUE(std::fabs(plus - minus) / (2 * h) < 1e-8 && plus + minus - 2 * e0 > 0.0) << "vertex " << v;
      }
    }
  }
}

TEST(DeformAsRigidAsPossible, DenseAndSparseRoutesAgree) {
  R2Image image(4, 4, 3);
  for (int cells : {3, 6, 11}) {
    for (bool rescale : {false, true}) {
      auto sparse = Make(image, {rescale, false, false, cells});
      auto dense = Make(image, {rescale, false, true, cells});
      const Points pts = {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.7, 0.45, 0.55, 0.6, 0.35};
      Add(*sparse, pts);
      Add(*dense, pts);
      ASSERT_TRUE(dense->m_pStep1Map && sparse->m_pStep1Map);
      ASSERT_EQ(dense->m_pStep2H != nullptr, rescale);  // the dense route ran
      for (int seed = 0; seed < 3; ++seed) {
        const Points targets = Moved(sparse->m_ControlPointsOrigPos, seed);
        warpix_test::expectNear(Drag(*sparse, targets), Drag(*dense, targets), 1e-9, "routes");
      }
    }
  }
}

TEST(DeformAsRigidAsPossible, DegenerateConfigurationsNeverStop) {
  R2Image image(4, 4, 3);
  // Two points on one vertex: both kept, the vertex counted once, the later
  // target wins.
  {
    auto d = Make(image, {true});
    Add(*d, {0.2, 0.2, 0.21, 0.19, 0.8, 0.2, 0.8, 0.8});
    ASSERT_TRUE(d->Prepared());
    Points t = d->m_ControlPointsOrigPos;
    t[2] += 0.05;
    Drag(*d, t);
    EXPECT_EQ(d->m_Vertices[d->m_ConstrainedParamToVertex[0]].m_fX, t[2]);
  }
  // Every vertex constrained (one cell, four corners): the vertices are the targets.
  {
    auto d = Make(image, {true, false, false, 1});
    Add(*d, {0, 0, 1, 0, 1, 1, 0, 1});
    const Points shown = Drag(*d, {0.1, 0, 1, 0, 1, 1.1, 0, 1});
    EXPECT_EQ(shown[0], 0.1);
  }
  // A mesh 1e-8 wide, as a DefaultRect can give: half its triangles are too
  // thin to fit, step 2 keeps them as step 1 places them (one warning for
  // all preparations), and the mesh stays finite.
  {
    auto d = std::make_unique<ARAP>(false, true, image, "thin");
    deform_test::Mesh(*d, 3, 3, 0, 1e-8, 0, 1);
    CoutCapture out;
    for (const double y : {0.0, 1.0 / 3, 2.0 / 3, 1.0}) {
      d->AddControlPoint(y < 0.5 ? 0.0 : 1e-8, y, nullptr, nullptr);
    }
    d->PrepareDeformator();
    ASSERT_TRUE(d->Prepared());
    const std::string warning = "[WARNING] thin: 9 of 18 mesh triangles cannot be fitted";
    EXPECT_TRUE(out.str().find(warning) != std::string::npos && out.str().find(warning) == out.str().rfind(warning))
        << out.str();
    Points t = d->m_ControlPointsOrigPos;
    t[1] += 0.1;
    for (double v : Drag(*d, t)) ASSERT_TRUE(std::isfinite(v));
  }
  // Neighbouring points dragged onto one spot, saved, then prepared on the
  // collapsed mesh: finite vertices throughout.
  for (bool rescale : {false, true}) {
    auto d = Make(image, {rescale});
    const double s = 1.0 / 6;
    Add(*d, {2 * s, 2 * s, 3 * s, 2 * s, 5 * s, 5 * s, 1 * s, 5 * s});
    Points t = d->m_ControlPointsOrigPos;
    t[2] = t[0], t[3] = t[1];
    for (double v : Drag(*d, t)) ASSERT_TRUE(std::isfinite(v));
    CoutCapture quiet;
    d->ClearControls(true);
    Add(*d, {2 * s, 2 * s, 4 * s, 4 * s, 5 * s, 1 * s, 1 * s, 5 * s});
    for (double v : Drag(*d, Moved(d->m_ControlPointsOrigPos))) ASSERT_TRUE(std::isfinite(v));
  }
}

TEST(DeformAsRigidAsPossible, QuasiConformalStartFollowsTheInnerMap) {
  R2Image image(4, 4, 3);
  auto d = Make(image, {false, true});
  Add(*d, kFour);
  const Points targets = Moved(d->m_ControlPointsOrigPos);
  const Points shown = Drag(*d, targets);
  // An independent affine-quad deformator with the same points and targets.
  DeformQuasiConf reference(image, "ref", DeformQuasiConf::OP_AFFINE_QUAD);
  deform_test::Load(reference, d->m_ControlPointsOrigPos, targets);
  for (int v : d->m_FreeParamToVertex) {
    double x = 0, y = 0;
    reference.MapPoint(d->m_Vertices[v].m_fRestX, d->m_Vertices[v].m_fRestY, x, y);
    ASSERT_TRUE(shown[2 * v] == x && shown[2 * v + 1] == y) << v;
  }
}

