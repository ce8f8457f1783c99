#pragma once

// Internal to the as-rigid-as-possible deformator: the local frame of a
// triangle, the tolerance its reproduction checks use, and the step-1
// product cells on one map share.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace arap_detail {

template <class T>
T zelAbs(T value) {
  return value < 0 ? -value : value;
}

// Local coordinates of d in the frame of the edge a -> b (from unit edge
// directions, scaled by |d - a| / |b - a|). False when the edge has no
// length or a coordinate is not finite.
inline bool LocalCoordinates(double ax, double ay, double bx, double by, double dx, double dy,
                             double& x01, double& y01) {
  const double ex = bx - ax, ey = by - ay, fx = dx - ax, fy = dy - ay;
  const double le = std::sqrt(ex * ex + ey * ey), lf = std::sqrt(fx * fx + fy * fy);
  if (!(le > 0.0) || !std::isfinite(le) || !std::isfinite(lf)) return false;
  if (lf == 0.0) {
    x01 = y01 = 0.0;
    return true;
  }
  const double ux = ex / le, uy = ey / le, vx = fx / lf, vy = fy / lf;
  x01 = (ux * vx + uy * vy) * lf / le;
  y01 = (uy * vx - ux * vy) * lf / le;
  return std::isfinite(x01) && std::isfinite(y01);
}

// The tolerance of the reproduction checks: 1e-6, relative to the size of
// the coordinates once they exceed 1.
inline double ReproductionTolerance(double extent) { return 1e-6 * std::max(1.0, extent); }

// The last step-1 product of one map: the targets q and u = M q. Cells that
// share the map share it, so that a frame computes the product once.
struct Step1Memo {
  std::mutex mutex;
  std::vector<double> q, u;
};

}  // namespace arap_detail
