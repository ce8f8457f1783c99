#include "deform/quasiconf/DeformQuasiConf.h"

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../DeformTesting.h"
#include "QuasiConfTesting.h"

namespace {

using deform_test::Points;
using deform_test::Positions;
using warpix_test::CoutCapture;
using Op = DeformQuasiConf::IntermediateOperator;
using Q = DeformQuasiConf;

// Points on vertices of the 10 x 10 mesh: a convex quadrilateral first.
const Points kQuad = {0.2, 0.2, 0.8, 0.3, 0.7, 0.8, 0.3, 0.7};
const Points kFive = {0.2, 0.2, 0.8, 0.3, 0.7, 0.8, 0.3, 0.7, 0.5, 0.5};

class DeformQuasiConfTest : public ::testing::Test {
 protected:
  std::unique_ptr<Q> Make(Op op, int cells = 10) {
    auto d = std::make_unique<Q>(m_Image, "qc", op);
    deform_test::Mesh(*d, cells, cells);
    return d;
  }
  // Places the points and moves the first targets.size()/2 of them; returns
  // the console text.
  static std::string Load(Q& d, Points orig, Points target) {
    CoutCapture out;
    d.InitializeCtrlPntState(orig, target);
    return out.str();
  }
  // The drawn mesh: what a frame shows after the deformation.
  static Points Shown(Q& d) {
    d.m_bNeedsUpdate = true;
    d.Deform();
    d.MapMeshVertices();
    return Positions(d, false);
  }
  // The current position of the vertex at (x, y) of a cells x cells mesh.
  static LinAlgComplex VertexAt(const Q& d, double x, double y, int cells = 10) {
    const auto& v = d.m_Vertices[std::lround(x * cells) * (cells + 1) + std::lround(y * cells)];
    return {v.m_fX, v.m_fY};
  }
  R2Image m_Image{4, 4, 3};
};

// The largest distance between two meshes given as x, y pairs.
double MaxDistance(const Points& a, const Points& b) {
  double largest = 0.0;
  for (size_t k = 0; k + 1 < a.size(); k += 2) {
    largest = std::fmax(largest, std::hypot(a[k] - b[k], a[k + 1] - b[k + 1]));
  }
  return largest;
}

const Op kFittingOps[] = {DeformQuasiConf::OP_NONE, DeformQuasiConf::OP_AFFINE_QUAD,
                          DeformQuasiConf::OP_MEAN_VAL_COORDS, DeformQuasiConf::OP_THIN_PLATE_SPLINES,
                          DeformQuasiConf::OP_MOVING_LEAST_SQUARES};

}  // namespace

TEST_F(DeformQuasiConfTest, TargetsAtTheOriginalsMapEveryVertexToItself) {
  for (Op op : kFittingOps) {
    // Exactly: cells snap new points by current position and must agree.
    auto d = Make(op);
    Load(*d, kFive, {});
    EXPECT_EQ(Shown(*d), Positions(*d)) << "operator " << op;
    // The fitted composite itself is the identity to rounding: targets off
    // by 1e-13 take the full route.
    Points nearly = kFive;
    for (double& value : nearly) value += 1e-13;
    auto e = Make(op);
    Load(*e, kFive, nearly);
    warpix_test::expectNear(Shown(*e), Positions(*e), 1e-9, "identity");
  }
}

TEST_F(DeformQuasiConfTest, ControlPointsReachTheirTargets) {
  // Affine quad with four points, mean value coordinates with five, and the
  // identity operators with three (the exact triangle normalisation): every
  // vertex on a control point lands on its target.
  struct Case { Op op; Points orig; };
  const Points target5 = {0.22, 0.18, 0.85, 0.32, 0.72, 0.84, 0.28, 0.66, 0.52, 0.47};
  for (const Case& c : {Case{DeformQuasiConf::OP_AFFINE_QUAD, kQuad},
                        Case{DeformQuasiConf::OP_MEAN_VAL_COORDS, kFive},
                        Case{DeformQuasiConf::OP_THIN_PLATE_SPLINES, {0.2, 0.2, 0.8, 0.3, 0.5, 0.8}},
                        Case{DeformQuasiConf::OP_NONE, {0.2, 0.2, 0.8, 0.3, 0.2, 0.8}}}) {
    auto d = Make(c.op);
    const Points target(target5.begin(), target5.begin() + c.orig.size());
    Load(*d, c.orig, target);
    Shown(*d);
    for (size_t k = 0; k < c.orig.size(); k += 2) {
      EXPECT_NEAR(qc_test::Dist(VertexAt(*d, c.orig[k], c.orig[k + 1]), {target[k], target[k + 1]}), 0.0,
                  1e-9)
          << "operator " << c.op << " point " << k / 2;
    }
  }
}

