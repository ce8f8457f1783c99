// The per-face distortion kernel, compiled once per vector target and chosen
// at run time for the processor (Highway's dynamic dispatch).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "render/DistortionMetricsKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include <cmath>

#include "render/DistortionMetricsKernel.h"
#include "support/SimdPack-inl.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

// K (unclamped) and det J of faces first .. first + Pack::kLanes - 1.
template <class Pack>
void FaceBlock(const DistortionRestFace* faces, size_t first, const double* px, const double* py,
               double* kOut, double* detOut) {
  constexpr int kLanes = Pack::kLanes;
  double a[kLanes], b[kLanes], c[kLanes], d[kLanes];
  for (int l = 0; l < kLanes; ++l) {
    const DistortionRestFace& rest = faces[first + l];
    const double x0 = px[rest.m_iV0], y0 = py[rest.m_iV0];
    const double f1x = px[rest.m_iV1] - x0, f1y = py[rest.m_iV1] - y0;
    const double f2x = px[rest.m_iV2] - x0, f2y = py[rest.m_iV2] - y0;
    a[l] = f1x * rest.m_fInv00 + f2x * rest.m_fInv10;
    b[l] = f1x * rest.m_fInv01 + f2x * rest.m_fInv11;
    c[l] = f1y * rest.m_fInv00 + f2y * rest.m_fInv10;
    d[l] = f1y * rest.m_fInv01 + f2y * rest.m_fInv11;
  }
  const Pack A = Pack::Load(a), B = Pack::Load(b), C = Pack::Load(c), D = Pack::Load(d);
  const Pack half = Pack::Splat(0.5), two = Pack::Splat(2.0);
  const Pack e = half * (A + D), h = half * (C - B);
  const Pack f = half * (A - D), g = half * (C + B);
  const Pack p2 = e * e + h * h, q2 = f * f + g * g;
  const Pack det = A * D - B * C;
  // |det| lane by lane.
  double dets[kLanes], absDet[kLanes];
  det.Store(dets);
  for (int l = 0; l < kLanes; ++l) absDet[l] = std::fabs(dets[l]);
  const Pack k = (p2 + q2 + two * Sqrt(p2 * q2)) / Pack::Load(absDet);
  k.Store(kOut + first);
  det.Store(detOut + first);
}

}  // namespace

void FacesOf(const DistortionRestFace* faces, size_t count, const double* px, const double* py,
             double* k, double* det) {
  size_t first = 0;
  for (; first + Pack::kLanes <= count; first += Pack::kLanes) {
    FaceBlock<Pack>(faces, first, px, py, k, det);
  }
  for (; first < count; ++first) FaceBlock<OneLane>(faces, first, px, py, k, det);
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(FacesOf);

void DistortionOfFaces(const DistortionRestFace* faces, size_t count, const double* px,
                       const double* py, double* k, double* det) {
  HWY_DYNAMIC_DISPATCH(FacesOf)(faces, count, px, py, k, det);
}

}  // namespace warpix
#endif  // HWY_ONCE
