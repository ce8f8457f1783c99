#include "deform/quasiconf/DeformQuasiConf.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "../DeformTesting.h"

namespace {

using deform_test::Load;
using deform_test::MaxDistance;
using deform_test::Points;
using deform_test::Positions;
using deform_test::Shown;
using warpix_test::CoutCapture;
using Op = DeformQuasiConf::IntermediateOperator;
using Q = DeformQuasiConf;

// Points on vertices of the 10 x 10 mesh: a convex quadrilateral first.
const Points kQuad = {0.2, 0.2, 0.8, 0.3, 0.7, 0.8, 0.3, 0.7};
const Points kFive = {0.2, 0.2, 0.8, 0.3, 0.7, 0.8, 0.3, 0.7, 0.5, 0.5};
// A quadrilateral for the line modes on a 50 x 50 (or 20 x 20) mesh, and moved targets.
const Points kLineQuad = {0.22, 0.26, 0.76, 0.20, 0.70, 0.74, 0.28, 0.68};
const Points kLineMoved = {0.25, 0.30, 0.80, 0.22, 0.66, 0.77, 0.30, 0.65};

class DeformQuasiConfTest : public ::testing::Test {
 protected:
  std::unique_ptr<Q> Make(Op op, int cells = 10) {
    auto d = std::make_unique<Q>(m_Image, "qc", op);
    deform_test::Mesh(*d, cells, cells);
    return d;
  }
  R2Image m_Image{4, 4, 3};
};

const Op kFittingOps[] = {DeformQuasiConf::OP_NONE, DeformQuasiConf::OP_AFFINE_QUAD,
                          DeformQuasiConf::OP_MEAN_VAL_COORDS, DeformQuasiConf::OP_THIN_PLATE_SPLINES,
                          DeformQuasiConf::OP_MOVING_LEAST_SQUARES};

}  // namespace

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

// "c" keeps showing the mesh while fewer points than an operator needs
// follow; a mode switch then (below the new operator's minimum) shows the
// rest mesh. (A switch with points deforms as a cell built with the new
// operator: e2e/quasiconf.sh compares the frames.)
TEST_F(DeformQuasiConfTest, ClearKeepsTheMeshAndASwitchBelowTheMinimumShowsTheRest) {
  for (Op op : kFittingOps) {
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
    cleared->ClearControls(false);
    cleared->ChangeMode(op == DeformQuasiConf::OP_AFFINE_QUAD ? 2 : 1);
    warpix_test::expectNear(Shown(*cleared), Positions(*cleared), 0.0, "switched without points");
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

TEST_F(DeformQuasiConfTest, LineModesTakeFourPointsAndRefuseCollapsedSides) {
  auto d = Make(DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC);
  std::string text = Load(*d, kFive, {0.22, 0.18});
  EXPECT_NE(text.find("[ERROR] Did not implement more than 8-point system... \n"), std::string::npos);
  EXPECT_TRUE(d->m_LineConstraints.empty());
  warpix_test::expectNear(Shown(*d), Positions(*d), 0.0, "five points: at rest");

  auto q = Make(DeformQuasiConf::OP_FIXED_LINES_TPS);
  text = Load(*q, kQuad, {0.22, 0.18});
  EXPECT_NE(text.find("delta=0.01\nCreated Line pair: 43\n[WARNING] Number of double-crossed faces "),
            std::string::npos) << text;
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

// (The mesh route against MapPoint: DeformPropertiesTest.)

// Holding '+' (steps of 0.001) on a line mode with sides 0 and 2 constrained
// reaches a delta at which the offset copies meet. Every press is checked: an
// accepted one changes the delta by the step and shows the deformation with
// it; a refused one prints one warning and keeps the delta and the mesh to the
// bit.
TEST_F(DeformQuasiConfTest, RefusedDeltaKeepsTheDeltasAndTheShownMesh) {
  for (Op op : {DeformQuasiConf::OP_FIXED_LINES_TPS, DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC}) {
    SCOPED_TRACE(op);
    auto d = Make(op, 50);
    Load(*d, kLineQuad, kLineMoved);
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
  auto d = Make(DeformQuasiConf::OP_FIXED_LINES_TPS, 50);
  Load(*d, kLineQuad, kLineMoved);
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
  for (Op op : {DeformQuasiConf::OP_FIXED_LINES_TPS, DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC}) {
    auto d = Make(op, 20);
    Load(*d, kLineQuad, {});
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
