#include "deform/DeformMeanValueCoords.h"

#include "deform/FlatPointSet.h"
#include "deform/DeformMVCKernel.h"

#include <cmath>
#include <iostream>

#include "support/WarpixAssert.h"

namespace {

// What the fast weight pass found about the point.
enum class MVCCase { kWeights, kOnVertex, kOnEdge };

// The unit coordinate of an exact hit, or the two coordinates of a point
// strictly inside one polygon edge.
struct MVCSpecial {
  int m_iI = -1;
  int m_iJ = -1;
  double m_fWI = 0.0;
  double m_fWJ = 0.0;
};

// tan(alpha/2) for the signed angle alpha at the point from d_i to d_j, as the
// fraction numerator / denominator of their dot and cross products:
// tan(alpha/2) = cross/(r_i r_j + dot) = (r_i r_j - dot)/cross. The first form
// is used while dot >= 0, where its denominator is at least r_i r_j; the
// second beyond a right angle, where its numerator is at least r_i r_j:
// neither ever cancels. Returns false when the point lies strictly between the
// two control points on their edge (cross == 0, dot < 0: the angle is +-pi and
// the tangent unbounded).
inline bool HalfAngleTan(double dxi, double dyi, double ri, double dxj, double dyj, double rj,
                         double& numerator, double& denominator) {
  const double cross = dxi * dyj - dyi * dxj;
  const double dot = dxi * dxj + dyi * dyj;
  const double rr = ri * rj;
  const bool acute = dot >= 0.0;
  numerator = acute ? cross : rr - dot;
  denominator = acute ? rr + dot : cross;
  return denominator != 0.0;
}

// One pass over the polygon p (n points, flat) for the point (x, y): calls
// emit(i, w_i) with the unnormalised weight w_i = (t_{i-1} + t_i) / r_i of
// every vertex in order (the two tangent fractions over one division),
// unless the point lies exactly on a control point
// (kOnVertex, the first such index, as soon as it is found) or strictly
// inside an edge (kOnEdge, the first such edge, reported after the pass so
// that an exact vertex hit still wins). Needs n >= 1; allocates nothing.
template <class Emit>
MVCCase FastWeights(const double* p, int n, double x, double y, Emit&& emit,
                    MVCSpecial& special) {
  const double dx0 = p[0] - x;
  const double dy0 = p[1] - y;
  const double r0 = std::sqrt(dx0 * dx0 + dy0 * dy0);
  if (r0 == 0.0) {
    special.m_iI = 0;
    return MVCCase::kOnVertex;
  }

  bool onEdge = false;
  // The closing edge n-1 -> 0 first: its tangent enters the weight of vertex 0.
  // A hit on vertex n-1 is reported by the loop, after the lower indices.
  double numPrev = 0.0;
  double denPrev = 1.0;
  {
    const double dxl = p[2 * n - 2] - x;
    const double dyl = p[2 * n - 1] - y;
    const double rl = std::sqrt(dxl * dxl + dyl * dyl);
    if (rl != 0.0 && !HalfAngleTan(dxl, dyl, rl, dx0, dy0, r0, numPrev, denPrev)) {
      onEdge = true;
      special.m_iI = n - 1;
      special.m_iJ = 0;
      special.m_fWI = r0 / (rl + r0);
      special.m_fWJ = rl / (rl + r0);
      numPrev = 0.0;
      denPrev = 1.0;
    }
  }

  double dxi = dx0;
  double dyi = dy0;
  double ri = r0;
  for (int i = 0; i < n; ++i) {
    double dxj = dx0;
    double dyj = dy0;
    double rj = r0;
    const int j = i + 1 < n ? i + 1 : 0;
    if (j != 0) {
      dxj = p[2 * j] - x;
      dyj = p[2 * j + 1] - y;
      rj = std::sqrt(dxj * dxj + dyj * dyj);
      if (rj == 0.0) {
        special.m_iI = j;
        return MVCCase::kOnVertex;
      }
    }
    double num = 0.0;
    double den = 1.0;
    if (!HalfAngleTan(dxi, dyi, ri, dxj, dyj, rj, num, den)) {
      num = 0.0;
      den = 1.0;
      if (!onEdge) {
        onEdge = true;
        special.m_iI = i;
        special.m_iJ = j;
        special.m_fWI = rj / (ri + rj);
        special.m_fWJ = ri / (ri + rj);
      }
    }
    emit(i, (numPrev * den + num * denPrev) / (denPrev * den * ri));
    numPrev = num;
    denPrev = den;
    dxi = dxj;
    dyi = dyj;
    ri = rj;
  }
  return onEdge ? MVCCase::kOnEdge : MVCCase::kWeights;
}

// A usable normalisation: finite and not zero.
inline bool UsableSum(double sum) { return std::isfinite(sum) && sum != 0.0; }

}  // namespace

