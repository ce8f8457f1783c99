#include <cmath>
#include <random>
#include <vector>

#include "../DeformTesting.h"
#include "QuasiConfTesting.h"
#include "deform/DeformMeanValueCoords.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "deform/quasiconf/QuasiConfDetail.h"
#include "deform/quasiconf/QuasiConfMLSKernel.h"

namespace {

using qc_test::Dist;
using qc_test::Points;
using qc_test::Pt;
using warpix_test::CoutCapture;

class QuasiConfOperatorsTest : public ::testing::Test {
 protected:
  LinAlgComplex Alpha() const { return {m_Qc.m_LinearMap(0, 0), m_Qc.m_LinearMap(0, 1)}; }
  LinAlgComplex Beta() const { return {m_Qc.m_LinearMap(1, 0), m_Qc.m_LinearMap(1, 1)}; }
  static LinAlgVectorComplex Vec(const std::vector<LinAlgComplex>& values) {
    LinAlgVectorComplex v(static_cast<int>(values.size()));
    for (int i = 0; i < v.Rows(); ++i) v(i) = values[i];
    return v;
  }
  R2Image m_Image{4, 4, 3};
  DeformQuasiConf m_Qc{m_Image, "qc", DeformQuasiConf::OP_AFFINE_QUAD};
};

}  // namespace

TEST_F(QuasiConfOperatorsTest, RLinearFitIdentityRecoveryAndRefusals) {
  const LinAlgComplex z(0.3, -0.8);
  EXPECT_EQ(m_Qc.LinearTransform(z), z);  // the initial map [[1, 0], [0, 0]]

  LinAlgVectorComplex tZ = Vec({{0, 0}, {1, 0}, {0.3, 0.8}, {1.3, 0.8}});
  LinAlgVectorComplex same = tZ;
  ASSERT_TRUE(m_Qc.FillAffineOn4Pnt(tZ, same));
  EXPECT_TRUE(Dist(Alpha(), {1, 0}) < 1e-15 && Beta().Power() < 1e-15);

  // A known map alpha z + beta conj z is recovered from the first three points.
  const LinAlgComplex alpha(1.2, 0.3), beta(-0.2, 0.15);
  LinAlgVectorComplex tW(4);
  for (int i = 0; i < 4; ++i) tW(i) = alpha * tZ(i) + beta * tZ(i).Conjugate();
  ASSERT_TRUE(m_Qc.FillAffineOn4Pnt(tZ, tW));
  EXPECT_TRUE(Dist(Alpha(), alpha) < 1e-14 && Dist(Beta(), beta) < 1e-14);
  EXPECT_NEAR(Dist(m_Qc.LinearTransform(z), alpha * z + beta * z.Conjugate()), 0.0, 1e-14);

  // Three points leave the map; collinear first three are refused and leave it too.
  LinAlgVectorComplex three = Vec({{0, 0}, {1, 0}, {2, 2}});
  ASSERT_TRUE(m_Qc.FillAffineOn4Pnt(three, three));
  LinAlgVectorComplex flat = Vec({{0, 0}, {1, 0}, {2, 0}, {3, 1}});
  EXPECT_FALSE(m_Qc.FillAffineOn4Pnt(flat, tW));
  EXPECT_NEAR(Dist(Alpha(), alpha), 0.0, 1e-14);
}

TEST_F(QuasiConfOperatorsTest, MeanValueOperatorInterpolatesThePolygonsOrIsTheIdentity) {
  const LinAlgComplex z(0.45, 0.4);
  EXPECT_EQ(m_Qc.MVCTransform(z), z);  // no polygon yet
  LinAlgVectorComplex src = Vec({{0.1, 0.1}, {0.9, 0.2}, {0.8, 0.9}, {0.2, 0.7}});
  LinAlgVectorComplex dst = Vec({{0.1, 0.1}, {0.95, 0.25}, {0.8, 0.9}, {0.2, 0.7}});
  m_Qc.FillNPointInterpMVC(src, dst);
  EXPECT_EQ(m_Qc.m_MVCSource, (std::vector<double>{0.1, 0.1, 0.9, 0.2, 0.8, 0.9, 0.2, 0.7}));
  // The trigonometric coordinates of the mean-value method agree (its batch
  // route: DeformMVCKernelTest and DeformMeanValueCoordsTest).
  std::vector<double> w;
  ASSERT_TRUE(DeformMeanValueCoords::CalcMVC(m_Qc.m_MVCSource, z.m_fRe, z.m_fIm, w));
  double x = 0, y = 0;
  DeformMeanValueCoords::Interpolate(m_Qc.m_MVCTarget, w, x, y);
  EXPECT_NEAR(Dist(m_Qc.MVCTransform(z), {x, y}), 0.0, 1e-15);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(Dist(m_Qc.MVCTransform(src(k)), dst(k)), 0.0, 1e-12);
}

