#pragma once

// Helpers shared by the deformator tests.
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "TestCommon.h"
#include "deform/Warpixator.h"

namespace deform_test {

using Points = std::vector<double>;

/// A cols x rows mesh over [x0,x1]x[y0,y1] (no transparency); the console line is swallowed.
inline void Mesh(Warpixator& d, int cols, int rows, double x0 = 0, double x1 = 1, double y0 = 0,
                 double y1 = 1) {
  warpix_test::CoutCapture quiet;
  d.SwitchMeshBasedDeformation(cols, rows, false, false, RNRgb(0, 0, 0), -1, x0, x1, y0, y1);
}

/// The current (or rest) position of every vertex, x and y in turn.
inline Points Positions(const std::vector<Warpixator::ImgVertex>& vertices, bool rest = false) {
  Points out;
  for (const auto& v : vertices) out.insert(out.end(), {rest ? v.m_fRestX : v.m_fX, rest ? v.m_fRestY : v.m_fY});
  return out;
}

/// The rest (or current) position of every mesh vertex.
inline Points Positions(const Warpixator& d, bool rest = true) { return Positions(d.m_Vertices, rest); }

/// The mesh the next frame shows: the deformation redone and the vertices mapped.
inline Points Shown(Warpixator& d) {
  d.m_bNeedsUpdate = true;
  d.Deform();
  d.MapMeshVertices();
  return Positions(d, false);
}

/// Places the points as a loaded file does (the first target.size()/2 of them
/// moved); returns the console text.
inline std::string Load(Warpixator& d, Points orig, Points target) {
  warpix_test::CoutCapture out;
  d.InitializeCtrlPntState(orig, target);
  return out.str();
}

/// The largest distance between two meshes given as x, y pairs.
inline double MaxDistance(const Points& a, const Points& b) {
  double largest = 0.0;
  for (size_t k = 0; k + 1 < a.size(); k += 2) largest = std::fmax(largest, std::hypot(a[k] - b[k], a[k + 1] - b[k + 1]));
  return largest;
}

/// (x, y) -> (m0 x + m1 y + m4, m2 x + m3 y + m5).
using AffineMap = std::array<double, 6>;

/// Every (x, y) pair of p through m.
inline Points Affine(const Points& p, const AffineMap& m) {
  Points out;
  for (size_t k = 0; k + 1 < p.size(); k += 2) {
    out.insert(out.end(), {m[0] * p[k] + m[1] * p[k + 1] + m[4], m[2] * p[k] + m[3] * p[k + 1] + m[5]});
  }
  return out;
}

/// m points in the unit square and their targets moved by up to 0.1.
inline void PointsAndTargets(std::mt19937& gen, int m, Points& orig, Points& target) {
  std::uniform_real_distribution<double> u(0.0, 1.0), move(-0.1, 0.1);
  orig.clear(), target.clear();
  for (int j = 0; j < 2 * m; ++j) orig.push_back(u(gen));
  for (double v : orig) target.push_back(v + move(gen));
}

/// count positions in and around the unit square; every `every`-th (from
/// index 2) on a control point.
inline Points Places(std::mt19937& gen, int count, const Points& on, int every) {
  std::uniform_real_distribution<double> u(-0.2, 1.2);
  Points p;
  for (int k = 0; k < count; ++k) {
    const size_t j = 2 * (k % (on.size() / 2));
    p.insert(p.end(), {k % every == 2 ? on[j] : u(gen), k % every == 2 ? on[j + 1] : u(gen)});
  }
  return p;
}

/// The same bits, or both not a number.
inline bool SameOrBothNaN(double a, double b) {
  return warpix_test::SameBits(a, b) || (std::isnan(a) && std::isnan(b));
}

/// Runs `route` (which returns its results, flat) with each vector target this
/// processor runs selected in turn, and expects the bits of `reference` from
/// each; `what` names the case in a failure.
template <class F>
void ExpectBitsOnEveryTarget(const Points& reference, F&& route, const std::string& what) {
  EXPECT_GT(warpix_test::ForEveryTarget([&](const char* target) {
    const Points out = route();
    ASSERT_EQ(out.size(), reference.size()) << what;
    for (size_t k = 0; k < out.size(); ++k) {
      ASSERT_TRUE(SameOrBothNaN(out[k], reference[k]))
          << target << " " << what << " value " << k << ": " << out[k] << " != " << reference[k];
    }
  }), 0);
}

}  // namespace deform_test
