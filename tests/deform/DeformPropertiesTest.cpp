// Properties every deformation method shares, checked once over a table of
// the methods: targets at the originals leave the mesh at rest, the vertices
// under the points land on their targets, a map of the method's own kind
// applied to all points is reproduced on the whole mesh, clicks, saves and
// replays agree with loaded points, and points a method has no meaning for
// never stop the program.
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeformTesting.h"
#include "deform/DeformAsRigidAsPossible.h"
#include "deform/DeformGreenCoords.h"
#include "deform/DeformMLS.h"
#include "deform/DeformMeanValueCoords.h"
#include "deform/DeformThinPlateSplineWarp.h"
#include "deform/quasiconf/DeformQuasiConf.h"

namespace {

using deform_test::Affine;
using deform_test::AffineMap;
using deform_test::Load;
using deform_test::Points;
using deform_test::Positions;
using deform_test::Shown;
using warpix_test::CoutCapture;

// Maps that keep the points below inside the unit square.
const double kC = std::cos(0.4), kS = std::sin(0.4);
const AffineMap kRigid{kC, -kS, kS, kC, 0.05, -0.1};
const AffineMap kSimilar{1.1 * kC, -1.1 * kS, 1.1 * kS, 1.1 * kC, 0.1, -0.15};
const AffineMap kAffine{1.1, 0.1, -0.1, 0.9, -0.05, 0.08};

struct Method {
  const char* name;
  std::function<std::unique_ptr<Warpixator>(R2Image&)> make;
  AffineMap reproduced;  // a map of all points that the whole mesh follows
  double tolerance;
  size_t handles = 4;     // how many points the vertices under the points follow
  double onPoint = 1e-9;  // how closely
  // How far the mesh route may be from MapPoint (rounding where it divides
  // sums); negative: no point map for the mesh (fitted vertices only, or
  // vertices behind a line follow that line).
  double meshRoute = -1.0;
  bool exactRest = false;  // targets at the originals leave the mesh at rest to the bit
};

std::vector<Method> Methods() {
  using Q = DeformQuasiConf;
  std::vector<Method> m = {
      {"MLS similarity", [](R2Image& i) { return std::make_unique<DeformMLS>(i, "m", DeformMLS::MLS_FIT_SIMILARITY); },
       kSimilar, 1e-12},
      {"MLS rigid", [](R2Image& i) { return std::make_unique<DeformMLS>(i, "m", DeformMLS::MLS_RIGID); }, kRigid, 1e-12},
      {"MLS affine", [](R2Image& i) { return std::make_unique<DeformMLS>(i, "m", DeformMLS::MLS_AFFINE); }, kAffine, 1e-12},
      {"MVC", [](R2Image& i) { return std::make_unique<DeformMeanValueCoords>(i, "m"); }, kAffine, 1e-12, 4, 0.0, 1e-15},
      // The cage's vertices do not follow their targets exactly (the method
      // does not interpolate), but its point map is the mesh's to the bit.
      {"Green", [](R2Image& i) { return std::make_unique<DeformGreenCoords>(i, "m"); }, kSimilar, 1e-12, 0, 0.0, 0.0},
      {"Thin-plate spline", [](R2Image& i) { return std::make_unique<DeformThinPlateSplineWarp>(i, "m"); },
       kAffine, 1e-12, 4, 1e-12, 1e-12},
      {"ARAP", [](R2Image& i) { return std::make_unique<DeformAsRigidAsPossible>(false, false, i, "m"); },
       kSimilar, 1e-9, 4, 0.0},
      {"ARAP rescale", [](R2Image& i) { return std::make_unique<DeformAsRigidAsPossible>(false, true, i, "m"); },
       kRigid, 1e-9, 4, 0.0},
      {"ARAP quasi-conformal start",
       [](R2Image& i) { return std::make_unique<DeformAsRigidAsPossible>(true, true, i, "m"); }, kRigid, 1e-9, 4, 0.0}};
  static const char* const kOps[] = {"QC 0", "QC 1", "QC 2", "QC 3", "QC 4", "QC 5", "QC 6"};
  for (int op = 0; op <= 6; ++op) {
    // Operators 0 and 3 put exactly three points on their targets.
    m.push_back({kOps[op], [op](R2Image& i) { return std::make_unique<Q>(i, "m", Q::IntermediateOperator(op)); },
                 kSimilar, 1e-8, op == 0 || op == 3 ? 3u : 4u, 1e-9, op == 2 ? 1e-14 : op >= 4 ? -1.0 : 0.0, true});
  }
  return m;
}

// Four points on vertices of the 10 x 10 mesh (a convex quadrilateral, as the
// line modes need) and their moved targets.
const Points kQuad = {0.2, 0.2, 0.8, 0.3, 0.7, 0.8, 0.3, 0.7};
const Points kMoved = {0.22, 0.18, 0.85, 0.32, 0.72, 0.84, 0.28, 0.66};

class DeformProperties : public ::testing::TestWithParam<Method> {
 protected:
  // cells < 0: mesh mode without vertices; 0: pixel mode.
  std::unique_ptr<Warpixator> Make(int cells = 10) {
    auto d = GetParam().make(m_Image);
    if (cells != 0) deform_test::Mesh(*d, cells, cells);
    return d;
  }
  R2Image m_Image{4, 4, 3};
};

TEST_P(DeformProperties, TargetsAtTheOriginalsLeaveTheMeshAtRest) {
  // Exactly the originals, and off by 1e-13 (the full route of every fit).
  Points nearly = kQuad;
  for (double& v : nearly) v += 1e-13;
  for (const Points& target : {kQuad, nearly}) {
    auto d = Make();
    Load(*d, kQuad, target);
    warpix_test::expectNear(Shown(*d), Positions(*d), target != kQuad ? 1e-9 : GetParam().exactRest ? 0.0 : 1e-12, "at rest");
  }
}

TEST_P(DeformProperties, VerticesUnderThePointsLandOnTheirTargets) {
  auto d = Make();
  const size_t n = 2 * GetParam().handles;
  Load(*d, Points(kQuad.begin(), kQuad.begin() + n), Points(kMoved.begin(), kMoved.begin() + n));
  const Points shown = Shown(*d);
  for (size_t k = 0; k < n; k += 2) {
    const size_t v = 2 * (std::lround(kQuad[k] * 10) * 11 + std::lround(kQuad[k + 1] * 10));
    warpix_test::expectNear({shown[v], shown[v + 1]}, {kMoved[k], kMoved[k + 1]}, GetParam().onPoint, "on a point");
  }
}

TEST_P(DeformProperties, AMapOfItsKindOfAllPointsMovesTheWholeMesh) {
  auto d = Make();
  Load(*d, kQuad, Affine(kQuad, GetParam().reproduced));
  warpix_test::expectNear(Shown(*d), Affine(Positions(*d), GetParam().reproduced), GetParam().tolerance, "map");
}

// Where a method maps any point, the mesh route (whole vectors of vertices, on
// every vector target; 121 vertices leave a remainder at every width) puts
// every vertex where MapPoint puts its rest position; the square's sides run
// through vertices.
using MeshRoute = DeformProperties;

TEST_P(MeshRoute, MeshVerticesAreWhereMapPointPutsThem) {
  auto d = Make();
  Load(*d, {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8}, {0.22, 0.18, 0.85, 0.22, 0.78, 0.84, 0.18, 0.76});
  ASSERT_TRUE(d->MapsPoints());
  Points expected(2 * d->m_Vertices.size());
  for (size_t k = 0; k < d->m_Vertices.size(); ++k) {
    d->MapPoint(d->m_Vertices[k].m_fRestX, d->m_Vertices[k].m_fRestY, expected[2 * k], expected[2 * k + 1]);
  }
  EXPECT_GT(warpix_test::ForEveryTarget([&](const char* target) {
    warpix_test::expectNear(Shown(*d), expected, GetParam().meshRoute, target);
  }), 0);
}

TEST_P(DeformProperties, ClickedAndDraggedPointsSaveAndReplayAsTheShownMesh) {
  // Points clicked and dragged give the mesh a loaded file gives.
  auto loaded = Make(), clicked = Make();
  Load(*loaded, kQuad, kMoved);
  const Points shown = Shown(*loaded);
  CoutCapture quiet;
  for (size_t k = 0; k < kQuad.size(); k += 2) clicked->AddControlPoint(kQuad[k], kQuad[k + 1], nullptr, nullptr);
  Points moved = kMoved;
  clicked->MoveAllControlPoints(moved);
  warpix_test::expectNear(Shown(*clicked), shown, 1e-12, "clicked");
  // A save makes the shown mesh the rest mesh, which the next frames show
  // unchanged; the saved history replays it (as text of six digits).
  clicked->ClearControls(true);
  warpix_test::expectNear(Positions(*clicked), shown, 1e-12, "saved");
  warpix_test::expectNear(Shown(*clicked), shown, 1e-12, "frame after the save");
  auto replayed = Make();
  replayed->m_History = clicked->m_History;
  replayed->DeformUsingHistory();
  warpix_test::expectNear(Shown(*replayed), shown, 1e-5, "replayed");
}

// Points on one line, on one spot, two of four on one spot, and too few
// points for a fit: loaded, clicked, dragged, cleared and saved, in mesh mode,
// with no mesh vertices and in pixel mode. (Loaded ones, and a point far
// outside, render through the program in WarpixRenderTest's
// DegeneratePointsRenderEveryMethodInBoundedTime.)
TEST_P(DeformProperties, PointsWithoutMeaningNeverStopTheProgram) {
  const std::vector<Points> bad = {{0.1, 0.1, 0.3, 0.3, 0.5, 0.5, 0.7, 0.7}, {0.4, 0.4, 0.4, 0.4, 0.4, 0.4, 0.4, 0.4},
                                   {0.2, 0.2, 0.8, 0.2, 0.8, 0.2, 0.5, 0.8},
                                   {}, {0.5, 0.5}, {0.2, 0.2, 0.8, 0.8}, {0.2, 0.2, 0.8, 0.2, 0.5, 0.8}};
  for (int cells : {10, -1, 0}) {
    for (const Points& p : bad) {
      auto d = Make(cells);
      CoutCapture quiet;
      Load(*d, p, {});
      Points moved = p;
      for (double& v : moved) v += 0.05;
      d->MoveAllControlPoints(moved);
      for (double v : Shown(*d)) ASSERT_TRUE(std::isfinite(v)) << cells << " " << p.size();
      double x = 0, y = 0;
      if (d->MapsPoints()) d->MapPoint(0.3, 0.4, x, y);
      d->AddControlPoint(0.4, 0.4, &x, &y);
      d->SelectControlPoint(x, y);
      d->MoveSelectedControlPoint(0.45, 0.4);
      for (double v : Shown(*d)) ASSERT_TRUE(std::isfinite(v)) << cells << " " << p.size();
      d->ClearControls(true);
      d->ClearControls(false);
    }
  }
}

std::string Name(const ::testing::TestParamInfo<Method>& info) {
  std::string name;
  for (const char* c = info.param.name; *c; ++c) name += std::isalnum(*c) ? *c : '_';
  return name;
}

std::vector<Method> PointMappers() {
  std::vector<Method> m;
  for (const Method& row : Methods()) if (row.meshRoute >= 0) m.push_back(row);
  return m;
}

INSTANTIATE_TEST_SUITE_P(Methods, DeformProperties, ::testing::ValuesIn(Methods()), Name);
INSTANTIATE_TEST_SUITE_P(Methods, MeshRoute, ::testing::ValuesIn(PointMappers()), Name);

}  // namespace