// (The lines of the delta and mode keys themselves: the e2e quasiconf test.)
TEST_F(DeformQuasiConfTest, DeltaStaysBetweenItsLimits) {
  auto d = Make(DeformQuasiConf::OP_AFFINE_QUAD);
  CoutCapture out;
  for (int k = 0; k < 20; ++k) d->TweakParameter(-0.01);
  EXPECT_TRUE(d->m_fDelta1 == 1e-9 && d->m_fDelta2 == 1e-9);  // not 0 and not negative
  EXPECT_NE(out.str().find("New Delta=[1e-09, 1e-09] \n"), std::string::npos);
  for (int k = 0; k < 1100; ++k) d->TweakParameter(0.1);
  EXPECT_EQ(d->m_fDelta1, 1.0);
}

TEST_F(DeformQuasiConfTest, ModeSwitchBelowTheOperatorsMinimumShowsTheRestMesh) {
  // (A switch with points deforms as a cell built with the new operator: the
  // e2e quasiconf test compares the frames.) Below the new operator's minimum
  // the maps are the identity: the rest mesh.
  auto two = Make(DeformQuasiConf::OP_MEAN_VAL_COORDS);
  Load(*two, kFive, {0.22, 0.18, 0.85, 0.32});
  Load(*two, {}, {});
  CoutCapture quiet;
  two->ClearControls(false);
  two->ChangeMode(1);
  warpix_test::expectNear(Shown(*two), Positions(*two), 0.0, "switched without points");
}

TEST_F(DeformQuasiConfTest, SnappingToOpaqueVerticesReadsInsideTheImage) {
  // A 4 x 4 picture, black (transparent) except maybe its top-right pixel:
  // that pixel lies under the vertices at u, v in {0.75, 1}, and (1, 1) reads
  // the last column and row, not one past them. All transparent: the nearest
  // vertex, with one warning.
  for (const bool opaque : {true, false}) {
    R2Image image(4, 4, 3);
    if (opaque) image.SetPixelRGB(3, 3, RNRgb(1, 1, 1));
    Q d(image, "none", DeformQuasiConf::OP_AFFINE_QUAD);
    CoutCapture out;
    d.SwitchMeshBasedDeformation(4, 4, false, true, RNRgb(0, 0, 0), 0.1, 0, 1, 0, 1);
    d.m_bSnapToNonWhite = true;
    const size_t before = out.str().size();
    double x = 0, y = 0;
    d.AddControlPoint(0.1, 0.1, &x, &y);
    EXPECT_EQ(out.str().substr(before),
              opaque ? "actual=[0.75, 0.75]\n"
                     : "[WARNING] none: no opaque mesh vertex; the point goes to the nearest vertex\n"
                       "actual=[0, 0]\n");
  }
}

TEST_F(DeformQuasiConfTest, SingularConfigurationsKeepTheLastGoodMeshWithOneWarning) {
  // Coincident targets, collinear targets: the mesh stays as it was, one
  // warning, and a good configuration deforms again.
  for (Op op : kFittingOps) {
    auto d = Make(op);
    Load(*d, kQuad, {0.22, 0.18});
    const Points good = Shown(*d);
    CoutCapture out;
    d->m_ControlPointsNewPos = {0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2};
    warpix_test::expectNear(Shown(*d), good, 0.0, "coincident targets");
    d->m_ControlPointsNewPos = {0.1, 0.1, 0.2, 0.2, 0.3, 0.3, 0.5, 0.5};
    EXPECT_EQ(out.str().find("[WARNING]", out.str().find("[WARNING]") + 1), std::string::npos)
        << "operator " << op << ": " << out.str();
    Shown(*d);
    d->m_ControlPointsNewPos = {0.24, 0.18, 0.8, 0.3, 0.7, 0.8, 0.3, 0.7};
    const Points again = Shown(*d);
    EXPECT_NE(again, good) << "operator " << op;
    for (double v : again) ASSERT_TRUE(std::isfinite(v));
  }
}

