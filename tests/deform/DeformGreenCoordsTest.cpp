// Green coordinates checked against their definition: boundary integrals by
// quadrature, similarities, conformality, limits on the cage's boundary.
#include "deform/DeformGreenCoords.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "DeformTesting.h"
#include "render/DistortionMetrics.h"

namespace {

using deform_test::Points;
using Cx = std::complex<double>;

// Counter-clockwise cages in steps of 0.05: a convex hexagon and a concave L.
const std::vector<int> kHexagon = {4, 2, 14, 3, 18, 10, 14, 17, 5, 18, 2, 10};
const std::vector<int> kLShape = {2, 2, 18, 2, 18, 8, 8, 8, 8, 18, 2, 18};

Cx At(const Points& p, size_t k) { return {p[2 * (k % (p.size() / 2))], p[2 * (k % (p.size() / 2)) + 1]}; }

// A cells x cells mesh over [lo, hi]^2 and a cage on its vertices nearest to
// the given steps (clockwise: walked backwards from another first point),
// its targets moved by up to `move` (seeded), or through the similarity
// z -> m[0] z + m[1] when given. Returns the originals.
Points PlaceCage(DeformGreenCoords& g, int cells, double lo, double hi, const std::vector<int>& steps,
             bool clockwise, double move, const Cx* m = nullptr) {
  deform_test::Mesh(g, cells, cells, lo, hi, lo, hi);
  Points orig, target;
  for (size_t k = 0; k < steps.size(); k += 2) {
    const Cx want(0.05 * steps[k], 0.05 * steps[k + 1]);
    const auto v = std::min_element(g.m_Vertices.begin(), g.m_Vertices.end(), [&](const auto& p, const auto& q) {
      return std::abs(Cx(p.m_fRestX, p.m_fRestY) - want) < std::abs(Cx(q.m_fRestX, q.m_fRestY) - want);
    });
    orig.insert(clockwise ? orig.begin() : orig.end(), {v->m_fRestX, v->m_fRestY});
  }
  if (clockwise) std::rotate(orig.begin(), orig.begin() + 2, orig.end());
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> shift(-move, move);
  for (size_t k = 0; k < orig.size() / 2; ++k) {
    const Cx q = m ? m[0] * At(orig, k) + m[1] : At(orig, k) + Cx(shift(gen), shift(gen));
    target.insert(target.end(), {q.real(), q.imag()});
  }
  deform_test::Load(g, orig, {});
  g.MoveAllControlPoints(target);  // anywhere, not only within the picture
  return orig;
}

Cx Map(DeformGreenCoords& g, Cx z) {
  double x = NAN, y = NAN;
  g.MapPoint(z.real(), z.imag(), x, y);
  return {x, y};
}

// Inside the polygon p (crossing number) and at least margin from its boundary.
bool Inside(const Points& p, Cx z, double margin) {
  bool in = false;
  for (size_t k = 0; k < p.size() / 2; ++k) {
    const Cx a = At(p, k), b = At(p, k + 1);
    const double s = std::clamp(std::real((z - a) * std::conj(b - a)) / std::norm(b - a), 0.0, 1.0);
    if (std::abs(z - a - s * (b - a)) < margin) return false;
    if ((a.imag() > z.imag()) != (b.imag() > z.imag()) &&
        z.real() < a.real() + (z.imag() - a.imag()) * (b.real() - a.real()) / (b.imag() - a.imag())) {
      in = !in;
    }
  }
  return in;
}

// The vertex coordinates phi by Gauss-Legendre quadrature (64 panels of 8
// nodes per edge) of the boundary integrals with G = log|xi - eta| / 2 pi, and
// the image F = sum phi_i q_i + sum psi_j s_j n(t'_j), normals outward for the
// orientation of the originals.
Cx QuadratureMap(const Points& orig, const Points& target, Cx eta, std::vector<double>& phi) {
  static const double x8[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
  static const double w8[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};
  const size_t n = orig.size() / 2;
  double area2 = 0;
  for (size_t k = 0; k < n; ++k) area2 += std::imag(std::conj(At(orig, k)) * At(orig, k + 1));
  const Cx outward = area2 > 0 ? Cx(0, -1) : Cx(0, 1);  // turns an edge direction to its outer side
  phi.assign(n, 0.0);
  Cx image = 0;
  for (size_t j = 0; j < n; ++j) {
    const Cx a = At(orig, j), t = At(orig, j + 1) - a, t2 = At(target, j + 1) - At(target, j);
    double psi = 0;
    for (int node = 0; node < 64 * 8; ++node) {
      const int i = node % 8 < 4 ? 3 - node % 8 : node % 8 - 4;
      const double s = (node / 8 + 0.5 + 0.5 * (node % 8 < 4 ? -x8[i] : x8[i])) / 64;
      const double w = 0.5 * w8[i] / 64 * std::abs(t);
      const Cx d = a + s * t - eta;
      const double dGdn = std::real(d * std::conj(outward * t / std::abs(t))) / std::norm(d) / (2 * M_PI);
      phi[j] += w * (1 - s) * dGdn;
      phi[(j + 1) % n] += w * s * dGdn;
      psi -= w * std::log(std::abs(d)) / (2 * M_PI);
    }
    image += psi * std::abs(t2) / std::abs(t) * (outward * t2 / std::abs(t2));
  }
  for (size_t k = 0; k < n; ++k) image += phi[k] * At(target, k);
  return image;
}

class DeformGreenCoordsTest : public ::testing::Test {
 protected:
  R2Image m_Image{16, 16, 3};
};

}  // namespace

TEST_F(DeformGreenCoordsTest, ReproducesSimilaritiesEverywhereAndIgnoresOrientation) {
  // Identity and three similarities on both cages, both orientations; the mesh
  // reaches beyond the cage and has vertices on its corners and edges.
  const Cx maps[][2] = {{1, 0}, {{1.3, 0.5}, {0.1, -0.2}}, {{0, -0.7}, {0.9, 0.4}}, {{-2, 0}, {1, 1}}};
  for (const auto* cage : {&kHexagon, &kLShape}) {
    for (const auto* m : maps) {
      for (bool clockwise : {false, true}) {
        DeformGreenCoords green(m_Image, "g");
        PlaceCage(green, 40, -0.5, 1.5, *cage, clockwise, 0, m);
        Points expected;
        for (const auto& v : green.m_Vertices) {
          const Cx z = m[0] * Cx(v.m_fRestX, v.m_fRestY) + m[1];
          expected.insert(expected.end(), {z.real(), z.imag()});
        }
        warpix_test::expectNear(deform_test::Shown(green), expected, 1e-12, "similarity");
      }
    }
    // Any targets: the same map entered either way round.
    DeformGreenCoords ccw(m_Image, "ccw"), cw(m_Image, "cw");
    PlaceCage(ccw, 40, -0.5, 1.5, *cage, false, 0.08);
    PlaceCage(cw, 40, -0.5, 1.5, *cage, true, 0.08);
    std::vector<double> targets = ccw.m_ControlPointsNewPos, reversed;
    for (size_t k = targets.size(); k >= 2; k -= 2) reversed.insert(reversed.end(), {targets[k - 2], targets[k - 1]});
    std::rotate(reversed.begin(), reversed.begin() + 2, reversed.end());
    cw.MoveAllControlPoints(reversed);
    warpix_test::expectNear(deform_test::Shown(cw), deform_test::Shown(ccw), 1e-12, "orientation");
  }
}

TEST_F(DeformGreenCoordsTest, AgreesWithQuadratureOfTheBoundaryIntegrals) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> place(0.0, 1.0);
  for (const auto* cage : {&kHexagon, &kLShape}) {
    for (bool clockwise : {false, true}) {
      DeformGreenCoords green(m_Image, "g");
      const Points orig = PlaceCage(green, 20, 0, 1, *cage, clockwise, 0.08);
      std::vector<double> re, im, phi;
      for (int checked = 0; checked < 40;) {
        const Cx eta(place(gen), place(gen));
        if (!Inside(orig, eta, 0.02)) continue;
        ++checked;
        const Cx expected = QuadratureMap(orig, green.m_ControlPointsNewPos, eta, phi);
        ASSERT_TRUE(DeformGreenCoords::CageCoordinates(orig, eta.real(), eta.imag(), re, im));
        warpix_test::expectNear(re, phi, 1e-8, "vertex coordinates");
        EXPECT_NEAR(std::abs(Map(green, eta) - expected), 0, 1e-8) << eta << " clockwise " << clockwise;
      }
    }
  }
}

