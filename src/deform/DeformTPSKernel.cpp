// The thin-plate spline of many points, compiled once per vector target and
// chosen at run time for the processor (Highway's dynamic dispatch). The
// kernel's logarithm is written with plain operations (LogPositive), so one
// point gives the same bits alone or in a vector, on any target.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deform/DeformTPSKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include "deform/DeformTPSKernel.h"
#include "support/SimdPack-inl.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

template <class P>
HWY_INLINE void SplineLanes(const SplineArrays& spline, const double* x, const double* y,
                            double* outX, double* outY) {
  const P X = P::Load(x), Y = P::Load(y), zero = P::Splat(0.0);
  P sumRe = zero, sumIm = zero;
  for (int i = 0; i < spline.m; ++i) {
    const P dx = X - P::Splat(spline.cx[i]), dy = Y - P::Splat(spline.cy[i]);
    const P s = dx * dx + dy * dy;
    const P u = Select(Greater(s, zero), s * LogPositive(s), s);
    sumRe = sumRe + P::Splat(spline.wr[i]) * u;
    sumIm = sumIm + u * P::Splat(spline.wi[i]);
  }
  const double* a = spline.affine;
  (((P::Splat(a[0]) * X + P::Splat(a[2]) * Y) + P::Splat(a[4])) + sumRe).Store(outX);
  (((P::Splat(a[1]) * X + P::Splat(a[3]) * Y) + P::Splat(a[5])) + sumIm).Store(outY);
}

}  // namespace

void SplinePoints(const SplineArrays& spline, int count, const double* x, const double* y,
                  double* outX, double* outY) {
  // Two vectors per step: the logarithm's division has long latency.
  using Block = Twice<Pack>;
  int k = 0;
  for (; k + Block::kLanes <= count; k += Block::kLanes)
    SplineLanes<Block>(spline, x + k, y + k, outX + k, outY + k);
  for (; k < count; ++k) SplineLanes<OneLane>(spline, x + k, y + k, outX + k, outY + k);
}

void Logs(const double* s, int count, double* out) {
  int k = 0;
  for (; k + Pack::kLanes <= count; k += Pack::kLanes) LogPositive(Pack::Load(s + k)).Store(out + k);
  for (; k < count; ++k) out[k] = LogPositive(OneLane{s[k]}).m_V;
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(SplinePoints);
HWY_EXPORT(Logs);

void SplineMapPoints(const SplineArrays& spline, int count, const double* x, const double* y,
                     double* outX, double* outY) {
  if (count > 0) HWY_DYNAMIC_DISPATCH(SplinePoints)(spline, count, x, y, outX, outY);
}

void SplineLogs(const double* s, int count, double* out) {
  if (count > 0) HWY_DYNAMIC_DISPATCH(Logs)(s, count, out);
}

double SplineLog(double s) {
  // One value takes the one-lane route: plain operations, the same on all.
  double log = 0.0;
  SplineLogs(&s, 1, &log);
  return log;
}

}  // namespace warpix
#endif  // HWY_ONCE