TEST_F(DeformQuasiConfTest, SaveReplayAndClearLeaveNoStaleMaps) {
  for (Op op : kFittingOps) {
    // A save: the saved mesh becomes the rest mesh and the next frames show
    // it unchanged (the maps are the identity, not applied a second time).
    auto saved = Make(op);
    Load(*saved, kQuad, {0.25, 0.15, 0.85, 0.3});
    const Points shown = Shown(*saved);
    {
      CoutCapture quiet;
      saved->ClearControls(true);
    }
    warpix_test::expectNear(Positions(*saved), shown, 1e-12, "rest after save");
    warpix_test::expectNear(Shown(*saved), shown, 1e-12, "frame after save");
    warpix_test::expectNear(Shown(*saved), shown, 1e-12, "second frame after save");

    // A replay of that history gives the same mesh.
    auto replayed = Make(op);
    replayed->m_History = saved->m_History;
    {
      CoutCapture quiet;
      replayed->DeformUsingHistory();
    }
    warpix_test::expectNear(Shown(*replayed), shown, 1e-5, "frame after replay");

    // "c" keeps showing the mesh, also while fewer points than needed follow.
    auto cleared = Make(op);
    Load(*cleared, kQuad, {0.25, 0.15, 0.85, 0.3});
    const Points before = Shown(*cleared);
    CoutCapture quiet;
    cleared->ClearControls(false);
    warpix_test::expectNear(Shown(*cleared), before, 0.0, "after c");
    cleared->ClearControls(false);  // a second "c" with no points
    double x = 0, y = 0;
    cleared->AddControlPoint(0.5, 0.5, &x, &y);
    warpix_test::expectNear(Shown(*cleared), before, 0.0, "one point after c");
  }
}

TEST_F(DeformQuasiConfTest, MovingLeastSquaresNeedsAMeshAndThreePoints) {
  // Two points: nothing fitted, the rest mesh.
  auto two = Make(DeformQuasiConf::OP_MOVING_LEAST_SQUARES);
  Load(*two, {0.2, 0.2, 0.8, 0.3}, {0.25, 0.2});
  EXPECT_EQ(two->m_pWeights, nullptr);
  warpix_test::expectNear(Shown(*two), Positions(*two), 0.0, "two points");
  // Pixel mode: clear and save warn once and show the picture undeformed.
  Q pixel(m_Image, "pixel", DeformQuasiConf::OP_MOVING_LEAST_SQUARES);
  std::string text = Load(pixel, kQuad, {0.25, 0.2});
  {
    CoutCapture out;
    pixel.ClearControls(false);
    pixel.ClearControls(true);
    text += out.str();
  }
  text += Load(pixel, kQuad, {});
  EXPECT_EQ(text,
            "[WARNING] pixel: operator 4 needs DEFORM_REGULAR_MESH; the image is shown undeformed\n"
            "[WARNING] pixel: nothing saved, saving needs DEFORM_REGULAR_MESH mode (control "
            "points and history kept)\n");
}

