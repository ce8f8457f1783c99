#pragma once

// Helpers shared by the deformator tests.
#include <array>
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

/// The rest (or current) position of every vertex, x and y in turn.
inline Points Positions(const Warpixator& d, bool rest = true) {
  Points out;
  for (const auto& v : d.m_Vertices) out.insert(out.end(), {rest ? v.m_fRestX : v.m_fX, rest ? v.m_fRestY : v.m_fY});
  return out;
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

}  // namespace deform_test
