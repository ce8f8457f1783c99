// The affine moving-least-squares fit against its definition: at every vertex
// v the affine map x -> A x + t minimising sum_j w_j |A p_j + t - q_j|^2 with
// w_j = 1 / (|p_j - v| + 1e-6)^2, solved here from the 3 x 3 normal equations
// of each output coordinate (no centring, no precomputed coefficients).
#include <cmath>
#include <random>
#include <string>

#include "DeformTesting.h"
#include "deform/DeformMLS.h"
#include "deform/DeformMLSKernel.h"

namespace {

using deform_test::Affine;
using deform_test::AffineMap;
using deform_test::Points;
using warpix_test::SameBits;

// Solves the 3 x 3 system a z = r by Cramer's rule, in long double.
bool Solve3(const long double a[3][3], const long double r[3], long double z[3]) {
  auto det3 = [](const long double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  const long double d = det3(a);
  if (!(std::fabs(d) > 0.0L)) return false;
  for (int c = 0; c < 3; ++c) {
    long double m[3][3];
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) m[i][k] = k == c ? r[i] : a[i][k];
    z[c] = det3(m) / d;
  }
  return true;
}

// The weighted least-squares affine map at v applied to v: with the basis
// (x - vx, y - vy, 1) the image of v is the constant term.
Points OracleAffine(const Points& orig, const Points& target, double vx, double vy) {
  long double a[3][3] = {}, rx[3] = {}, ry[3] = {};
  for (size_t k = 0; k < orig.size(); k += 2) {
    const long double dx = orig[k] - vx, dy = orig[k + 1] - vy;
    const long double w = 1.0L / ((std::sqrt(dx * dx + dy * dy) + 1e-6L) * (std::sqrt(dx * dx + dy * dy) + 1e-6L));
    const long double basis[3] = {dx, dy, 1.0L};
    for (int i = 0; i < 3; ++i) {
      for (int c = 0; c < 3; ++c) a[i][c] += w * basis[i] * basis[c];
      rx[i] += w * basis[i] * target[k];
      ry[i] += w * basis[i] * target[k + 1];
    }
  }
  long double zx[3], zy[3];
  if (!Solve3(a, rx, zx) || !Solve3(a, ry, zy)) return {NAN, NAN};
  return {static_cast<double>(zx[2]), static_cast<double>(zy[2])};
}

class DeformMLSAffineTest : public ::testing::Test {
 protected:
  void SetUp() override { deform_test::Mesh(m_Mls, 20, 20); }
  // Points set as given (targets may leave the unit square, which a drag cannot).
  Points Deformed(const Points& orig, const Points& target) {
    m_Mls.m_ControlPointsOrigPos = orig;
    m_Mls.m_ControlPointsNewPos = target;
    m_Mls.PrepareDeformator();
    return deform_test::Shown(m_Mls);
  }
  R2Image m_Image{4, 4, 3};
  DeformMLS m_Mls{m_Image, "affine", DeformMLS::MLS_AFFINE};
};

// Targets that are an affine image of the originals (shears and uneven scales
// included, which no similarity reproduces): the whole mesh follows the map.
TEST_F(DeformMLSAffineTest, ReproducesEveryAffineMapOfThePlane) {
  const Points orig = {0.2, 0.3, 0.7, 0.2, 0.8, 0.8, 0.3, 0.7, 0.5, 0.5};
  const AffineMap maps[] = {{1, 0, 0, 1, 0, 0},           {1.3, 0.4, -0.2, 0.7, 0.05, -0.1},
                            {0.5, -1.2, 0.9, 0.3, 0.4, 0.2}, {-1, 0, 0, 1, 1, 0},
                            {2, 0, 0, 0.25, -0.5, 0.3}};
  for (const AffineMap& map : maps) {
    const Points shown = Deformed(orig, Affine(orig, map));
    const Points rest = deform_test::Positions(m_Mls, true);
    EXPECT_LT(deform_test::MaxDistance(shown, Affine(rest, map)), 1e-12);
  }
}

// Seeded configurations of 3 to 16 points with moved targets agree with the
// definition at every vertex, including vertices on control points.
TEST_F(DeformMLSAffineTest, SeededConfigurationsMatchTheDefinition) {
  std::mt19937 gen(29);
  std::uniform_int_distribution<int> vertex(0, static_cast<int>(m_Mls.m_Vertices.size()) - 1);
  std::uniform_real_distribution<double> shift(-0.08, 0.08);
  for (int m : {3, 4, 7, 16}) {
    Points orig, target;
    for (int k = 0; k < m; ++k) {
      const auto& v = m_Mls.m_Vertices[vertex(gen)];
      orig.insert(orig.end(), {v.m_fRestX, v.m_fRestY});
      target.insert(target.end(), {v.m_fRestX + shift(gen), v.m_fRestY + shift(gen)});
    }
    const Points shown = Deformed(orig, target);
    for (size_t k = 0; k < m_Mls.m_Vertices.size(); ++k) {
      const auto& v = m_Mls.m_Vertices[k];
      const Points expected = OracleAffine(orig, target, v.m_fRestX, v.m_fRestY);
      warpix_test::expectNear({shown[2 * k], shown[2 * k + 1]}, expected, 1e-9,
                              ("m " + std::to_string(m) + " vertex " + std::to_string(k)).c_str());
    }
  }
}

// Where the affine fit is undetermined (fewer than three points, or points on
// one line) every vertex takes the similarity fit, to the bit.
TEST_F(DeformMLSAffineTest, UndeterminedFitsAreTheSimilarityFit) {
  const std::pair<Points, Points> cases[] = {
      {{0.5, 0.5}, {0.6, 0.45}},
      {{0.2, 0.2, 0.8, 0.6}, {0.25, 0.2, 0.7, 0.7}},
      {{0.1, 0.1, 0.5, 0.5, 0.9, 0.9}, {0.1, 0.2, 0.5, 0.5, 0.8, 0.9}},
      {{0.3, 0.5, 0.3, 0.5, 0.3, 0.5}, {0.3, 0.6, 0.3, 0.5, 0.3, 0.5}}};
  for (const auto& [orig, target] : cases) {
    DeformMLS similarity(m_Image, "sim", DeformMLS::MLS_FIT_SIMILARITY);
    deform_test::Mesh(similarity, 20, 20);
    const Points expected = (deform_test::Load(similarity, orig, target), deform_test::Shown(similarity));
    const Points shown = Deformed(orig, target);
    for (size_t k = 0; k < shown.size(); ++k) {
      ASSERT_TRUE(SameBits(shown[k], expected[k])) << orig.size() / 2 << " points, value " << k;
    }
  }
}

// The coefficient kernel gives the one-vertex loop's bits on every target,
// for every remainder of the vertex count, and the stretch-by-stretch route
// taken beyond the table limit gives the whole table's bits.
TEST_F(DeformMLSAffineTest, VectorRouteAndStretchesGiveTheOneVertexBits) {
  std::mt19937 gen(3);
  Points orig, target;
  deform_test::PointsAndTargets(gen, 9, orig, target);
  for (int n : {1, 7, 8, 9, 23}) {
    const Points at = deform_test::Places(gen, n, orig, 4);
    std::vector<Warpixator::ImgVertex> rest(n);
    for (int k = 0; k < n; ++k) rest[k].m_fRestX = at[2 * k], rest[k].m_fRestY = at[2 * k + 1];
    auto coefficients = [&](bool oneVertex) {
      warpix::CoordinateTable table;
      table.Reset(n, 9, warpix::CoordinateTable::Kind::kReal);
      std::vector<int> undetermined;
      warpix::MLSAffineTable(orig, rest.data(), n, 0, table, undetermined, oneVertex);
      Points all;
      for (int j = 0; j < 9; ++j) all.insert(all.end(), table.Re(j), table.Re(j) + n);
      return all;
    };
    deform_test::ExpectBitsOnEveryTarget(coefficients(true), [&] { return coefficients(false); },
                                         "n " + std::to_string(n));
  }

  const Points whole = Deformed(orig, target);
  Warpixator::SetTableByteLimit(1000);
  DeformMLS stretched(m_Image, "affine", DeformMLS::MLS_AFFINE);
  deform_test::Mesh(stretched, 100, 100);
  DeformMLS reference(m_Image, "affine", DeformMLS::MLS_AFFINE);
  deform_test::Mesh(reference, 100, 100);
  std::string console = deform_test::Load(stretched, orig, target);
  const Points byStretches = deform_test::Shown(stretched);
  Warpixator::SetTableByteLimit(1LL << 30);
  deform_test::Load(reference, orig, target);
  const Points byTable = deform_test::Shown(reference);
  EXPECT_NE(console.find("computed anew at every frame"), std::string::npos) << console;
  for (size_t k = 0; k < byTable.size(); ++k) ASSERT_TRUE(SameBits(byTable[k], byStretches[k])) << k;
  EXPECT_FALSE(whole.empty());
}

}  // namespace