TEST_F(DeformQuasiConfTest, EveryCrossedRectangleOfVerticesIsRefusedWithoutNaN) {
  // Corners clicked top-left, top-right, bottom-left, bottom-right lie on one
  // circle in crossed order: collinear after any Mobius map. As originals
  // (a fresh cell) and as targets (dragged onto from a good quadrilateral),
  // for every rectangle of vertices of a 6 x 6 mesh.
  for (Op op : {DeformQuasiConf::OP_AFFINE_QUAD, DeformQuasiConf::OP_MEAN_VAL_COORDS,
                DeformQuasiConf::OP_MOVING_LEAST_SQUARES}) {
    int refused = 0, tried = 0;
    for (int x0 = 0; x0 < 6; ++x0)
      for (int x1 = x0 + 1; x1 <= 6; ++x1)
        for (int y0 = 0; y0 < 6; ++y0)
          for (int y1 = y0 + 1; y1 <= 6; ++y1) {
            const Points rect = {x0 / 6.0, y1 / 6.0, x1 / 6.0, y1 / 6.0, x0 / 6.0, y0 / 6.0, x1 / 6.0, y0 / 6.0};
            auto d = Make(op, 6);
            const std::string text = Load(*d, rect, {});
            ++tried;
            refused += text.find("[WARNING] qc: ") != std::string::npos;
            d->m_ControlPointsNewPos = {rect[0] + 0.01, rect[1], rect[2], rect[3] + 0.01, rect[4], rect[5], rect[6], rect[7]};
            for (double v : Shown(*d)) ASSERT_TRUE(std::isfinite(v)) << op;
          }
    EXPECT_EQ(refused, tried) << "operator " << op;
  }
}

TEST_F(DeformQuasiConfTest, SmallTargetMovesMoveTheMeshLittleInEitherOrientation) {
  // A convex pentagon clicked counter-clockwise and clockwise; one target
  // moved by 0.036. The normalisations must pick the same kind of candidate
  // before and after the move, and keep the pole away from the picture:
  // otherwise vertices jump by up to 100.
  const Points ccw = {0.2, 0.2, 0.8, 0.2, 0.8, 0.7, 0.5, 0.85, 0.2, 0.7};
  Points cw;
  for (int k = 4; k >= 0; --k) cw.insert(cw.end(), {ccw[2 * k], ccw[2 * k + 1]});
  for (const Op op : {DeformQuasiConf::OP_MEAN_VAL_COORDS, DeformQuasiConf::OP_THIN_PLATE_SPLINES,
                      DeformQuasiConf::OP_MOVING_LEAST_SQUARES}) {
    for (const bool clockwise : {false, true}) {
      const Points& p = clockwise ? cw : ccw;
      auto d = Make(op, 20);
      Points t = p;
      t[2] += 0.03;
      t[3] += 0.02;
      Load(*d, p, t);
      EXPECT_LT(MaxDistance(Shown(*d), Positions(*d)), 0.1) << "operator " << op << (clockwise ? " clockwise" : " counter-clockwise");
    }
  }
}

TEST_F(DeformQuasiConfTest, LineModesReproduceRestAndSimilarityTargets) {
  // z -> a z + b on every corner: the line modes give the similar mesh, the
  // lines straight and the spline region alike.
  const LinAlgComplex a(0.95, 0.1), b(0.02, -0.04);
  Points similar;
  for (size_t k = 0; k < kQuad.size(); k += 2) {
    const LinAlgComplex z = a * LinAlgComplex(kQuad[k], kQuad[k + 1]) + b;
    similar.insert(similar.end(), {z.m_fRe, z.m_fIm});
  }
  for (const Op op : {DeformQuasiConf::OP_FIXED_LINES_TPS, DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC}) {
    auto d = Make(op);
    const std::string text = Load(*d, kQuad, {});
    EXPECT_NE(text.find("delta=0.01\nCreated Line pair: 43\n[WARNING] Number of double-crossed faces "),
              std::string::npos)
        << text;
    ASSERT_EQ(d->m_LineConstraints.size(), 1u);
    warpix_test::expectNear(Shown(*d), Positions(*d), 1e-7, "rest");
    d->m_ControlPointsNewPos = similar;
    const Points shown = Shown(*d);
    const Points rest = Positions(*d, true);
    for (size_t k = 0; k < rest.size(); k += 2) {
      const LinAlgComplex expect = a * LinAlgComplex(rest[k], rest[k + 1]) + b;
      ASSERT_LT(qc_test::Dist({shown[k], shown[k + 1]}, expect), 1e-8) << "operator " << op << " vertex " << k / 2;
    }
    // Replaying the same state in a fresh cell gives what this one shows.
    auto replay = Make(op);
    Load(*replay, kQuad, similar);
    EXPECT_EQ(Shown(*replay), shown) << "operator " << op;
  }
}