DeformMeanValueCoords::DeformMeanValueCoords(R2Image& image, const ZelString& name)
    : Warpixator(image, name) {}

DeformMeanValueCoords::~DeformMeanValueCoords() = default;

void DeformMeanValueCoords::PrepareDeformator() { AcceptControlPoints(); }

void DeformMeanValueCoords::Deform() { AcceptControlPoints(); }

void DeformMeanValueCoords::AcceptControlPoints() {
  if (m_ControlPointsOrigPos.size() >= 6 && IsFlatPolygon(m_ControlPointsOrigPos)) {
    if (!m_bRefused) {
      m_bRefused = true;
      std::cout << "[WARNING] " << m_Name
                << ": the control points lie on one line, their polygon has no mean value "
                   "coordinates; the last good deformation is kept"
                << std::endl;
    }
    return;
  }
  m_bRefused = false;
  m_MapOrig = m_ControlPointsOrigPos;
  m_MapTarget = m_ControlPointsNewPos;
}

bool DeformMeanValueCoords::IsFlatPolygon(const std::vector<double>& ctrlPnts) {
  const double* p = ctrlPnts.data();
  return warpix::IsFlatPointSet(
      static_cast<int>(ctrlPnts.size() / 2), [p](int k) { return p[2 * k]; },
      [p](int k) { return p[2 * k + 1]; }, 1e-6);
}

void DeformMeanValueCoords::MapPoint(double x, double y, double& outX, double& outY) {
  MapPolygonPoint(m_MapOrig, m_MapTarget, x, y, outX, outY);
}

void DeformMeanValueCoords::MapPolygonPoint(const std::vector<double>& orig,
                                            const std::vector<double>& target, double x,
                                            double y, double& outX, double& outY) {
  WARPIX_ASSERT(orig.size()==target.size());
  const int n = static_cast<int>(orig.size() / 2);

  if (n >= 3) {
    // Interpolate the targets on the fly: sum_i w_i q_i / sum_i w_i.
    double sumX = 0.0;
    double sumY = 0.0;
    double sum = 0.0;
    MVCSpecial special;
    const MVCCase found = FastWeights(
        orig.data(), n, x, y,
        [&](int i, double w) {
          sumX += w * target[2 * i];
          sumY += w * target[2 * i + 1];
          sum += w;
        },
        special);
    if (found == MVCCase::kOnVertex) {
      outX = target[2 * special.m_iI];
      outY = target[2 * special.m_iI + 1];
      return;
    }
    if (found == MVCCase::kOnEdge) {
      outX = special.m_fWI * target[2 * special.m_iI] + special.m_fWJ * target[2 * special.m_iJ];
      outY = special.m_fWI * target[2 * special.m_iI + 1] +
             special.m_fWJ * target[2 * special.m_iJ + 1];
      return;
    }
    if (UsableSum(sum) && std::isfinite(sumX) && std::isfinite(sumY)) {
      outX = sumX / sum;
      outY = sumY / sum;
      return;
    }
    // A tangent overflowed (a point within rounding of an edge): the
    // trigonometric route stays finite there.
    std::vector<double> mvc;
    if (CalcMVC(orig, x, y, mvc)) {
      Interpolate(target, mvc, outX, outY);
      if (std::isfinite(outX) && std::isfinite(outY)) return;
    }
  }

  // Too few points for a polygon, or a degenerate one: move by the mean
  // displacement of the control points (the identity without points).
  MoveByMeanDisplacement(orig, target, x, y, outX, outY);
}

void DeformMeanValueCoords::MapMeshVertices() {
  MapRestPositions(m_Scratch, [this](int count, const double* x, const double* y, double* outX,
                                     double* outY) {
    MapPolygonPoints(m_MapOrig, m_MapTarget, count, x, y, outX, outY);
  });
}

