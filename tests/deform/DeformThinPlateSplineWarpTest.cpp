// The thin-plate-spline warp against the spline of its definition, solved
// here by plain Gaussian elimination with the kernel s log s (s = r^2) of
// std::log, and its refusal of point sets that have no spline.
#include "deform/DeformThinPlateSplineWarp.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "DeformTesting.h"

namespace {

using deform_test::Load;
using deform_test::Mesh;
using deform_test::Points;
using deform_test::Positions;
using deform_test::Shown;
using warpix_test::CoutCapture;

// x = a^-1 b by elimination with partial pivoting.
std::vector<double> SolveDense(std::vector<std::vector<double>> a, std::vector<double> b) {
  const size_t n = b.size();
  for (size_t c = 0; c < n; ++c) {
    size_t pivot = c;
    for (size_t r = c + 1; r < n; ++r) if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    std::swap(a[c], a[pivot]);
    std::swap(b[c], b[pivot]);
    for (size_t r = c + 1; r < n; ++r) {
      const double f = a[r][c] / a[c][c];
      for (size_t k = c; k < n; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> x(n);
  for (size_t c = n; c-- > 0;) {
    double sum = b[c];
    for (size_t k = c + 1; k < n; ++k) sum -= a[c][k] * x[k];
    x[c] = sum / a[c][c];
  }
  return x;
}

double Kernel(double dx, double dy) {
  const double s = dx * dx + dy * dy;
  return s > 0 ? s * std::log(s) : 0.0;
}

// The smoothed spline: [K + 2 lambda I, P; P^T, 0] (w, a) = (q, 0) for x and y.
struct Reference {
  Reference(const Points& orig, const Points& target, double lambda) : c(orig) {
    const size_t m = orig.size() / 2;
    std::vector<std::vector<double>> L(m + 3, std::vector<double>(m + 3, 0.0));
    std::vector<double> bx(m + 3, 0.0), by(m + 3, 0.0);
    for (size_t i = 0; i < m; ++i) {
      for (size_t j = 0; j < m; ++j) L[i][j] = Kernel(c[2 * i] - c[2 * j], c[2 * i + 1] - c[2 * j + 1]);
      L[i][i] += 2 * lambda;
      L[i][m] = L[m][i] = c[2 * i];
      L[i][m + 1] = L[m + 1][i] = c[2 * i + 1];
      L[i][m + 2] = L[m + 2][i] = 1;
      bx[i] = target[2 * i];
      by[i] = target[2 * i + 1];
    }
    wx = SolveDense(L, bx);
    wy = SolveDense(L, by);
  }
  Points operator()(double x, double y) const {
    const size_t m = c.size() / 2;
    Points out = {wx[m] * x + wx[m + 1] * y + wx[m + 2], wy[m] * x + wy[m + 1] * y + wy[m + 2]};
    for (size_t i = 0; i < m; ++i) {
      const double u = Kernel(x - c[2 * i], y - c[2 * i + 1]);
      out[0] += wx[i] * u;
      out[1] += wy[i] * u;
    }
    return out;
  }
  Points c, wx, wy;
};

// The points placed at once with their targets and prepared, as a replayed
// history step is; returns what was printed.
std::string Place(Warpixator& d, const Points& orig, const Points& target) {
  CoutCapture out;
  d.m_ControlPointsOrigPos = orig;
  d.m_ControlPointsNewPos = target;
  d.PrepareDeformator();
  return out.str();
}

Points MapPoint(Warpixator& d, double x, double y) {
  Points out = {NAN, NAN};
  d.MapPoint(x, y, out[0], out[1]);
  return out;
}

// m distinct vertices of the 20 x 20 grid (two of them with a grid vertex
// halfway between) and their targets moved by up to 0.05.
void GridPoints(std::mt19937& gen, int m, Points& orig, Points& target) {
  std::uniform_int_distribution<int> k(0, 20);
  std::uniform_real_distribution<double> move(-0.05, 0.05);
  orig = {0.2, 0.3, 0.6, 0.3};
  while (orig.size() < 2u * m) {
    const double x = k(gen) / 20.0, y = k(gen) / 20.0;
    bool taken = false;
    for (size_t i = 0; i < orig.size(); i += 2) taken = taken || (orig[i] == x && orig[i + 1] == y);
    if (!taken) orig.insert(orig.end(), {x, y});
  }
  target = orig;
  for (double& v : target) v += move(gen);
}

class DeformThinPlateSplineWarpTest : public ::testing::Test {
 protected:
  void TearDown() override { Warpixator::SetTableByteLimit(1LL << 30); }
  R2Image m_Image{4, 4, 3};
};

}  // namespace

TEST_F(DeformThinPlateSplineWarpTest, AgreesWithTheDirectSolveAndInterpolatesWithoutSmoothing) {
  std::mt19937 gen(5);
  for (double lambda : {0.0, 1e-3, 0.1}) {
    for (int m : {3, 5, 16}) {
      Points orig, target;
      GridPoints(gen, m, orig, target);
      DeformThinPlateSplineWarp mesh(m_Image, "mesh", lambda), pixel(m_Image, "pixel", lambda);
      Mesh(mesh, 20, 20);
      EXPECT_EQ(Place(mesh, orig, target) + Place(pixel, orig, target), "");
      ASSERT_TRUE(mesh.HasTable());
      const Reference f(orig, target, lambda);
      const Points shown = Shown(mesh), rest = Positions(mesh);
      for (size_t k = 0; k < rest.size(); k += 2) {
        warpix_test::expectNear({shown[k], shown[k + 1]}, f(rest[k], rest[k + 1]), 1e-9, "mesh vertex");
      }
      const Points places = deform_test::Places(gen, 200, orig, 5);
      for (size_t k = 0; k < places.size(); k += 2) {
        warpix_test::expectNear(MapPoint(pixel, places[k], places[k + 1]), f(places[k], places[k + 1]), 1e-9,
                                "point");
      }
      // Without smoothing each original lands on its target.
      for (int i = 0; i < m && lambda == 0; ++i) {
        warpix_test::expectNear(MapPoint(pixel, orig[2 * i], orig[2 * i + 1]), {target[2 * i], target[2 * i + 1]},
                                1e-12, "original");
      }
    }
  }
}

TEST_F(DeformThinPlateSplineWarpTest, ReproducesAffineMapsWithAndWithoutSmoothing) {
  std::mt19937 gen(6);
  const deform_test::AffineMap affine = {1.1, -0.2, 0.15, 0.9, 0.03, -0.05};
  for (double lambda : {0.0, 0.5}) {
    Points orig, target;
    GridPoints(gen, 9, orig, target);
    DeformThinPlateSplineWarp d(m_Image, "tps", lambda);
    Mesh(d, 16, 16);
    Place(d, orig, deform_test::Affine(orig, affine));
    warpix_test::expectNear(Shown(d), deform_test::Affine(Positions(d), affine), 1e-12, "affine image");
  }
}

TEST_F(DeformThinPlateSplineWarpTest, SmoothingMovesTheFitTowardsTheAffineLeastSquaresFit) {
  std::mt19937 gen(7);
  Points orig, target;
  GridPoints(gen, 8, orig, target);
  // The least-squares affine fit of the targets from its normal equations.
  std::vector<std::vector<double>> normal(3, std::vector<double>(3, 0.0));
  std::vector<double> rx(3, 0.0), ry(3, 0.0);
  for (size_t i = 0; i < orig.size(); i += 2) {
    const double p[3] = {orig[i], orig[i + 1], 1.0};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) normal[r][c] += p[r] * p[c];
      rx[r] += p[r] * target[i];
      ry[r] += p[r] * target[i + 1];
    }
  }
  const std::vector<double> ax = SolveDense(normal, rx), ay = SolveDense(normal, ry);
  double previous = INFINITY;
  for (double lambda : {1e-2, 1.0, 1e2, 1e4, 1e10}) {
    DeformThinPlateSplineWarp d(m_Image, "tps", lambda);
    Place(d, orig, target);
    double fromFit = 0.0, fromTargets = 0.0;
    for (size_t i = 0; i < orig.size(); i += 2) {
      const Points p = MapPoint(d, orig[i], orig[i + 1]);
      fromFit = std::fmax(fromFit, std::hypot(p[0] - (ax[0] * orig[i] + ax[1] * orig[i + 1] + ax[2]),
                                              p[1] - (ay[0] * orig[i] + ay[1] * orig[i + 1] + ay[2])));
      fromTargets = std::fmax(fromTargets, std::hypot(p[0] - target[i], p[1] - target[i + 1]));
    }
    EXPECT_GT(fromTargets, 1e-4) << lambda;  // no longer interpolates
    EXPECT_LT(fromFit, previous) << lambda;
    previous = fromFit;
  }
  EXPECT_LT(previous, 1e-8);
}

TEST_F(DeformThinPlateSplineWarpTest, MeshTableEqualsMapPointAndTheLimitFallsBackToIt) {
  std::mt19937 gen(8);
  Points orig, target;
  GridPoints(gen, 16, orig, target);
  for (long long limit : {1LL << 30, 1000LL}) {
    Warpixator::SetTableByteLimit(limit);
    DeformThinPlateSplineWarp d(m_Image, "tps");
    Mesh(d, 100, 100);
    EXPECT_EQ(Place(d, orig, target),
              limit > 1000 ? "" : "[WARNING] tps: the thin-plate-spline table of 10201 mesh vertices and 16 control "
                           "points would need about 2 MB of tables (more than 0 MB); each vertex is mapped "
                           "through the spline on its own\n");
    EXPECT_EQ(d.HasTable(), limit > 1000);
    for (int frame = 0; frame < 3; ++frame) {
      const Points shown = Shown(d), rest = Positions(d);
      for (size_t k = 0; k < rest.size(); k += 2) {
        warpix_test::expectNear({shown[k], shown[k + 1]}, MapPoint(d, rest[k], rest[k + 1]), 1e-12, "vertex");
      }
      for (double& v : d.m_ControlPointsNewPos) v += 0.01;
    }
  }
}

TEST_F(DeformThinPlateSplineWarpTest, DegenerateSetsKeepTheLastGoodMapWithOneWarningAnEpisode) {
  const std::string keep = "; the last good deformation is kept\n";
  const Points good = {0.1, 0.1, 0.9, 0.2, 0.5, 0.8, 0.3, 0.6};
  struct Case { Points bad, repaired; std::string warning; double lambda; };
  const std::vector<Case> cases = {
      {{0.5, 0.5}, {0.5, 0.5, 0.8, 0.5, 0.6, 0.9}, "the thin-plate spline needs at least three control points", 0},
      {{0.2, 0.2, 0.7, 0.4}, {0.2, 0.2, 0.7, 0.4, 0.6, 0.9}, "the thin-plate spline needs at least three control points", 0},
      {{0.1, 0.1, 0.4, 0.4, 0.8, 0.8}, {0.1, 0.1, 0.4, 0.4, 0.8, 0.8, 0.9, 0.1}, "the control points lie on one line, "
       "the spline's affine part is not determined", 0},
      {{0.5, 0.5, 0.5, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.6, 0.5, 0.5, 0.7}, "the control points lie on one line, "
       "the spline's affine part is not determined", 0.1},
      {{0.2, 0.2, 0.7, 0.3, 0.2, 0.2, 0.4, 0.8}, {0.2, 0.2, 0.7, 0.3, 0.4, 0.8}, "two control points lie on one spot, "
       "the spline cannot pass through both", 0},
      {{0.2, 0.2, NAN, 0.3, 0.4, 0.8}, {0.2, 0.2, 0.7, 0.3, 0.4, 0.8}, "a control point is not a finite position", 0}};
  for (const Case& c : cases) {
    DeformThinPlateSplineWarp d(m_Image, "tps", c.lambda);
    Mesh(d, 10, 10);
    Points moved = good;
    moved[0] += 0.05;
    Load(d, good, moved);
    const Points kept = Shown(d), keptPoint = MapPoint(d, 0.3, 0.3);
    for (int episode = 0; episode < 2; ++episode) {
      CoutCapture out;
      d.m_ControlPointsOrigPos = d.m_ControlPointsNewPos = c.bad;
      d.PrepareDeformator();
      for (int frame = 0; frame < 3; ++frame) {
        for (double& v : d.m_ControlPointsNewPos) v += 0.01;
        EXPECT_EQ(Shown(d), kept) << c.warning;
        EXPECT_EQ(MapPoint(d, 0.3, 0.3), keptPoint);
      }
      EXPECT_EQ(out.str(), "[WARNING] tps: " + c.warning + keep);
      // Repaired (for one and two points and a line: one more point), the
      // spline of the new points passes through their unmoved targets.
      d.m_ControlPointsOrigPos = d.m_ControlPointsNewPos = c.repaired;
      d.PrepareDeformator();
      for (size_t i = 0; i < c.repaired.size() && c.lambda == 0; i += 2) {
        warpix_test::expectNear(MapPoint(d, c.repaired[i], c.repaired[i + 1]), {c.repaired[i], c.repaired[i + 1]},
                                1e-12, "repaired");
      }
      EXPECT_EQ(out.str(), "[WARNING] tps: " + c.warning + keep) << "one warning only";
      d.m_ControlPointsOrigPos = d.m_ControlPointsNewPos = good;  // the next episode starts from the good map
      d.PrepareDeformator();
      d.m_ControlPointsNewPos = moved;
      Shown(d);
    }
  }
}

TEST_F(DeformThinPlateSplineWarpTest, NoPointsIsTheIdentityAndTargetsWithoutASplineAreRefused) {
  DeformThinPlateSplineWarp d(m_Image, "tps");
  Mesh(d, 8, 8);
  {
    CoutCapture out;
    d.PrepareDeformator();
    EXPECT_EQ(Shown(d), Positions(d));
    EXPECT_EQ(MapPoint(d, 0.3, -4.0), Points({0.3, -4.0}));
    EXPECT_EQ(out.str(), "");
  }
  const Points orig = {0.2, 0.2, 0.8, 0.3, 0.5, 0.9};
  Load(d, orig, {0.25, 0.2});
  const Points kept = Shown(d);
  CoutCapture out;
  for (double bad : {double(NAN), double(INFINITY), -double(INFINITY)}) {
    d.m_ControlPointsNewPos[3] = bad;
    EXPECT_EQ(Shown(d), kept);
  }
  d.m_ControlPointsNewPos = orig;
  warpix_test::expectNear(Shown(d), Positions(d), 1e-14, "recovered");
  // Placed with a target of no spline, and recovering on the first good move.
  d.ClearControls(false);
  const std::string warning = "[WARNING] tps: the spline of these targets is not finite; the last good deformation is kept\n";
  EXPECT_EQ(Place(d, orig, {0.2, 0.2, 0.8, NAN, 0.5, 0.9}), warning);
  EXPECT_EQ(Shown(d), Positions(d));
  d.m_ControlPointsNewPos[3] = 0.35;
  d.Deform();
  warpix_test::expectNear(MapPoint(d, 0.8, 0.3), {0.8, 0.35}, 1e-12, "recovered from placement");
  EXPECT_EQ(out.str(), warning);
}

TEST_F(DeformThinPlateSplineWarpTest, SmoothingThatIsNotAFiniteNonNegativeNumberMeansNone) {
  const Points orig = {0.2, 0.2, 0.8, 0.3, 0.5, 0.9, 0.4, 0.5}, target = {0.3, 0.2, 0.8, 0.3, 0.5, 0.9, 0.4, 0.6};
  for (double lambda : {-1.0, double(NAN), double(INFINITY), -double(INFINITY)}) {
    DeformThinPlateSplineWarp d(m_Image, "tps", lambda);
    EXPECT_EQ(d.Smoothing(), 0.0);
    EXPECT_EQ(Place(d, orig, target), "");
    warpix_test::expectNear(MapPoint(d, 0.2, 0.2), {0.3, 0.2}, 1e-12, "interpolates");
  }
}
