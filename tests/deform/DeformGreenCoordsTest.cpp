// Green coordinates checked against their definition: boundary integrals
// evaluated by quadrature, exact similarities, conformality inside the cage,
// and the limits on the cage's boundary.
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

// Cages in grid steps of a 20 x 20 mesh over [0, 1]^2, counter-clockwise: a
// convex hexagon and a concave L.
const std::vector<int> kHexagon = {4, 2, 14, 3, 18, 10, 14, 17, 5, 18, 2, 10};
const std::vector<int> kLShape = {2, 2, 18, 2, 18, 8, 8, 8, 8, 18, 2, 18};

// The points of a cage given in steps of 0.05, each taken from the mesh vertex
// nearest to it (so that they sit exactly on mesh vertices), optionally
// entered clockwise from another first point.
Points CagePoints(const Warpixator& d, const std::vector<int>& steps, bool clockwise = false) {
  Points p;
  for (size_t k = 0; k < steps.size(); k += 2) {
    const auto nearest = std::min_element(d.m_Vertices.begin(), d.m_Vertices.end(), [&](const auto& u, const auto& v) {
      return std::hypot(u.m_fRestX - 0.05 * steps[k], u.m_fRestY - 0.05 * steps[k + 1]) <
             std::hypot(v.m_fRestX - 0.05 * steps[k], v.m_fRestY - 0.05 * steps[k + 1]);
    });
    p.insert(p.end(), {nearest->m_fRestX, nearest->m_fRestY});
  }
  if (clockwise) {
    Points r;
    for (size_t k = p.size(); k >= 2; k -= 2) r.insert(r.end(), {p[k - 2], p[k - 1]});
    std::rotate(r.begin(), r.begin() + 2, r.end());
    p = r;
  }
  return p;
}

Cx At(const Points& p, size_t k) { return {p[2 * (k % (p.size() / 2))], p[2 * (k % (p.size() / 2)) + 1]}; }

// Places the points and moves their targets (anywhere: a loaded file only
// moves them within the picture).
void Place(Warpixator& d, const Points& orig, Points target) {
  deform_test::Load(d, orig, {});
  d.MoveAllControlPoints(target);
}

// Crossing-number point-in-polygon test and the distance to the boundary.
bool Inside(const Points& p, Cx z, double margin) {
  const size_t n = p.size() / 2;
  bool in = false;
  for (size_t k = 0; k < n; ++k) {
    const Cx a = At(p, k), b = At(p, k + 1);
    const double s = std::clamp(std::real((z - a) * std::conj(b - a)) / std::norm(b - a), 0.0, 1.0);
    if (std::abs(z - (a + s * (b - a))) < margin) return false;
    if ((a.imag() > z.imag()) != (b.imag() > z.imag()) &&
        z.real() < a.real() + (z.imag() - a.imag()) * (b.real() - a.real()) / (b.imag() - a.imag())) {
      in = !in;
    }
  }
  return in;
}

// Green's vertex and edge coordinates of eta by composite Gauss-Legendre
// quadrature (64 panels of 8 nodes per edge) of the boundary integrals with
// G = log|xi - eta| / 2 pi, and the image F = sum phi_i q_i + sum psi_j s_j n(t'_j).
Cx QuadratureMap(const Points& orig, const Points& target, Cx eta, std::vector<double>* phiOut = nullptr) {
  static const double x8[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
  static const double w8[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};
  const size_t n = orig.size() / 2;
  double area2 = 0;
  for (size_t k = 0; k < n; ++k) area2 += std::imag(std::conj(At(orig, k)) * At(orig, k + 1));
  const Cx outward = area2 > 0 ? Cx(0, -1) : Cx(0, 1);  // turns an edge direction to its outer side
  std::vector<double> phi(n, 0.0);
  Cx image = 0;
  for (size_t j = 0; j < n; ++j) {
    const Cx a = At(orig, j), b = At(orig, j + 1), t = b - a, nrm = outward * t / std::abs(t);
    double psi = 0;
    for (int panel = 0; panel < 64; ++panel) {
      for (int node = 0; node < 8; ++node) {
        const double s = (panel + 0.5 + 0.5 * (node < 4 ? -x8[3 - node] : x8[node - 4])) / 64;
        const double w = 0.5 * w8[node < 4 ? 3 - node : node - 4] / 64 * std::abs(t);
        const Cx d = a + s * t - eta;
        const double dGdn = std::real(d * std::conj(nrm)) / std::norm(d) / (2 * M_PI);
        phi[j] += w * (1 - s) * dGdn;
        phi[(j + 1) % n] += w * s * dGdn;
        psi -= w * std::log(std::abs(d)) / (2 * M_PI);
      }
    }
    const Cx t2 = At(target, j + 1) - At(target, j);
    image += psi * std::abs(t2) / std::abs(t) * (outward * t2 / std::abs(t2));
  }
  for (size_t k = 0; k < n; ++k) image += phi[k] * At(target, k);
  if (phiOut) *phiOut = phi;
  return image;
}

class DeformGreenCoordsTest : public ::testing::Test {
 protected:
  Cx Map(Cx z) {
    double x = NAN, y = NAN;
    m_Green.MapPoint(z.real(), z.imag(), x, y);
    return {x, y};
  }
  R2Image m_Image{16, 16, 3};
  DeformGreenCoords m_Green{m_Image, "green"};
};

}  // namespace

