// The thin-plate-spline warp against the spline of its definition, solved here by elimination with
// the kernel s log s (s = r^2) of std::log, and its refusal of point sets that have no spline.
#include "deform/DeformThinPlateSplineWarp.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "DeformTesting.h"

namespace {

using deform_test::Points;
using deform_test::Positions;
using deform_test::Shown;
using warpix_test::CoutCapture;
using warpix_test::expectNear;
using Matrix = std::vector<Points>;

// x = a^-1 b by Gaussian elimination with partial pivoting.
Points SolveDense(Matrix a, Points b) {
  const size_t n = b.size();
  for (size_t c = 0; c < n; ++c) {
    size_t p = c;
    for (size_t r = c + 1; r < n; ++r) p = std::fabs(a[r][c]) > std::fabs(a[p][c]) ? r : p;
    std::swap(a[c], a[p]), std::swap(b[c], b[p]);
    for (size_t r = c + 1; r < n; ++r) {
      const double f = a[r][c] / a[c][c];
      for (size_t k = c; k < n; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  for (size_t c = n; c-- > 0;) {
    for (size_t k = c + 1; k < n; ++k) b[c] -= a[c][k] * b[k];
    b[c] /= a[c][c];
  }
  return b;
}

double Kernel(double dx, double dy) { const double s = dx * dx + dy * dy; return s > 0 ? s * std::log(s) : 0.0; }

// The smoothed spline: [K + 2 lambda I, P; P^T, 0] (w, a) = (q, 0) for x and y, P_i = (x_i, y_i, 1).
struct Reference {
  Reference(const Points& orig, const Points& target, double lambda) : c(orig) {
    const size_t m = c.size() / 2;
    Matrix L(m + 3, Points(m + 3, 0.0));
    Points bx(m + 3, 0.0), by(m + 3, 0.0);
    for (size_t i = 0; i < m; ++i) {
      for (size_t j = 0; j < m; ++j) L[i][j] = Kernel(c[2 * i] - c[2 * j], c[2 * i + 1] - c[2 * j + 1]) + (i == j) * 2 * lambda;
      L[i][m] = L[m][i] = c[2 * i], L[i][m + 1] = L[m + 1][i] = c[2 * i + 1], L[i][m + 2] = L[m + 2][i] = 1;
      bx[i] = target[2 * i], by[i] = target[2 * i + 1];
    }
    wx = SolveDense(L, bx), wy = SolveDense(L, by);
  }
  Points operator()(double x, double y) const {
    const size_t m = c.size() / 2;
    Points out = {wx[m] * x + wx[m + 1] * y + wx[m + 2], wy[m] * x + wy[m + 1] * y + wy[m + 2]};
    for (size_t i = 0; i < m; ++i) {
      const double u = Kernel(x - c[2 * i], y - c[2 * i + 1]);
      out[0] += wx[i] * u, out[1] += wy[i] * u;
    }
    return out;
  }
  Points c, wx, wy;
};

// The points placed at once with their targets and prepared (a replayed history step); the console text.
std::string Place(Warpixator& d, const Points& orig, const Points& target) {
  CoutCapture out;
  d.m_ControlPointsOrigPos = orig, d.m_ControlPointsNewPos = target;
  d.PrepareDeformator();
  return out.str();
}

Points Map(Warpixator& d, double x, double y) {
  Points out = {NAN, NAN};
  d.MapPoint(x, y, out[0], out[1]);
  return out;
}

// m distinct vertices of the 20 x 20 grid (the first two with a vertex halfway between them) and
// their targets moved by up to 0.05.
void GridPoints(std::mt19937& gen, int m, Points& orig, Points& target) {
  std::uniform_int_distribution<int> k(0, 20);
  std::uniform_real_distribution<double> move(-0.05, 0.05);
  for (orig = {0.2, 0.3, 0.6, 0.3}; orig.size() < 2u * m;) {
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

TEST_F(DeformThinPlateSplineWarpTest, AgreesWithTheDirectSolveReproducesAffineMapsAndInterpolates) {
  // Smoothing as given and as meant (anything not a finite number >= 0 is none).
  struct Case { double given, meant; };
  const deform_test::AffineMap affine = {1.1, -0.2, 0.15, 0.9, 0.03, -0.05};
  std::mt19937 gen(5);
  for (Case s : std::vector<Case>{{0, 0}, {1e-3, 1e-3}, {0.1, 0.1}, {-1, 0}, {NAN, 0}, {INFINITY, 0}}) {
    for (int m : {3, 5, 16}) {
      Points orig, target;
      GridPoints(gen, m, orig, target);
      DeformThinPlateSplineWarp mesh(m_Image, "mesh", s.given), pixel(m_Image, "pixel", s.given);
      deform_test::Mesh(mesh, 20, 20);
      EXPECT_EQ(Place(mesh, orig, target) + Place(pixel, orig, target), "");
      ASSERT_TRUE(mesh.HasTable());
      const Reference f(orig, target, s.meant);
      const Points shown = Shown(mesh), rest = Positions(mesh), places = deform_test::Places(gen, 200, orig, 5);
      for (size_t k = 0; k < rest.size(); k += 2) expectNear({shown[k], shown[k + 1]}, f(rest[k], rest[k + 1]), 1e-9, "vertex");
      for (size_t k = 0; k < places.size(); k += 2) expectNear(Map(pixel, places[k], places[k + 1]), f(places[k], places[k + 1]), 1e-9, "point");
      for (int i = 0; i < m && s.meant == 0; ++i) expectNear(Map(pixel, orig[2 * i], orig[2 * i + 1]), {target[2 * i], target[2 * i + 1]}, 1e-12, "centre");
      // Affine targets: the affine map everywhere.
      Place(mesh, orig, deform_test::Affine(orig, affine));
      expectNear(Shown(mesh), deform_test::Affine(rest, affine), 1e-12, "affine");
    }
  }
}

TEST_F(DeformThinPlateSplineWarpTest, SmoothingLeavesTheTargetsForTheAffineLeastSquaresFit) {
  std::mt19937 gen(7);
  Points orig, target;
  GridPoints(gen, 8, orig, target);
  Matrix normal(3, Points(3, 0.0));  // the normal equations of the affine fit
  Points rx(3, 0.0), ry(3, 0.0);
  for (size_t i = 0; i < orig.size(); i += 2) {
    const double p[3] = {orig[i], orig[i + 1], 1.0};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) normal[r][c] += p[r] * p[c];
      rx[r] += p[r] * target[i], ry[r] += p[r] * target[i + 1];
    }
  }
  const Points ax = SolveDense(normal, rx), ay = SolveDense(normal, ry);
  double previous = INFINITY;
  for (double lambda : {1e-2, 1.0, 1e2, 1e4, 1e10}) {
    DeformThinPlateSplineWarp d(m_Image, "tps", lambda);
    Place(d, orig, target);
    double fromFit = 0.0, fromTargets = 0.0;
    for (size_t i = 0; i < orig.size(); i += 2) {
      const double x = orig[i], y = orig[i + 1];
      const Points p = Map(d, x, y);
      fromFit = std::fmax(fromFit, std::hypot(p[0] - (ax[0] * x + ax[1] * y + ax[2]), p[1] - (ay[0] * x + ay[1] * y + ay[2])));
      fromTargets = std::fmax(fromTargets, std::hypot(p[0] - target[i], p[1] - target[i + 1]));
    }
    EXPECT_GT(fromTargets, 1e-4) << lambda;
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
    deform_test::Mesh(d, 100, 100);
    EXPECT_EQ(Place(d, orig, target), limit > 1000 ? "" : "[WARNING] tps: the thin-plate-spline table of 10201 mesh vertices and "
              "16 control points would need about 2 MB of tables (more than 0 MB); each vertex is mapped through the spline on its own\n");
    EXPECT_EQ(d.HasTable(), limit > 1000);
    for (int frame = 0; frame < 3; ++frame, d.m_ControlPointsNewPos[2 * frame] += 0.01) {
      const Points shown = Shown(d), rest = Positions(d);
      for (size_t k = 0; k < rest.size(); k += 2) expectNear({shown[k], shown[k + 1]}, Map(d, rest[k], rest[k + 1]), 1e-12, "vertex");
    }
  }
}

TEST_F(DeformThinPlateSplineWarpTest, DegenerateSetsKeepTheLastGoodMapWithOneWarningAnEpisode) {
  const Points good = {0.1, 0.1, 0.9, 0.2, 0.5, 0.8, 0.3, 0.6}, moved = {0.15, 0.1, 0.9, 0.2, 0.5, 0.8, 0.3, 0.6};
  const Points three = {0.2, 0.2, 0.7, 0.3, 0.4, 0.8};
  const std::string few = "the thin-plate spline needs at least three control points",
                    line = "the control points lie on one line, the spline's affine part is not determined",
                    targets = "the spline of these targets is not finite";
  // Refused originals and targets (none: the originals), what repairs them (one more point where
  // one can; good targets), the warning, the smoothing.
  struct Case { Points bad, badTargets, repaired; std::string warning; double lambda; };
  for (const Case& c : std::vector<Case>{
           {{0.5, 0.5}, {}, {0.5, 0.5, 0.8, 0.5, 0.6, 0.9}, few, 0},
           {{0.2, 0.2, 0.7, 0.4}, {}, {0.2, 0.2, 0.7, 0.4, 0.6, 0.9}, few, 0},
           {{0.1, 0.1, 0.4, 0.4, 0.8, 0.8}, {}, {0.1, 0.1, 0.4, 0.4, 0.8, 0.8, 0.9, 0.1}, line, 0},
           {{0.5, 0.5, 0.5, 0.5, 0.5, 0.5}, {}, three, line, 0.1},
           {{0.2, 0.2, 0.7, 0.3, 0.2, 0.2}, {}, three, "two control points lie on one spot, the spline cannot pass through both", 0},
           {{0.2, 0.2, NAN, 0.3, 0.4, 0.8}, {}, three, "a control point is not a finite position", 0},
           {three, {0.2, 0.2, 0.7, NAN, 0.4, 0.8}, three, targets, 0},              // refused in the preparation
           {good, {0.1, 0.1, 0.9, INFINITY, 0.5, 0.8, 0.3, 0.6}, good, targets, 0}}) {  // and in Deform
    DeformThinPlateSplineWarp d(m_Image, "tps", c.lambda);
    deform_test::Mesh(d, 10, 10);
    EXPECT_EQ(Place(d, {}, {}), "");  // no points: the identity
    EXPECT_EQ(Shown(d), Positions(d));
    Place(d, good, moved);
    const Points kept = Shown(d), keptPoint = Map(d, 0.3, 0.3);
    for (int episode = 0; episode < 2; ++episode) {
      CoutCapture out;
      d.m_ControlPointsOrigPos = c.bad;
      d.m_ControlPointsNewPos = c.badTargets.empty() ? c.bad : c.badTargets;
      for (int frame = 0; frame < 3; ++frame, d.m_ControlPointsNewPos[1] += 0.01) {
        EXPECT_EQ(Shown(d), kept) << c.warning;
        EXPECT_EQ(Map(d, 0.3, 0.3), keptPoint);
      }
      // Repaired by a move (a point added or a target moved), the map passes through the targets.
      d.m_ControlPointsOrigPos = d.m_ControlPointsNewPos = c.repaired;
      d.Deform();
      for (size_t i = 0; i < c.repaired.size() && c.lambda == 0; i += 2) {
        expectNear(Map(d, c.repaired[i], c.repaired[i + 1]), {c.repaired[i], c.repaired[i + 1]}, 1e-12, "repaired");
      }
      EXPECT_EQ(out.str(), "[WARNING] tps: " + c.warning + "; the last good deformation is kept\n");
      Place(d, good, moved);
    }
  }
}