TEST_F(DeformQuasiConfTest, LineModesRefuseAFifthPointAndCollapsedSides) {
  auto d = Make(DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC);
  const std::string text = Load(*d, kFive, {0.22, 0.18});
  EXPECT_NE(text.find("[ERROR] Did not implement more than 8-point system... \n"), std::string::npos);
  EXPECT_TRUE(d->m_LineConstraints.empty());
  warpix_test::expectNear(Shown(*d), Positions(*d), 0.0, "five points: at rest");

  auto q = Make(DeformQuasiConf::OP_FIXED_LINES_TPS);
  Load(*q, kQuad, {0.22, 0.18});
  const Points good = Shown(*q);
  CoutCapture out;
  q->m_ControlPointsNewPos[2] = q->m_ControlPointsNewPos[0];  // corner 1 onto corner 0
  q->m_ControlPointsNewPos[3] = q->m_ControlPointsNewPos[1];
  warpix_test::expectNear(Shown(*q), good, 0.0, "collapsed side");
  Shown(*q);
  EXPECT_EQ(out.str().rfind("[WARNING] qc: "), 0u) << out.str();
  EXPECT_EQ(out.str().find("[WARNING]", 1), std::string::npos) << out.str();
  for (const auto& v : q->m_Vertices) ASSERT_TRUE(std::isfinite(v.m_fX) && std::isfinite(v.m_fY));
}