TEST_F(DeformGreenCoordsTest, ReproducesSimilaritiesInsideAndOutsideTheCage) {
  // Identity and three similarities, on both cages in both orientations; the
  // 40 x 40 mesh reaches beyond the cage on every side and has vertices on its
  // corners and edges.
  const Cx maps[][2] = {{1, 0}, {{1.3, 0.5}, {0.1, -0.2}}, {{0, -0.7}, {0.9, 0.4}}, {{-2, 0}, {1, 1}}};
  for (const auto* cage : {&kHexagon, &kLShape}) {
    for (bool clockwise : {false, true}) {
      for (const auto& m : maps) {
        DeformGreenCoords green(m_Image, "g");
        deform_test::Mesh(green, 40, 40, -0.5, 1.5, -0.5, 1.5);
        const Points orig = CagePoints(green, *cage, clockwise);
        Points target, expected;
        for (size_t k = 0; k < orig.size() / 2; ++k) {
          const Cx q = m[0] * At(orig, k) + m[1];
          target.insert(target.end(), {q.real(), q.imag()});
        }
        Place(green, orig, target);
        const Points rest = deform_test::Positions(green), shown = deform_test::Shown(green);
        for (size_t k = 0; k < rest.size() / 2; ++k) {
          const Cx v = m[0] * At(rest, k) + m[1];
          expected.insert(expected.end(), {v.real(), v.imag()});
        }
        warpix_test::expectNear(shown, expected, 1e-12, "similarity");
      }
    }
  }
}

TEST_F(DeformGreenCoordsTest, AgreesWithQuadratureOfTheBoundaryIntegrals) {
  deform_test::Mesh(m_Green, 20, 20);
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> move(-0.08, 0.08), place(0.0, 1.0);
  for (const auto* cage : {&kHexagon, &kLShape}) {
    for (bool clockwise : {false, true}) {
      const Points orig = CagePoints(m_Green, *cage, clockwise);
      Points target = orig;
      for (double& v : target) v += move(gen);
      std::vector<double> re, im, phi;
      int checked = 0;
      while (checked < 40) {
        const Cx eta(place(gen), place(gen));
        if (!Inside(orig, eta, 0.02)) continue;
        ++checked;
        const Cx expected = QuadratureMap(orig, target, eta, &phi);
        ASSERT_TRUE(DeformGreenCoords::CageCoordinates(orig, eta.real(), eta.imag(), re, im));
        warpix_test::expectNear(re, phi, 1e-8, "vertex coordinates");
        Cx mapped = 0;
        for (size_t k = 0; k < re.size(); ++k) mapped += Cx(re[k], im[k]) * At(target, k);
        EXPECT_NEAR(std::abs(mapped - expected), 0, 1e-8) << eta << (clockwise ? " clockwise" : "");
      }
    }
  }
}

