#include "deform/quasiconf/QuasiConfLines.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "../DeformTesting.h"
#include "deform/DeformThinPlateSpline.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "QuasiConfTesting.h"
#include "TestCommon.h"

namespace {

using qc_test::Dist;
using qc_test::Identity;
using warpix_test::CoutCapture;
using Corners = std::vector<LinAlgComplex>;

// A counter-clockwise quadrilateral (corners 0..3) and its outward normals.
const Corners kQuad = {{0.25, 0.25}, {0.75, 0.25}, {0.75, 0.75}, {0.25, 0.75}};

Corners OutwardNormals(const Corners& c) {
  Corners n;
  for (int i = 0; i < 4; ++i) {
    const LinAlgComplex e = c[(i + 1) % 4] - c[i];
    n.push_back(LinAlgComplex(e.m_fIm, -e.m_fRe) / e.Power());  // right of a CCW side
  }
  return n;
}

std::unique_ptr<QuasiConfLines> Make(std::vector<bool> sides, double delta = 0.01,
                                     std::string* out = nullptr, Corners corners = kQuad) {
  Corners normals = OutwardNormals(corners);
  LinAlgMatrixComplex id = Identity();
  bool on[4] = {sides[0], sides[1], sides[2], sides[3]};
  CoutCapture capture;
  auto set = std::make_unique<QuasiConfLines>(corners, normals, 10, delta, id, on);
  if (out != nullptr) *out = capture.str();
  return set;
}

// A white (opaque) 8 x 8 picture under a 10 x 10 mesh.
struct OpaqueMesh {
  OpaqueMesh() {
    for (int x = 0; x < 8; ++x)
      for (int y = 0; y < 8; ++y) image.SetPixelRGB(x, y, RNRgb(1, 1, 1));
    deform_test::Mesh(mesh, 10, 10);
  }
  R2Image image{8, 8, 3};
  Warpixator mesh{image, "mesh"};
};

// z -> a z + b.
LinAlgComplex Similar(LinAlgComplex z) { return LinAlgComplex(0.9, 0.2) * z + LinAlgComplex(0.05, -0.03); }

}  // namespace