// The batch map of the global operators gives every finite image of
// MapPoint bit for bit (counts leaving every vector remainder, targets moved
// and at the originals); a point without a finite image keeps its output.
TEST(QuasiConfGlobalMap, MapPointsEqualsMapPointBitForBit) {
  R2Image image(4, 4, 3);
  std::mt19937 gen(23);
  const Points orig = {0.2, 0.2, 0.8, 0.25, 0.75, 0.8, 0.25, 0.7, 0.5, 0.45};
  for (auto op : {DeformQuasiConf::OP_NONE, DeformQuasiConf::OP_AFFINE_QUAD,
                  DeformQuasiConf::OP_MEAN_VAL_COORDS, DeformQuasiConf::OP_THIN_PLATE_SPLINES}) {
    for (bool moved : {true, false}) {
      DeformQuasiConf qc(image, "qc", op);
      deform_test::Load(qc, orig, moved ? qc_test::Jitter(gen, orig, 0.08) : orig);
      for (int count : {1, 5, 8, 13, 37}) {
        Points x = qc_test::RandomPoints(gen, count, -0.5, 1.5), y(count);
        for (int k = 0; k < count; ++k) y[k] = x[count + k];
        x.resize(count);
        x[count / 2] = std::nan("");
        Points outX(count, 7.0), outY(count, -7.0);
        qc.MapPoints(count, x.data(), y.data(), outX.data(), outY.data());
        for (int k = 0; k < count; ++k) {
          double ex = 0, ey = 0;
          qc.MapPoint(x[k], y[k], ex, ey);
          if (!std::isfinite(ex) || !std::isfinite(ey)) ex = 7.0, ey = -7.0;
          ASSERT_TRUE(outX[k] == ex && outY[k] == ey)
              << "operator " << op << " moved " << moved << " count " << count << " point " << k;
        }
      }
    }
  }
}

namespace {

// Operator 4 on a 12 x 12 mesh with the points at given positions.
class QuasiConfMLSTest : public ::testing::Test {
 protected:
  void SetUp() override { deform_test::Mesh(m_Qc, 12, 12); }
  // Prepares with the points (no snapping: set directly) and targets.
  void Prepare(const Points& orig, const Points& target) {
    m_Qc.m_ControlPointsOrigPos = orig;
    m_Qc.m_ControlPointsNewPos = target;
    CoutCapture quiet;
    m_Qc.PrepareDeformator();
  }
  // The documented route's images of the rest positions.
  LinAlgVectorComplex Documented() {
    LinAlgVectorComplex out(static_cast<int>(m_Qc.m_Vertices.size()));
    const int n = static_cast<int>(m_Qc.m_ControlPointsNewPos.size() / 2);
    LinAlgVectorComplex target(n);
    for (int j = 0; j < n; ++j) target(j) = Pt(m_Qc.m_ControlPointsNewPos, j);
    EXPECT_TRUE(m_Qc.QCONF_FPI_MLS(*m_Qc.m_pCtrlOrig, target, *m_Qc.m_pVertRest, out));
    return out;
  }
  LinAlgVectorComplex Fast() {
    LinAlgVectorComplex out(static_cast<int>(m_Qc.m_Vertices.size()));
    EXPECT_TRUE(m_Qc.FastFPIMLS(m_Qc.m_ControlPointsNewPos, out));
    return out;
  }
  R2Image m_Image{4, 4, 3};
  DeformQuasiConf m_Qc{m_Image, "qc", DeformQuasiConf::OP_MOVING_LEAST_SQUARES};
};

}  // namespace

TEST_F(QuasiConfMLSTest, WeightsAreOneOverRootDistanceBeforeNormalisation) {
  // The vertex (0.5, 0.5) lies 0.25 from the control point (0.75, 0.5).
  Prepare({0.75, 0.5, 0.2, 0.2, 0.3, 0.8}, {0.75, 0.5, 0.2, 0.2, 0.3, 0.8});
  ASSERT_NE(m_Qc.m_pWeights, nullptr);
  const int vertex = 6 * 13 + 6;
  ASSERT_EQ(m_Qc.m_Vertices[vertex].m_fRestX, 0.5);
  EXPECT_DOUBLE_EQ((*m_Qc.m_pWeights)(vertex, 0), 1.0 / (0.5 + 1e-6));
  Documented();
  EXPECT_DOUBLE_EQ((*m_Qc.m_pWeights)(vertex, 0), 1.0 / (0.5 + 1e-6));
}

