// The mean-value coordinates of many points, compiled once per vector target
// and chosen at run time for the processor (Highway's dynamic dispatch). Each
// lane performs the operations of the one-point fast route (FastWeights in
// DeformMeanValueCoords.cpp) in the same order, so its sums equal that
// route's bit for bit, while the square roots and divisions of a whole vector
// of points share one instruction.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deform/DeformMVCKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include <cmath>
#include <limits>

#include "deform/DeformMVCKernel.h"
#include "support/SimdPack-inl.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

// HalfAngleTan for a pack of points; lanes on an edge are added to special.
template <class Pack>
HWY_INLINE void HalfAngleTan(Pack dxi, Pack dyi, Pack ri, Pack dxj, Pack dyj, Pack rj,
                         Pack& numerator, Pack& denominator, Pack& special) {
  const Pack cross = dxi * dyj - dyi * dxj;
  const Pack dot = dxi * dxj + dyi * dyj;
  const Pack rr = ri * rj;
  const Pack acute = GreaterEqual(dot, Pack::Splat(0.0));
  numerator = Select(acute, cross, rr - dot);
  denominator = Select(acute, rr + dot, cross);
  special = Or(special, Equal(denominator, Pack::Splat(0.0)));
}

// The sums of MapPoint's fast route for a pack of points (x, y) over the
// polygon p with targets q (n >= 3 points, flat): sum_i w_i q_i and sum_i w_i.
// Returns a bit per lane that hit a control point or an edge; those lanes must
// be mapped one by one.
template <class Pack>
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

int MapBlocks(const double* p, const double* q, int n, int count, const double* x,
              const double* y, double* outX, double* outY) {
  // Two vectors per step where there are 32 registers to hold them.
  using Block = Twice<Pack>;
  constexpr int kLanes = Block::kLanes;
  double sumX[kLanes], sumY[kLanes], sum[kLanes];
  int first = 0;
  for (; first + kLanes <= count; first += kLanes) {
    const int special = MapLanes<Block>(p, q, n, x + first, y + first, sumX, sumY, sum);
    // Usable sums (finite, and a nonzero total) give the point; the others
    // are marked for the one-point route.
    const Block S = Block::Load(sum), SX = Block::Load(sumX), SY = Block::Load(sumY);
    const Block zero = Block::Splat(0.0), none = Block::Splat(std::numeric_limits<double>::quiet_NaN());
    const Block usable = Select(Equal(S, zero), zero, And(And(Finite(S), Finite(SX)), Finite(SY)));
    Select(usable, SX / S, none).Store(outX + first);
    Select(usable, SY / S, none).Store(outY + first);
    for (int l = 0; special != 0 && l < kLanes; ++l) {
      if (special & (1 << l)) outX[first + l] = outY[first + l] = std::numeric_limits<double>::quiet_NaN();
    }
  }
  return first;
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(MapBlocks);

int MVCMapBlocks(const double* p, const double* q, int n, int count, const double* x,
                 const double* y, double* outX, double* outY) {
  if (n < 3 || count <= 0) return 0;
  return HWY_DYNAMIC_DISPATCH(MapBlocks)(p, q, n, count, x, y, outX, outY);
}

}  // namespace warpix
#endif  // HWY_ONCE