void DeformMeanValueCoords::MapPolygonPoints(const std::vector<double>& orig,
                                             const std::vector<double>& target, int count,
                                             const double* x, const double* y, double* outX,
                                             double* outY) {
  WARPIX_ASSERT(orig.size()==target.size());
  const int n = static_cast<int>(orig.size() / 2);
  const int first = warpix::MVCMapBlocks(orig.data(), target.data(), n, count, x, y, outX, outY);
  for (int k = 0; k < first; ++k) {
    if (std::isnan(outX[k])) MapPolygonPoint(orig, target, x[k], y[k], outX[k], outY[k]);
  }
  for (int k = first; k < count; ++k) {
    MapPolygonPoint(orig, target, x[k], y[k], outX[k], outY[k]);
  }
}

bool DeformMeanValueCoords::CalcMVC(const std::vector<double>& ctrlPnts, double x, double y,
                                    std::vector<double>& MVC) {
  MVC.clear();
  const int n = static_cast<int>(ctrlPnts.size() / 2);
  std::vector<double> tangents(n);
  std::vector<double> radii(n);
  // The offset d_k = p_k - (x, y) and its length.
  auto offset = [&](int k, double& dx, double& dy) {
    dx = ctrlPnts[2 * k] - x;
    dy = ctrlPnts[2 * k + 1] - y;
    return std::sqrt(dx * dx + dy * dy);
  };
  // (x, y) is control point k: its unit coordinate.
  auto hit = [&](int k) {
    MVC.assign(n, 0.0);
    MVC[k] = 1.0;
    return true;
  };
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    double dxi = 0.0, dyi = 0.0, dxj = 0.0, dyj = 0.0;
    const double ri = offset(i, dxi, dyi);
    if (ri == 0.0) return hit(i);
    const double rj = offset(j, dxj, dyj);
    if (rj == 0.0) return hit(j);
    // Not wrapped: tan(alpha/2) is the same for alpha and alpha +- 2 pi.
    const double alpha = std::atan2(dyj / rj, dxj / rj) - std::atan2(dyi / ri, dxi / ri);
    tangents[i] = std::tan(alpha * 0.5);
    radii[i] = ri;
  }

  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double w = (tangents[(i + n - 1) % n] + tangents[i]) / radii[i];
    MVC.push_back(w);
    sum += w;
  }
  if (n >= 1) {
    for (double& w : MVC) w /= sum;
  }
  return n >= 1 && UsableSum(sum);
}

bool DeformMeanValueCoords::CalcMVCFast(const std::vector<double>& ctrlPnts, double x, double y,
                                        std::vector<double>& MVC) {
  const int n = static_cast<int>(ctrlPnts.size() / 2);
  MVC.resize(n);
  if (n == 0) return false;

  double sum = 0.0;
  MVCSpecial special;
  const MVCCase found = FastWeights(
      ctrlPnts.data(), n, x, y,
      [&](int i, double w) {
        MVC[i] = w;
        sum += w;
      },
      special);
  if (found != MVCCase::kWeights) {
    for (double& w : MVC) w = 0.0;
    if (found == MVCCase::kOnVertex) {
      MVC[special.m_iI] = 1.0;
    } else {
      MVC[special.m_iI] = special.m_fWI;
      MVC[special.m_iJ] = special.m_fWJ;
    }
    return true;
  }
  if (!UsableSum(sum)) {
    // Fewer than three points, a degenerate polygon, or an overflowed tangent
    // within rounding of an edge: the trigonometric route decides.
    return CalcMVC(ctrlPnts, x, y, MVC);
  }
  for (double& w : MVC) w /= sum;
  return true;
}

void DeformMeanValueCoords::Interpolate(const std::vector<double>& ctrlPnts,
                                        const std::vector<double>& MVC, double& outX,
                                        double& outY) {
  WARPIX_ASSERT(MVC.size()==ctrlPnts.size()/2);
  WARPIX_ASSERT(ctrlPnts.size()%2==0);
  outX = 0.0;
  outY = 0.0;
  for (size_t k = 0; k < MVC.size(); ++k) {
    outX += MVC[k] * ctrlPnts[2 * k];
    outY += MVC[k] * ctrlPnts[2 * k + 1];
  }
}