namespace {

// n distinct mesh vertices of the 12 x 12 mesh, drawn by gen.
Points GridPoints(std::mt19937& gen, int n) {
  std::uniform_int_distribution<int> index(0, 12);
  Points p;
  while (static_cast<int>(p.size()) < 2 * n) {
    const double x = index(gen) / 12.0, y = index(gen) / 12.0;
    bool used = false;
    for (size_t k = 0; k < p.size(); k += 2) used = used || (p[k] == x && p[k + 1] == y);
    if (!used) p.insert(p.end(), {x, y});
  }
  return p;
}

// n points on a segment through the mesh, each off it by up to `off` (a
// fraction of the segment's length).
Points NearlyCollinear(std::mt19937& gen, int n, double off) {
  std::uniform_real_distribution<double> u(0.0, 1.0), side(-off, off);
  Points p;
  for (int k = 0; k < n; ++k) {
    const double s = (k + 0.5 * u(gen)) / n, e = side(gen) * 0.8;
    p.insert(p.end(), {0.1 + 0.8 * s + 0.6 * e, 0.2 + 0.6 * s - 0.8 * e});
  }
  return p;
}

// n / 2 random points, each with a twin `off` away (the last one single when
// n is odd).
Points NearlyCoincident(std::mt19937& gen, int n, double off) {
  Points p = qc_test::RandomPoints(gen, (n + 1) / 2);
  for (int k = 0; 2 * k + 1 < n; ++k) p.insert(p.end(), {p[2 * k] + off, p[2 * k + 1] - 0.5 * off});
  return p;
}

}  // namespace

TEST_F(QuasiConfMLSTest, FastRouteGivesTheDocumentedVertices) {
  // Seeded configurations of 3 to 16 points: on mesh vertices (vertices on
  // control points), nearly collinear originals (off a line by 1e-3 and 1e-5
  // of its length), nearly coincident pairs (1e-4 and 1e-6 apart) and nearly
  // collinear targets; other targets moved by up to 0.05. The routes agree
  // to 1e-9, or to within ten times the documented route's own change when
  // the originals are scaled by 1 + 1e-14 (a near double root of the n-gon
  // fit's quadratic makes a few vertices that sensitive), and no deformed
  // vertex is ever NaN.
  struct Case {
    const char* name;
    double off;
  };
  const Case cases[] = {{"grid", 0.0},       {"collinear", 1e-3},  {"collinear", 1e-5},
                        {"coincident", 1e-4}, {"coincident", 1e-6}, {"flat targets", 1e-5}};
  std::mt19937 gen(1);
  int compared = 0, total = 0;
  for (const Case& c : cases) {
    const std::string what = c.name;
    for (int n : {3, 4, 5, 6, 8, 16}) {
      for (int trial = 0; trial < 3; ++trial, ++total) {
        const Points p = what == "collinear"    ? NearlyCollinear(gen, n, c.off)
                         : what == "coincident" ? NearlyCoincident(gen, n, c.off)
                                                : GridPoints(gen, n);
        const Points t =
            what == "flat targets" ? NearlyCollinear(gen, n, c.off) : qc_test::Jitter(gen, p, 0.05);
        SCOPED_TRACE(what + " " + std::to_string(c.off) + " n " + std::to_string(n));
        Prepare(p, t);
        for (double v : deform_test::Shown(m_Qc)) ASSERT_FALSE(std::isnan(v));
        if (!m_Qc.m_pVertOut) continue;  // refused: the last good mesh is kept
        const LinAlgVectorComplex documented = Documented(), fast = Fast();
        for (int j = 0; j < n; ++j) (*m_Qc.m_pCtrlOrig)(j) = (*m_Qc.m_pCtrlOrig)(j) * (1 + 1e-14);
        const LinAlgVectorComplex nudged = Documented();
        double sensitivity = 0.0;
        for (int k = 0; k < documented.Rows(); ++k)
          sensitivity = std::fmax(sensitivity, Dist(documented(k), nudged(k)));
        for (int k = 0; k < documented.Rows(); ++k) {
          ASSERT_NEAR(Dist(documented(k), fast(k)), 0.0, std::fmax(1e-9, 10 * sensitivity))
              << "trial " << trial << " vertex " << k;
        }
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, total * 3 / 4);
}
