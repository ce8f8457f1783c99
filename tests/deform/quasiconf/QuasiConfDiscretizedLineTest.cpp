#include "deform/quasiconf/QuasiConfDiscretizedLine.h"

#include <cmath>

#include "QuasiConfTesting.h"
#include "TestCommon.h"

namespace {

using qc_test::Dist;
using qc_test::Identity;
using Line = QuasiConfDiscretizedLine;

// The unit segment along the real axis with its outward normal pointing down
// (the quadrilateral lies above it), offset 0.1.
Line UnitLine(LinAlgMatrixComplex map = Identity()) {
  return Line({0, 0}, {1, 0}, {0, -1}, 10, 0.1, map);
}

}  // namespace

TEST(QuasiConfDiscretizedLine, UpdateLineCarriesTheOldSegmentByASimilarity) {
  Line line = UnitLine();
  LinAlgMatrixComplex id = Identity();
  line.UpdateLine({2, 0}, {3, 0}, id);
  EXPECT_EQ(line.m_SimilarityA, LinAlgComplex(1, 0));
  EXPECT_EQ(line.m_SimilarityB, LinAlgComplex(2, 0));
  EXPECT_EQ(line.TransformBySimilarity({0.5, 0}), LinAlgComplex(2.5, 0));
  line.UpdateLine({0, 0}, {0, 2}, id);
  EXPECT_EQ(line.m_SimilarityA, LinAlgComplex(0, 2));
  EXPECT_EQ(line.TransformBySimilarity({1, 0}), LinAlgComplex(0, 2));
  // The new offset segment is the similarity's image of the old one, scaled
  // back to distance delta: turned by 90 degrees, at 0.1 to the left of the
  // segment 0 -> 2i (the inside turned with it).
  for (int k = 0; k < 10; ++k) {
    EXPECT_NEAR(Dist(line.m_DiscretizedLinesAfterMobius[2](k), {0, 2 * k / 9.0}), 0.0, 1e-15);
    EXPECT_NEAR(Dist(line.m_DiscretizedLinesAfterMobius[3](k), {-0.1, 2 * k / 9.0}), 0.0, 1e-15);
  }
  // The old samples never change.
  EXPECT_EQ(line.m_DiscretizedLinesAfterMobius[0](9), LinAlgComplex(1, 0));
}

TEST(QuasiConfDiscretizedLine, SlantedOffsetsAndTheSideOfTheLine) {
  Line line = UnitLine();
  line.UpdateDelta(0.0, 0.0, 0.3, 0.4);  // both new offsets 0: nothing
  EXPECT_EQ(line.m_OldOffsetP2, LinAlgComplex(1, 0.1));
  line.UpdateDelta(0.1, 0.2, 0.1, 0.2);
  EXPECT_NEAR(Dist(line.m_OldOffsetP1, {0, 0.1}), 0.0, 1e-15);
  EXPECT_NEAR(Dist(line.m_OldOffsetP2, {1, 0.2}), 0.0, 1e-15);
  EXPECT_NEAR(Dist(line.m_NewOffsetP2, {1, 0.2}), 0.0, 1e-15);  // no move yet: the same
  EXPECT_NEAR(Dist(line.m_DiscretizedLinesAfterMobius[3](9), {1, 0.2}), 0.0, 1e-15);
  EXPECT_DOUBLE_EQ(line.m_Delta, 0.1);  // unchanged
  // Outward is down: below the line is in the normal's direction, on it or
  // above it is not.
  EXPECT_TRUE(line.InNormalDir({0.5, -0.01}));
  EXPECT_FALSE(line.InNormalDir({0.5, 0.0}));
  EXPECT_FALSE(line.InNormalDir({0.5, 0.3}));
}
