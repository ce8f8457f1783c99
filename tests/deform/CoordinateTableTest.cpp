#include "deform/CoordinateTable.h"

#include <random>
#include <string>

#include "DeformTesting.h"

namespace {

using deform_test::ExpectBitsOnEveryTarget;
using deform_test::Points;
using warpix::CoordinateTable;

// A table of n vertices and m points with seeded coefficients.
CoordinateTable Seeded(std::mt19937& gen, int n, int m, CoordinateTable::Kind kind) {
  std::uniform_real_distribution<double> c(-2.0, 2.0);
  CoordinateTable table;
  table.Reset(n, m, kind);
  for (int j = 0; j < m; ++j) {
    for (int v = 0; v < n; ++v) {
      table.Re(j)[v] = c(gen);
      if (kind == CoordinateTable::Kind::kComplex) table.Im(j)[v] = c(gen);
    }
  }
  return table;
}

Points Applied(const CoordinateTable& table, const Points& targets, bool oneByOne) {
  std::vector<Warpixator::ImgVertex> v(table.Vertices());
  table.Apply(targets.data(), v, oneByOne);
  return deform_test::Positions(v);
}

// The vector route gives the one-vertex loop's bits on every target, for both
// kinds and every remainder of the vertex count; the one-vertex loop is the
// product written out, and Combine is that loop for one vertex.
TEST(CoordinateTable, ProductOnEveryTargetEqualsTheWrittenOutSums) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> q(0.0, 1.0);
  for (auto kind : {CoordinateTable::Kind::kReal, CoordinateTable::Kind::kComplex}) {
    const bool complex = kind == CoordinateTable::Kind::kComplex;
    for (int m : {1, 3, 16}) {
      Points targets(2 * m);
      for (double& t : targets) t = q(gen);
      for (int n : {1, 5, 8, 13, 17}) {
        const CoordinateTable table = Seeded(gen, n, m, kind);
        const Points reference = Applied(table, targets, true);
        const std::string what = "complex " + std::to_string(complex) + " m " + std::to_string(m) +
                                 " n " + std::to_string(n);
        ExpectBitsOnEveryTarget(reference, [&] { return Applied(table, targets, false); }, what);
        for (int v = 0; v < n; ++v) {
          double x = 0.0, y = 0.0;
          std::vector<double> re(m), im(m);
          for (int j = 0; j < m; ++j) {
            const double a = table.Re(j)[v], b = complex ? table.Im(j)[v] : 0.0;
            re[j] = a;
            im[j] = b;
            x += a * targets[2 * j] - b * targets[2 * j + 1];
            y += a * targets[2 * j + 1] + b * targets[2 * j];
          }
          EXPECT_NEAR(reference[2 * v], x, 1e-13) << what;
          EXPECT_NEAR(reference[2 * v + 1], y, 1e-13) << what;
          double cx = 0.0, cy = 0.0;
          CoordinateTable::Combine(m, re.data(), complex ? im.data() : nullptr, targets.data(), cx, cy);
          EXPECT_TRUE(deform_test::SameOrBothNaN(cx, reference[2 * v]) &&
                      deform_test::SameOrBothNaN(cy, reference[2 * v + 1]))
              << what << " vertex " << v;
        }
      }
    }
  }
}

// An empty table, or one for another mesh, leaves the vertices as they are.
TEST(CoordinateTable, EmptyOrMismatchedTableLeavesVerticesAlone) {
  std::vector<Warpixator::ImgVertex> v(3);
  for (auto& vertex : v) vertex.m_fX = vertex.m_fY = 0.5;
  const double targets[2] = {1.0, 1.0};
  CoordinateTable table;
  table.Apply(targets, v);
  table.Reset(4, 1, CoordinateTable::Kind::kReal);
  table.Apply(targets, v);
  for (const auto& vertex : v) EXPECT_EQ(vertex.m_fX, 0.5);
  table.Clear();
  EXPECT_TRUE(table.Empty());
}

}  // namespace