TEST_F(DeformGreenCoordsTest, FacesInsideTheCageKeepAnglesBetterOnFinerMeshes) {
  // Largest K over the faces whose corners lie inside the hexagon by 0.1:
  // measured 1.0152, 1.0091 and 1.0051 at 20, 40 and 80 cells: K - 1 falls
  // towards half with each halving of the mesh size, as for the piecewise
  // linear interpolation of a conformal map.
  double previous = 0;
  for (int cells : {20, 40, 80}) {
    DeformGreenCoords green(m_Image, "g");
    const Points orig = PlaceCage(green, cells, 0, 1, kHexagon, false, 0.05);
    deform_test::Shown(green);
    std::vector<FaceDistortion> faces;
    DistortionMetrics(green).Measure(&faces);
    double largest = 1;
    for (size_t f = 0; f < faces.size(); ++f) {
      bool in = true;
      for (int v : {green.m_Faces[f].m_iV0, green.m_Faces[f].m_iV1, green.m_Faces[f].m_iV2}) {
        in = in && Inside(orig, {green.m_Vertices[v].m_fRestX, green.m_Vertices[v].m_fRestY}, 0.1);
      }
      if (in) largest = std::max(largest, faces[f].m_fConformal);
    }
    EXPECT_LT(largest, 1.0 + 0.5 / cells) << cells;
    if (previous > 0) {
      EXPECT_LT(largest - 1, 0.65 * (previous - 1)) << cells;
    }
    previous = largest;
  }
}

