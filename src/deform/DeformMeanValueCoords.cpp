#include "deform/DeformMeanValueCoords.h"

#include <cmath>

#include "support/DoubleLanes.h"
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

// Two mesh vertices mapped side by side, one per lane. Each lane performs the
// operations of FastWeights in the same order, so its result equals MapPoint's
// bit for bit, while the square roots and divisions of both vertices share one
// vector instruction. (Wider blocks were measured slower: more values than
// vector registers.)
using Pack = warpix::Lanes2;

// HalfAngleTan for two points at once; lanes on an edge are added to special.
inline void HalfAngleTan(Pack dxi, Pack dyi, Pack ri, Pack dxj, Pack dyj, Pack rj,
                         Pack& numerator, Pack& denominator, Pack& special) {
  const Pack cross = dxi * dyj - dyi * dxj;
  const Pack dot = dxi * dxj + dyi * dyj;
  const Pack rr = ri * rj;
  const Pack acute = GreaterEqual(dot, Pack::Splat(0.0));
  numerator = Select(acute, cross, rr - dot);
  denominator = Select(acute, rr + dot, cross);
  special = Or(special, Equal(denominator, Pack::Splat(0.0)));
}

// The sums of MapPoint's fast route for two points (x, y) over the polygon p
// with targets q (n >= 3 points, flat): sum_i w_i q_i and sum_i w_i. Returns a
// bit per lane that hit a control point or an edge; those lanes must be
// mapped one by one.
int MapLanes(const double* p, const double* q, int n, const double* x, const double* y,
             double* sumX, double* sumY, double* sum) {
  const Pack X = Pack::Load(x), Y = Pack::Load(y), zero = Pack::Splat(0.0);
  const Pack dx0 = Pack::Splat(p[0]) - X;
  const Pack dy0 = Pack::Splat(p[1]) - Y;
  const Pack r0 = Sqrt(dx0 * dx0 + dy0 * dy0);
  Pack special = Equal(r0, zero);

  const Pack dxl = Pack::Splat(p[2 * n - 2]) - X;
  const Pack dyl = Pack::Splat(p[2 * n - 1]) - Y;
  const Pack rl = Sqrt(dxl * dxl + dyl * dyl);
  special = Or(special, Equal(rl, zero));
  Pack numPrev, denPrev;
  HalfAngleTan(dxl, dyl, rl, dx0, dy0, r0, numPrev, denPrev, special);

  Pack dxi = dx0, dyi = dy0, ri = r0;
  Pack sX = zero, sY = zero, s = zero;
  for (int i = 0; i < n; ++i) {
    Pack dxj = dx0, dyj = dy0, rj = r0;
    if (i + 1 < n) {
      dxj = Pack::Splat(p[2 * i + 2]) - X;
      dyj = Pack::Splat(p[2 * i + 3]) - Y;
      rj = Sqrt(dxj * dxj + dyj * dyj);
      special = Or(special, Equal(rj, zero));
    }
    Pack num, den;
    HalfAngleTan(dxi, dyi, ri, dxj, dyj, rj, num, den, special);
    const Pack w = (numPrev * den + num * denPrev) / (denPrev * den * ri);
    sX = sX + w * Pack::Splat(q[2 * i]);
    sY = sY + w * Pack::Splat(q[2 * i + 1]);
    s = s + w;
    numPrev = num;
    denPrev = den;
    dxi = dxj;
    dyi = dyj;
    ri = rj;
  }
  sX.Store(sumX);
  sY.Store(sumY);
  s.Store(sum);
  return special.Bits();
}

}  // namespace

DeformMeanValueCoords::DeformMeanValueCoords(R2Image& image, const ZelString& name)
    : Warpixator(image, name) {}

DeformMeanValueCoords::~DeformMeanValueCoords() = default;

void DeformMeanValueCoords::MapPoint(double x, double y, double& outX, double& outY) {
  MapPolygonPoint(m_ControlPointsOrigPos, m_ControlPointsNewPos, x, y, outX, outY);
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
  double shiftX = 0.0;
  double shiftY = 0.0;
  for (int k = 0; k < n; ++k) {
    shiftX += target[2 * k] - orig[2 * k];
    shiftY += target[2 * k + 1] - orig[2 * k + 1];
  }
  outX = n > 0 ? x + shiftX / n : x;
  outY = n > 0 ? y + shiftY / n : y;
}

void DeformMeanValueCoords::MapMeshVertices() {
  const size_t count = m_Vertices.size();
  m_Scratch.resize(4 * count);
  double* const x = m_Scratch.data();
  double* const y = x + count;
  for (size_t k = 0; k < count; ++k) {
    x[k] = m_Vertices[k].m_fRestX;
    y[k] = m_Vertices[k].m_fRestY;
  }
  MapPolygonPoints(m_ControlPointsOrigPos, m_ControlPointsNewPos, static_cast<int>(count), x, y,
                   x + 2 * count, x + 3 * count);
  for (size_t k = 0; k < count; ++k) {
    m_Vertices[k].m_fX = x[2 * count + k];
    m_Vertices[k].m_fY = x[3 * count + k];
  }
}

void DeformMeanValueCoords::MapPolygonPoints(const std::vector<double>& orig,
                                             const std::vector<double>& target, int count,
                                             const double* x, const double* y, double* outX,
                                             double* outY) {
  WARPIX_ASSERT(orig.size()==target.size());
  const int n = static_cast<int>(orig.size() / 2);
  constexpr int kLanes = Pack::kLanes;
  int first = 0;
  if (n >= 3) {
    double sumX[kLanes], sumY[kLanes], sum[kLanes];
    for (; first + kLanes <= count; first += kLanes) {
      const int special =
          MapLanes(orig.data(), target.data(), n, x + first, y + first, sumX, sumY, sum);
      for (int l = 0; l < kLanes; ++l) {
        const int k = first + l;
        if (!(special & (1 << l)) && UsableSum(sum[l]) && std::isfinite(sumX[l]) &&
            std::isfinite(sumY[l])) {
          outX[k] = sumX[l] / sum[l];
          outY[k] = sumY[l] / sum[l];
        } else {
          MapPolygonPoint(orig, target, x[k], y[k], outX[k], outY[k]);
        }
      }
    }
  }
  for (; first < count; ++first) {
    MapPolygonPoint(orig, target, x[first], y[first], outX[first], outY[first]);
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