TEST_F(DeformGreenCoordsTest, ClockwiseEntryGivesTheSameMap) {
  std::mt19937 gen(2);
  std::uniform_real_distribution<double> move(-0.08, 0.08);
  for (const auto* cage : {&kHexagon, &kLShape}) {
    DeformGreenCoords ccw(m_Image, "ccw"), cw(m_Image, "cw");
    deform_test::Mesh(ccw, 40, 40, -0.5, 1.5, -0.5, 1.5);
    deform_test::Mesh(cw, 40, 40, -0.5, 1.5, -0.5, 1.5);
    const Points orig = CagePoints(ccw, *cage);
    Points target = orig;
    for (double& v : target) v += move(gen);
    // The same points and targets, walked the other way from another start.
    Points origCw, targetCw;
    const size_t n = orig.size() / 2;
    for (size_t k = 0; k < n; ++k) {
      const size_t j = (2 * n - 2 - k) % n;
      origCw.insert(origCw.end(), {orig[2 * j], orig[2 * j + 1]});
      targetCw.insert(targetCw.end(), {target[2 * j], target[2 * j + 1]});
    }
    deform_test::Load(ccw, orig, target);
    deform_test::Load(cw, origCw, targetCw);
    warpix_test::expectNear(deform_test::Shown(cw), deform_test::Shown(ccw), 1e-12, "orientation");
  }
}

TEST_F(DeformGreenCoordsTest, FacesInsideTheCageKeepAnglesBetterOnFinerMeshes) {
  // Largest K over the faces whose corners lie inside the hexagon by 0.1:
  // measured 1.0094, 1.0056 and 1.0030 at 20, 40 and 80 cells (1.0016 at
  // 160): K - 1 halves with the mesh size, as for the piecewise linear
  // interpolation of a conformal map.
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> move(-0.05, 0.05);
  Points target;
  double previous = 0;
  for (int cells : {20, 40, 80}) {
    DeformGreenCoords green(m_Image, "g");
    deform_test::Mesh(green, cells, cells);
    const Points orig = CagePoints(green, kHexagon);
    if (target.empty()) {
      target = orig;
      for (double& v : target) v += move(gen);
    }
    deform_test::Load(green, orig, target);
    deform_test::Shown(green);
    DistortionMetrics metrics(green);
    std::vector<FaceDistortion> faces;
    metrics.Measure(&faces);
    double largest = 1;
    for (size_t f = 0; f < faces.size(); ++f) {
      const auto& face = green.m_Faces[f];
      bool in = true;
      for (int v : {face.m_iV0, face.m_iV1, face.m_iV2}) {
        in = in && Inside(orig, {green.m_Vertices[v].m_fRestX, green.m_Vertices[v].m_fRestY}, 0.1);
      }
      if (in) largest = std::max(largest, faces[f].m_fConformal);
    }
    EXPECT_LT(largest, 1.0 + 0.3 / cells) << cells;
    if (previous > 0) {
      EXPECT_LT(largest - 1, 0.6 * (previous - 1)) << cells;
    }
    previous = largest;
  }
}

TEST_F(DeformGreenCoordsTest, BoundaryPointsAreTheLimitsFromEitherSide) {
  // On every vertex and at a quarter and a half of every edge of both cages:
  // finite, and within 1e-7 of the points 1e-9 inside and 1e-9 outside.
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> move(-0.08, 0.08);
  for (const auto* cage : {&kHexagon, &kLShape}) {
    DeformGreenCoords green(m_Image, "g");
    deform_test::Mesh(green, 20, 20);
    const Points orig = CagePoints(green, *cage);
    Points target = orig;
    for (double& v : target) v += move(gen);
    deform_test::Load(green, orig, target);
    auto map = [&](Cx z) { double x = NAN, y = NAN; green.MapPoint(z.real(), z.imag(), x, y); return Cx(x, y); };
    for (size_t k = 0; k < orig.size() / 2; ++k) {
      const Cx a = At(orig, k), b = At(orig, k + 1), c = At(orig, k + 2);
      const Cx inward = Cx(0, 1) * (b - a) / std::abs(b - a);
      // Into the corner at b: along the bisector of its interior angle.
      const Cx e1 = (c - b) / std::abs(c - b), e2 = (a - b) / std::abs(a - b);
      const double interior = std::arg(e2 / e1) < 0 ? std::arg(e2 / e1) + 2 * M_PI : std::arg(e2 / e1);
      const Cx corner = e1 * std::polar(1.0, interior / 2);
      for (auto [z, dir] : {std::pair{a + 0.25 * (b - a), inward}, {a + 0.5 * (b - a), inward}, {b, corner}}) {
        const Cx on = map(z);
        ASSERT_TRUE(std::isfinite(on.real()) && std::isfinite(on.imag())) << z;
        EXPECT_NEAR(std::abs(on - map(z + 1e-9 * dir)), 0, 1e-7) << "inside of " << z;
        EXPECT_NEAR(std::abs(on - map(z - 1e-9 * dir)), 0, 1e-7) << "outside of " << z;
      }
    }
  }
}

