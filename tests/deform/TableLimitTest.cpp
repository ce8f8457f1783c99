// The size limit of the methods' tables: a preparation that would need more
// is refused before it allocates, with one warning, and the method keeps
// what it showed.
#include <string>

#include "DeformTesting.h"
#include "deform/DeformAsRigidAsPossible.h"
#include "deform/quasiconf/DeformQuasiConf.h"

namespace {

using deform_test::Mesh;
using deform_test::Points;
using deform_test::Positions;
using warpix_test::CoutCapture;

const Points kSquare{0.25, 0.25, 0.75, 0.25, 0.75, 0.75, 0.25, 0.75};

class TableLimitTest : public ::testing::Test {
 protected:
  void TearDown() override { Warpixator::SetTableByteLimit(1LL << 30); }
  R2Image m_Image{4, 4, 3};
};

// The points placed as originals at once and prepared once, as a loaded
// history step does; returns what the preparation printed.
std::string PrepareWith(Warpixator& d, const Points& points) {
  CoutCapture out;
  d.m_ControlPointsOrigPos = d.m_ControlPointsNewPos = points;
  d.PrepareDeformator();
  return out.str();
}

TEST_F(TableLimitTest, DefaultLimitRefusesWhatWouldNotFitInAGigabyte) {
  // About 1.4 GB of step-1 entries and factors for a 500 x 500 mesh.
  DeformAsRigidAsPossible arap(false, false, m_Image, "A");
  Mesh(arap, 500, 500);
  std::string printed = PrepareWith(arap, kSquare);
  const std::string head = "[WARNING] A: the as-rigid-as-possible preparation with 251001 mesh vertices and 4 "
                           "constrained vertices would need about ";
  const std::string tail = " MB of tables (more than 1024 MB); not prepared, the free vertices stay\n";
  EXPECT_TRUE(printed.rfind(head, 0) == 0 && printed.find(tail) == printed.size() - tail.size()) << printed;
  EXPECT_FALSE(arap.Prepared());

  // The Mobius normalisation of 9000 points: 1.3 GB of singular vectors.
  DeformQuasiConf qc(m_Image, "Q", DeformQuasiConf::OP_THIN_PLATE_SPLINES);
  Points many;
  for (int k = 0; k < 9000; ++k) many.insert(many.end(), {k / 9000.0, (k % 7) / 7.0});
  printed = PrepareWith(qc, many);
  EXPECT_EQ(printed,
            "[WARNING] Q: operator 3 (ThinPlateSplines) with 9000 control points would need about "
            "1236 MB of tables (more than 1024 MB); not prepared, the last good deformation is "
            "kept\n");
}

TEST_F(TableLimitTest, RefusedMovingLeastSquaresKeepsTheLastGoodMesh) {
  DeformQuasiConf qc(m_Image, "Q", DeformQuasiConf::OP_MOVING_LEAST_SQUARES);
  Mesh(qc, 40, 40);
  PrepareWith(qc, kSquare);
  qc.m_ControlPointsNewPos[0] = 0.2;
  const Points moved = deform_test::Shown(qc);
  ASSERT_NE(moved, Positions(qc, true));

  // 1681 vertices x 12 points x 64 bytes and more: over a 1 MB limit.
  Warpixator::SetTableByteLimit(1LL << 20);
  Points twelve = kSquare;
  for (int k = 0; k < 8; ++k) twelve.insert(twelve.end(), {0.1 + 0.1 * k, 0.5});
  EXPECT_EQ(PrepareWith(qc, twelve),
            "[WARNING] Q: operator 4 (MovingLeastSquares) with 1681 mesh vertices and 12 control "
            "points would need about 2 MB of tables (more than 1 MB); not prepared, the last good "
            "deformation is kept\n");
  qc.m_ControlPointsNewPos[1] = 0.1;
  EXPECT_EQ(deform_test::Shown(qc), moved);
}

}  // namespace