TEST_F(DeformGreenCoordsTest, BoundaryPointsAreTheLimitsFromEitherSide) {
  // On every corner and at a quarter and a half of every edge: finite, and
  // within 1e-7 of the points 1e-9 inside and 1e-9 outside.
  for (const auto* cage : {&kHexagon, &kLShape}) {
    DeformGreenCoords green(m_Image, "g");
    const Points orig = PlaceCage(green, 20, 0, 1, *cage, false, 0.08);
    for (size_t k = 0; k < orig.size() / 2; ++k) {
      const Cx a = At(orig, k), b = At(orig, k + 1), e1 = At(orig, k + 2) - b;
      const double interior = std::fmod(std::arg((a - b) / e1) + 2 * M_PI, 2 * M_PI);
      const Cx inward = Cx(0, 1) * (b - a) / std::abs(b - a);
      const Cx corner = e1 / std::abs(e1) * std::polar(1.0, interior / 2);  // the bisector inwards
      for (auto [z, dir] : {std::pair{a + 0.25 * (b - a), inward}, {a + 0.5 * (b - a), inward}, {b, corner}}) {
        const Cx on = Map(green, z);
        ASSERT_TRUE(std::isfinite(on.real()) && std::isfinite(on.imag())) << z;
        EXPECT_NEAR(std::abs(on - Map(green, z + 1e-9 * dir)), 0, 1e-7) << "inside of " << z;
        EXPECT_NEAR(std::abs(on - Map(green, z - 1e-9 * dir)), 0, 1e-7) << "outside of " << z;
      }
    }
  }
}

