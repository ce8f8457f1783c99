#pragma once

// Whether a set of points spans an area or lies on one line, shared by the
// methods that refuse point sets without area (mean value coordinates, the
// quasi-conformal normalisations).
#include <cmath>

namespace warpix {

/// True when the n >= 1 points (x(k), y(k)) lie within a relative width of
/// minAspect of one line, or all on one spot, or one is not finite. The
/// covariance of the points has the squared extents along its two axes as
/// eigenvalues, so det / trace^2 <= minAspect^2 bounds (width / length)^2.
template <class X, class Y>
bool IsFlatPointSet(int n, X x, Y y, double minAspect) {
  double cx = 0.0, cy = 0.0;
  for (int k = 0; k < n; ++k) {
    if (!std::isfinite(x(k)) || !std::isfinite(y(k))) return true;
    cx += x(k);
    cy += y(k);
  }
  cx /= n;
  cy /= n;
  double sxx = 0.0, sxy = 0.0, syy = 0.0;
  for (int k = 0; k < n; ++k) {
    const double dx = x(k) - cx, dy = y(k) - cy;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
  }
  const double trace = sxx + syy;
  const double det = sxx * syy - sxy * sxy;
  return !(trace > 0.0) || det <= minAspect * minAspect * trace * trace;
}

}  // namespace warpix