TEST(QuasiConfLines, IntersectionIncludingParallelSegmentsAndPoints) {
  struct Case { LinAlgComplex a, b, c, d; bool meet; };
  const double tiny = 1e-300;  // ends closer than the smallest representable distance
  const Case cases[] = {
      {{0, 0}, {1, 0}, {1, 0}, {2, 1}, true},  {{0, 0}, {1, 0}, {0.5, 0}, {0.5, 1}, true},     // shared end, touch
      {{0, 0}, {1, 1}, {0, 1}, {1, 0}, true},  {{0, 0}, {1, 0}, {2, -1}, {2, 1}, false},      // crossing, disjoint
      {{0, 0}, {1, 0}, {0, 0.5}, {1, 0.5}, false}, {{0, 0}, {1, 0}, {0.5, 0}, {2, 0}, true},  // parallel, overlap
      {{0, 0}, {1, 0}, {1.5, 0}, {2, 0}, false},                                             // collinear apart
      // Segments of no length are points, on the other segment or not, either way round.
      {{0, 0}, {1, 0}, {0.5, 0}, {0.5, 0}, true}, {{0, 0}, {1, 0}, {0.5, 0.1}, {0.5, 0.1}, false},
      {{0.25, 0}, {0.25, 0}, {0, 0}, {1, 0}, true}, {{2, 0}, {2, 0}, {0, 0}, {1, 0}, false},
      {{0.5, 0.5}, {0.5, 0.5}, {0.25, 0.25}, {0.25, 0.25}, false},
      {{0, 0}, {1, 0}, {0.5, tiny}, {0.5, tiny + 1e-320}, false}, {{0, 0}, {1, 0}, {NAN, 0}, {0.5, 1}, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(QuasiConfLines::Intersection(c.a, c.b, c.c, c.d), c.meet) << c.c.m_fRe << " " << c.c.m_fIm;
  }
}

// (Rest and similar targets of the operators: DeformPropertiesTest.) Each
// choice of sides follows a similarity of the corners; a second Update with
// the same corners changes nothing (a replayed step gives what was shown).
// At delta 1e-9 the offset centres sit about 1e-9 from their lines and the
// spline system is nearly singular: it holds to 1e-7, not to rounding.
TEST(QuasiConfLines, SimilarCornersMoveEverythingByTheSimilarity) {
  struct Case { std::vector<bool> sides; double delta, tolerance; };
  for (const Case& c : {Case{{true, false, false, false}, 0.01, 1e-9}, Case{{true, false, true, false}, 0.01, 1e-9},
                        Case{{true, true, true, true}, 0.01, 1e-9}, Case{{true, false, true, false}, 1e-9, 1e-7}}) {
    auto set = Make(c.sides, c.delta);
    LinAlgMatrixComplex id = Identity();
    Corners similar;
    for (const LinAlgComplex& c : kQuad) similar.push_back(Similar(c));
    ASSERT_TRUE(set->Update(similar, id));
    for (double x = 0.05; x < 1; x += 0.1)
      for (double y = 0.05; y < 1; y += 0.1) EXPECT_LT(Dist(set->Transform({x, y}, -1), Similar({x, y})), c.tolerance);
    const LinAlgComplex once = set->Transform({0.5, 0.45}, -1);
    ASSERT_TRUE(set->Update(similar, id));
    EXPECT_EQ(set->Transform({0.5, 0.45}, -1), once);
  }
}

TEST(QuasiConfLines, RefusedUpdatesKeepTheLastGoodState) {
  auto set = Make({true, false, true, false});
  LinAlgMatrixComplex id = Identity();
  Corners moved = kQuad;
  moved[2] = LinAlgComplex(0.8, 0.8);
  ASSERT_TRUE(set->Update(moved, id));
  const LinAlgComplex good = set->Transform({0.5, 0.5}, -1);
  // Corner 1 dragged onto corner 0: side 0 has no direction.
  Corners collapsed = moved;
  collapsed[1] = collapsed[0];
  EXPECT_FALSE(set->Update(collapsed, id));
  EXPECT_EQ(set->Transform({0.5, 0.5}, -1), good);
  EXPECT_EQ(set->m_PntsNew(1), moved[1]);
  // Offsets so large that the two lines' inner copies cross.
  set->SetNewDelta(0.7, 0.7);
  EXPECT_FALSE(set->Update(moved, id));
  EXPECT_EQ(set->Transform({0.5, 0.5}, -1), good);
  set->SetNewDelta(0.3, 0.3);  // ordinary deltas pass
  EXPECT_TRUE(set->Update(moved, id));
}

TEST(QuasiConfLines, SectionsAreTheRegionsBehindTheLines) {
  // Opaque 8 x 8 picture, 10 x 10 mesh, all four sides constrained on mesh
  // vertices (axis-parallel sides, the case parallel mesh edges once broke).
  OpaqueMesh opaque;
  R2Image& image = opaque.image;
  Warpixator& mesh = opaque.mesh;
  const Corners square = {{0.2, 0.2}, {0.8, 0.2}, {0.8, 0.8}, {0.2, 0.8}};
  auto set = Make({true, true, true, true}, 0.01, nullptr, square);
  CoutCapture out;
  set->FillVertexToSectionMap(image, &mesh, mesh.m_Faces, mesh.m_Vertices);
  EXPECT_EQ(out.str().rfind("[WARNING] Number of double-crossed faces ", 0), 0u) << out.str();
  ASSERT_EQ(set->m_VertexToSection.size(), mesh.m_Vertices.size());
  int inside = 0, outside = 0;
  for (const auto& v : mesh.m_Vertices) {
    const double d = std::fmax(std::fabs(v.m_fX - 0.5), std::fabs(v.m_fY - 0.5));  // the sides at 0.3
    EXPECT_TRUE(d < 0.25 ? set->m_VertexToSection[v.id] == -1 : d < 0.35 || set->m_VertexToSection[v.id] != -1)
        << v.m_fX << " " << v.m_fY;
    inside += d < 0.25, outside += d > 0.35;
  }
  EXPECT_TRUE(inside > 0 && outside > 0);
  // A vertex behind a line moves exactly by that line's similarity.
  LinAlgMatrixComplex id = Identity();
  Corners moved = square;
  moved[0] = LinAlgComplex(0.15, 0.22);
  ASSERT_TRUE(set->Update(moved, id));
  EXPECT_EQ(set->Transform({0, 0}, 0), set->TransformBySimilarity({0, 0}, set->m_VertexToSection[0]));  // vertex (0, 0)
}

TEST(QuasiConfLines, ConstrainedSidesStayStraightAtTheirSamples) {
  auto set = Make({true, false, true, false});
  LinAlgMatrixComplex id = Identity();
  Corners moved = {{0.2, 0.22}, {0.78, 0.3}, {0.7, 0.8}, {0.3, 0.72}};
  ASSERT_TRUE(set->Update(moved, id));
  for (int side : {0, 2}) {
    const LinAlgComplex a = moved[side], b = moved[(side + 1) % 4];
    const LinAlgComplex e = (b - a) / (b - a).Power();
    for (int k = 0; k < 10; ++k) {
      const LinAlgComplex rest = kQuad[side] + (kQuad[(side + 1) % 4] - kQuad[side]) * (k / 9.0);
      const LinAlgComplex w = set->Transform(rest, -1) - a;
      // Off the line through the new ends, and within them.
      EXPECT_LT(std::fabs(w.m_fRe * e.m_fIm - w.m_fIm * e.m_fRe), 1e-9) << side << " " << k;
      const double along = w.m_fRe * e.m_fRe + w.m_fIm * e.m_fIm;
      EXPECT_TRUE(along > -1e-9 && along < (b - a).Power() + 1e-9) << side << " " << k;
    }
  }
}

TEST(QuasiConfLines, FacesCrossedTwiceCountOnceAndSeedTheFirstLine) {
  OpaqueMesh opaque;
  R2Image& image = opaque.image;
  Warpixator& mesh = opaque.mesh;
  // Corners off the mesh lines, so faces at the corners meet two sides.
  const Corners quad = {{0.23, 0.24}, {0.76, 0.27}, {0.74, 0.77}, {0.26, 0.73}};
  auto set = Make({true, true, true, true}, 0.01, nullptr, quad);
  int expected = 0;
  for (const auto& face : mesh.m_Faces) {
    const LinAlgComplex a(mesh.m_Vertices[face.m_iV0].m_fX, mesh.m_Vertices[face.m_iV0].m_fY);
    const LinAlgComplex b(mesh.m_Vertices[face.m_iV1].m_fX, mesh.m_Vertices[face.m_iV1].m_fY);
    const LinAlgComplex c(mesh.m_Vertices[face.m_iV2].m_fX, mesh.m_Vertices[face.m_iV2].m_fY);
    int crossing = 0;
    for (int i = 0; i < 4; ++i) {
      const LinAlgComplex p = quad[i], q = quad[(i + 1) % 4];
      crossing += QuasiConfLines::Intersection(a, b, p, q) || QuasiConfLines::Intersection(a, c, p, q) ||
                  QuasiConfLines::Intersection(b, c, p, q);
    }
    if (crossing > 1) expected += crossing - 1;
  }
  ASSERT_GT(expected, 0);
  CoutCapture out;
  set->FillVertexToSectionMap(image, &mesh, mesh.m_Faces, mesh.m_Vertices);
  EXPECT_EQ(out.str(), "[WARNING] Number of double-crossed faces " + std::to_string(expected) + "\n");
  // The region outside is one piece around the quadrilateral: the first
  // line's fill reaches it all, so no vertex belongs to a later line.
  for (int section : set->m_VertexToSection) EXPECT_TRUE(section == -1 || section == 0) << section;
}

// The packed route (the kernel's own logarithm) gives the documented
// composition to rounding, and the mesh batch gives every vertex exactly
// Transform's bits on every target, with and without a section map.
TEST(QuasiConfLines, PackedSplineRouteFollowsTheDocumentedCompositionAndBatchesMatchIt) {
  // A proper Mobius normalisation, so that both maps of the route matter.
  LinAlgMatrixComplex map = qc_test::Matrix({1.1, 0.2}, {-0.1, 0.05}, {0.15, -0.1}, {0.9, 0.1});
  Corners corners = kQuad, normals = OutwardNormals(kQuad);
  bool on[4] = {true, false, true, false};
  CoutCapture capture;
  QuasiConfLines set(corners, normals, 10, 0.01, map, on);
  Corners moved = kQuad;
  moved[2] = LinAlgComplex(0.82, 0.7);
  moved[3] = LinAlgComplex(0.2, 0.8);
  LinAlgMatrixComplex target(map);
  target(0, 1) = LinAlgComplex(-0.12, 0.07);
  ASSERT_TRUE(set.Update(moved, target));
  for (double x = -0.05; x < 1.1; x += 0.07)
    for (double y = -0.05; y < 1.1; y += 0.07) {
      LinAlgComplex w = DeformQuasiConf::MobiusTransform(set.m_SourceMobius, {x, y});
      w = DeformThinPlateSpline::MapUsignTPS(w, set.m_TPSCentres, *set.m_pTPSCoeffs);
      w = DeformQuasiConf::MobiusTransform(set.m_TargetInverse, w);
      const LinAlgComplex fast = set.TransformByFPITPS({x, y});
      ASSERT_LT(Dist(fast, w), 1e-13) << x << " " << y;
    }
  // A 13 x 13 grid over and around the quadrilateral: 169 vertices, not a
  // multiple of any vector width.
  R2Image image(4, 4, 3);
  Warpixator mesh(image, "grid");
  deform_test::Mesh(mesh, 12, 12, -0.1, 1.1, -0.1, 1.1);
  std::vector<QuasiConfLines::ImgVertex>& grid = mesh.m_Vertices;
  for (bool sectionMap : {false, true}) {
    set.m_VertexToSection.clear();
    if (sectionMap)
      for (size_t k = 0; k < grid.size(); ++k) set.m_VertexToSection.push_back(k % 3 == 0 ? -1 : static_cast<int>(k % 2));
    deform_test::Points expected;
    for (size_t k = 0; k < grid.size(); ++k) {
      const LinAlgComplex w = set.Transform({grid[k].m_fRestX, grid[k].m_fRestY}, static_cast<int>(k));
      expected.insert(expected.end(), {w.m_fRe, w.m_fIm});
    }
    deform_test::ExpectBitsOnEveryTarget(expected, [&] {
      set.TransformVertices(grid);
      return deform_test::Positions(grid);
    }, sectionMap ? "section map" : "no section map");
  }
}