TEST_F(DeformGreenCoordsTest, DegenerateCagesWarnOnceAndKeepTheLastGoodMap) {
  // Accepted points, then points added one at a time that are refused, then
  // (where given) one that makes the cage good again.
  struct Case { Points good, bad, fix; const char* warning; };
  const Points square = {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8};
  const char* crosses = "the cage of the control points crosses itself";
  const std::vector<Case> cases = {
      {{0.2, 0.2, 0.5, 0.2}, {0.8, 0.2, 0.9, 0.2}, {0.5, 0.8}, "the control points lie on one line, their cage has no area"},
      {square, {0.2, 0.8, 0.2, 0.8}, {}, "two consecutive control points coincide, their cage has an edge of no length"},
      {{0.2, 0.2, 0.8, 0.2, 0.2, 0.8}, {0.8, 0.8, 0.9, 0.9}, {}, crosses},
      {{0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8, 0.5, 0.5}, {0.8, 0.8, 0.8, 0.5}, {}, crosses},  // a corner twice
      {square, {0.2, 0.9}, {}, crosses},                                                       // folds back
  };
  for (const Case& c : cases) {
    DeformGreenCoords green(m_Image, "green");
    deform_test::Mesh(green, 20, 20);
    Points target = c.good;
    target[0] += 0.05;
    deform_test::Load(green, c.good, target);
    const Points before = deform_test::Shown(green);
    std::string out;
    for (size_t k = 0; k < c.bad.size(); k += 2) out += deform_test::Load(green, {c.bad[k], c.bad[k + 1]}, {});
    green.m_ControlPointsNewPos[1] += 0.05;  // moved while refused
    EXPECT_EQ(out, "[WARNING] green: " + std::string(c.warning) + "; the last good deformation is kept\n");
    EXPECT_EQ(deform_test::Shown(green), before) << c.warning;
    if (!c.fix.empty()) {
      EXPECT_EQ(deform_test::Load(green, c.fix, {}), "");
      EXPECT_NE(deform_test::Shown(green), before);
    }
  }
  // Fewer than three points: the mean displacement, silently; none: the identity.
  DeformGreenCoords green(m_Image, "green");
  EXPECT_EQ(Map(green, {0.9, 0.1}), Cx(0.9, 0.1));
  EXPECT_EQ(deform_test::Load(green, {0.2, 0.2, 0.6, 0.3}, {0.3, 0.2}), "");
  EXPECT_NEAR(std::abs(Map(green, {0.9, 0.1}) - Cx(0.95, 0.1)), 0, 1e-15);
}

TEST_F(DeformGreenCoordsTest, MeshMatchesPointMapBitForBitAndStaysFinite) {
  // The table on every vector target, and the per-vertex route past the size
  // limit, give MapPoint's bits (vertices on corners and edges included).
  DeformGreenCoords green(m_Image, "g"), limited(m_Image, "limited");
  const Points orig = PlaceCage(green, 40, -0.5, 1.5, kLShape, false, 0.08);
  Points reference;
  for (const auto& v : green.m_Vertices) {
    const Cx z = Map(green, {v.m_fRestX, v.m_fRestY});
    reference.insert(reference.end(), {z.real(), z.imag()});
  }
  deform_test::ExpectBitsOnEveryTarget(reference, [&] { return deform_test::Shown(green); }, "table");
  Warpixator::SetTableByteLimit(0);
  deform_test::Mesh(limited, 40, 40, -0.5, 1.5, -0.5, 1.5);
  const std::string out = deform_test::Load(limited, orig, {});
  Warpixator::SetTableByteLimit(1LL << 30);
  EXPECT_EQ(out.rfind("[WARNING] limited: the coordinates of 1681 mesh vertices and 3 control points", 0), 0u);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  limited.MoveAllControlPoints(green.m_ControlPointsNewPos);
  const Points shown = deform_test::Shown(limited);
  for (size_t k = 0; k < shown.size(); ++k) ASSERT_TRUE(warpix_test::SameBits(shown[k], reference[k])) << k;
  for (Cx far : {Cx(1e6, -1e6), Cx(-1e300, 1e300), Cx(0.5 + 1e-300, 0.1)}) {
    const Cx z = Map(green, far);
    EXPECT_TRUE(std::isfinite(z.real()) && std::isfinite(z.imag())) << far;
  }
}
