#pragma once

// Internal to the as-rigid-as-possible deformator: the local frame of a
// triangle and the tolerance its reproduction checks use.
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

// Scales the fitted corners f (x0, y0, x1, y1, x2, y2) about their centroid
// by the rule's ratio (see FittedTriangle::GetFittedTriangle); c are the
// corners they were fitted to; restRule: the rest rule (restEdge, noSize),
// else the fitted one (maxEdgeScale). The edge lengths are sqrt(dx^2 + dy^2), the
// same as hypot to rounding for the coordinates a mesh has, at a fraction of
// its cost; a length that overflows or underflows gives a ratio that is not
// finite (or a collapse to the centroid under the rest rule), never NaN.
inline void ScaleFitted(const double c[6], double f[6], bool restRule, double restEdge,
                        double noSize, double maxEdgeScale) {
  auto rmsSize = [](const double* p) {
    const double mx = (p[0] + p[2] + p[4]) / 3, my = (p[1] + p[3] + p[5]) / 3;
    const double s = (p[0] - mx) * (p[0] - mx) + (p[1] - my) * (p[1] - my) +
                     (p[2] - mx) * (p[2] - mx) + (p[3] - my) * (p[3] - my) +
                     (p[4] - mx) * (p[4] - mx) + (p[5] - my) * (p[5] - my);
    return std::sqrt(s / 3);
  };
  // The first edge's length.
  auto edge = [](const double* p) {
    return std::sqrt((p[0] - p[2]) * (p[0] - p[2]) + (p[1] - p[3]) * (p[1] - p[3]));
  };
  double s = 1.0;
  if (restRule) {
    // Similar to the rest shape: scaled to the rest first edge it is the
    // rest triangle, rotated and moved. One of no size is kept: the corners
    // of a mirror image of the rest shape fit to a point, whose first edge
    // is rounding noise and gives no direction.
    const double fittedEdge = edge(f);
    if (fittedEdge > noSize * restEdge) s = restEdge / fittedEdge;
    if (!std::isfinite(s)) s = 1.0;
  } else {
    s = edge(f) / edge(c);
    if (!(s <= maxEdgeScale)) {
      // A collapsed or nearly collapsed first edge: the whole triangles' sizes.
      s = rmsSize(f) / rmsSize(c);
      if (!(s <= maxEdgeScale)) s = 1.0;
    }
  }
  const double mx = (f[0] + f[2] + f[4]) / 3, my = (f[1] + f[3] + f[5]) / 3;
  for (int i = 0; i < 6; i += 2) {
    f[i] = mx + s * (f[i] - mx);
    f[i + 1] = my + s * (f[i + 1] - my);
  }
}

}  // namespace arap_detail