TEST_F(DeformGreenCoordsTest, DegenerateCagesWarnOnceAndKeepTheLastGoodMap) {
  struct Case { Points good, bad, fix; const char* warning; };
  const Points square = {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8};
  const std::vector<Case> cases = {
      {{0.2, 0.2, 0.5, 0.2}, {0.8, 0.2, 0.9, 0.2}, {0.5, 0.8},
       "the control points lie on one line, their cage has no area"},
      {square, {0.2, 0.8, 0.2, 0.8}, {}, "two consecutive control points coincide, their cage has an edge of no length"},
      {{0.2, 0.2, 0.8, 0.2, 0.2, 0.8}, {0.8, 0.8, 0.9, 0.9}, {}, "the cage of the control points crosses itself"},
      {{0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8, 0.5, 0.5}, {0.8, 0.8, 0.8, 0.5}, {},
       "the cage of the control points crosses itself"},                            // passes a corner twice
      {square, {0.2, 0.9}, {}, "the cage of the control points crosses itself"},  // folds back on an edge
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
  // Fewer than three points: moved by their mean displacement, no warning.
  DeformGreenCoords two(m_Image, "two");
  EXPECT_EQ(deform_test::Load(two, {0.2, 0.2, 0.6, 0.3}, {0.3, 0.2, 0.6, 0.3}), "");
  EXPECT_EQ(Map(Cx(0.9, 0.1)), Cx(0.9, 0.1));
  double x = 0, y = 0;
  two.MapPoint(0.9, 0.1, x, y);
  EXPECT_NEAR(std::abs(Cx(x, y) - Cx(0.95, 0.1)), 0, 1e-15);
}

TEST_F(DeformGreenCoordsTest, MeshMatchesPointMapBitForBitAndStaysFinite) {
  // Vertices on the cage's corners and edges included; the table route on every
  // vector target and the per-vertex route past the size limit give MapPoint's bits.
  deform_test::Mesh(m_Green, 40, 40, -0.5, 1.5, -0.5, 1.5);
  const Points orig = CagePoints(m_Green, kLShape);
  Points target = orig;
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> move(-0.08, 0.08);
  for (double& v : target) v += move(gen);
  deform_test::Load(m_Green, orig, target);
  Points reference;
  for (const auto& v : m_Green.m_Vertices) {
    const Cx z = Map({v.m_fRestX, v.m_fRestY});
    reference.insert(reference.end(), {z.real(), z.imag()});
  }
  deform_test::ExpectBitsOnEveryTarget(reference, [&] { return deform_test::Shown(m_Green); }, "table");

  DeformGreenCoords limited(m_Image, "limited");
  deform_test::Mesh(limited, 40, 40, -0.5, 1.5, -0.5, 1.5);
  Warpixator::SetTableByteLimit(0);
  const std::string out = deform_test::Load(limited, orig, target);
  Warpixator::SetTableByteLimit(1LL << 30);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  EXPECT_NE(out.find("[WARNING] limited: the coordinates of 1681 mesh vertices and 3 control points"), std::string::npos);
  const Points shown = deform_test::Shown(limited);
  for (size_t k = 0; k < shown.size(); ++k) ASSERT_TRUE(warpix_test::SameBits(shown[k], reference[k])) << k;

  for (Cx far : {Cx(1e6, -1e6), Cx(-1e300, 1e300), Cx(0.5 + 1e-300, 0.1)}) {
    const Cx z = Map(far);
    EXPECT_TRUE(std::isfinite(z.real()) && std::isfinite(z.imag())) << far;
  }
}