namespace {

// The mesh route (whole vectors of vertices) shows every vertex exactly where
// MapPoint's one-point route puts its rest position, on every target the
// processor runs: a 13 x 13 mesh leaves a remainder at every vector width.
// With mean value coordinates MapPoint normalises the weights before the sum
// and the mesh divides the sums (the deformator's fast route): equal to
// rounding only.
TEST_F(DeformQuasiConfTest, MeshVerticesAreMapPointsOnEveryTarget) {
  std::mt19937 gen(31);
  for (Op op : {DeformQuasiConf::OP_NONE, DeformQuasiConf::OP_AFFINE_QUAD,
                DeformQuasiConf::OP_MEAN_VAL_COORDS, DeformQuasiConf::OP_THIN_PLATE_SPLINES}) {
    auto d = Make(op, 13);
    Load(*d, kFive, qc_test::Jitter(gen, kFive, 0.05));
    warpix_test::ForEveryTarget([&](const char* name) {
      const Points shown = Shown(*d);
      for (size_t k = 0; k < d->m_Vertices.size(); ++k) {
        double x = 0.0, y = 0.0;
        d->MapPoint(d->m_Vertices[k].m_fRestX, d->m_Vertices[k].m_fRestY, x, y);
        const double tolerance = op == DeformQuasiConf::OP_MEAN_VAL_COORDS ? 1e-14 : 0.0;
        ASSERT_TRUE(std::fabs(shown[2 * k] - x) <= tolerance && std::fabs(shown[2 * k + 1] - y) <= tolerance)
            << name << " operator " << op << " vertex " << k;
      }
    });
  }
}

// Holding '+' (steps of 0.001) on a line mode with sides 0 and 2 constrained
// reaches a delta at which the offset copies meet. Every press is checked: an
// accepted one changes the delta by the step and shows the deformation with
// it; a refused one prints one warning and keeps the delta and the mesh to the
// bit.
TEST_F(DeformQuasiConfTest, RefusedDeltaKeepsTheDeltasAndTheShownMesh) {
  const Points quad = {0.22, 0.26, 0.76, 0.20, 0.70, 0.74, 0.28, 0.68};
  const Points moved = {0.25, 0.30, 0.80, 0.22, 0.66, 0.77, 0.30, 0.65};
  for (Op op : {DeformQuasiConf::OP_FIXED_LINES_TPS, DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC}) {
    SCOPED_TRACE(op);
    auto d = Make(op, 50);
    Load(*d, quad, moved);
    const Points rest = Positions(*d);
    std::vector<Points> upward = {Shown(*d)};
    ASSERT_GT(MaxDistance(upward.back(), rest), 0.02);
    int refused = 0;
    while (refused < 3 && d->m_fDelta1 < 1.0) {
      const double before = d->m_fDelta1;
      CoutCapture out;
      d->TweakParameter(0.1);
      const Points shown = Shown(*d);
      if (out.str().find("New Delta=") != std::string::npos) {
        ASSERT_EQ(refused, 0) << "accepted after a refusal at " << d->m_fDelta1;
        ASSERT_NEAR(d->m_fDelta1, before + 0.001, 1e-12);
        ASSERT_GT(MaxDistance(shown, rest), 0.02) << "at rest after delta " << d->m_fDelta1;
        upward.push_back(shown);
        continue;
      }
      ++refused;
      ASSERT_EQ(out.str(), "delta=0.1\n[WARNING] qc: delta " + std::to_string(before + 0.001).substr(0, 5) +
                               " makes the line constraints singular (offset lines that meet); delta stays " +
                               std::to_string(before).substr(0, 5) + "\n");
      ASSERT_TRUE(d->m_fDelta1 == before && d->m_fDelta2 == before);
      ASSERT_EQ(shown, upward.back()) << "the shown mesh changed at a refused press";
    }
    ASSERT_EQ(refused, 3) << "no delta up to 1 made the offsets meet";
  }
}

// A side switch that the points cannot take is refused the same way. Side 0 alone takes a delta of 0.6, at which the
// offset copies of sides 0 and 2 meet.
TEST_F(DeformQuasiConfTest, RefusedSideSwitchKeepsTheLinesAndTheShownMesh) {
  const Points quad = {0.22, 0.26, 0.76, 0.20, 0.70, 0.74, 0.28, 0.68};
  const Points moved = {0.25, 0.30, 0.80, 0.22, 0.66, 0.77, 0.30, 0.65};
  auto d = Make(DeformQuasiConf::OP_FIXED_LINES_TPS, 50);
  Load(*d, quad, moved);
  {
    CoutCapture quiet;
    d->ChangeMode(9);  // side 2 off: side 0 alone
    for (int k = 0; k < 590; ++k) d->TweakParameter(0.1);
  }
  ASSERT_NEAR(d->m_fDelta1, 0.6, 1e-9);
  const Points shown = Shown(*d);
  {
    CoutCapture out;
    d->ChangeMode(9);
    EXPECT_EQ(out.str(), "[WARNING] qc: switching the line on side 2 makes the line constraints singular "
                         "(offset lines that meet); the lines stay\n");
  }
  EXPECT_TRUE(d->m_bLineOnSide[0] && !d->m_bLineOnSide[1] && !d->m_bLineOnSide[2] && !d->m_bLineOnSide[3]);
  EXPECT_EQ(Shown(*d), shown);
}

// With side 0 alone, the opposite side is not constrained: its two target
// corners dragged onto one spot make a segment of no length, which the
// offset test meets as a point (it used to stop the program).
TEST_F(DeformQuasiConfTest, UnconstrainedSideDraggedToAPointIsNoFault) {
  const Points quad = {0.22, 0.26, 0.76, 0.20, 0.70, 0.74, 0.28, 0.68};
  for (Op op : {DeformQuasiConf::OP_FIXED_LINES_TPS, DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC}) {
    auto d = Make(op, 20);
    Load(*d, quad, {});
    {
      CoutCapture quiet;
      d->ChangeMode(9);  // side 2 off
    }
    for (const Points& spot : {Points{0.70, 0.74}, {0.28, 0.68}, {0.5, 0.7}}) {
      d->m_ControlPointsNewPos[4] = d->m_ControlPointsNewPos[6] = spot[0];
      d->m_ControlPointsNewPos[5] = d->m_ControlPointsNewPos[7] = spot[1];
      CoutCapture out;
      for (const Points::value_type& c : Shown(*d)) ASSERT_TRUE(std::isfinite(c)) << out.str();
    }
  }
}

}  // namespace
