// The fitted triangles of step 2, compiled once per vector target and chosen
// at run time for the processor (Highway's dynamic dispatch). Each lane
// performs the one-face loop's operations in the same order, so every target
// gives its bits, while the square roots and divisions of a whole vector of
// faces share one instruction.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deform/AsRigidAsPossibleKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include <cmath>

#include "deform/AsRigidAsPossibleKernel.h"
#include "support/SimdPack-inl.h"

#ifndef WARPIX_ARAP_KERNEL_ONCE
#define WARPIX_ARAP_KERNEL_ONCE
namespace warpix {
namespace {

// The faces whose fitted-rule ratio falls out (marked by the lanes) take the
// ratio of the RMS sizes of fit f (unscaled) and corners c, or 1; then the
// scale about the fit's centroid. Plain doubles: the same on every target.
void RescaleByRms(const double c[6], double f[6], double maxEdgeScale) {
  auto rmsSize = [](const double* p) {
    const double mx = (p[0] + p[2] + p[4]) / 3, my = (p[1] + p[3] + p[5]) / 3;
    const double s = (p[0] - mx) * (p[0] - mx) + (p[1] - my) * (p[1] - my) +
                     (p[2] - mx) * (p[2] - mx) + (p[3] - my) * (p[3] - my) +
                     (p[4] - mx) * (p[4] - mx) + (p[5] - my) * (p[5] - my);
    return std::sqrt(s / 3);
  };
  double s = rmsSize(f) / rmsSize(c);
  if (!(s <= maxEdgeScale)) s = 1.0;
  const double mx = (f[0] + f[2] + f[4]) / 3, my = (f[1] + f[3] + f[5]) / 3;
  for (int i = 0; i < 6; i += 2) {
    f[i] = mx + s * (f[i] - mx);
    f[i + 1] = my + s * (f[i + 1] - my);
  }
}

// The faces the lanes could not finish: invalid ones keep their corners,
// marked ones are rescaled by their RMS sizes.
void FinishFace(int l, size_t stride, const double* corners, const unsigned char* valid,
                bool marked, double maxEdgeScale, double* fitted) {
  double c[6], f[6];
  for (int k = 0; k < 6; ++k) c[k] = corners[k * stride + l], f[k] = fitted[k * stride + l];
  if (!valid[l]) {
    for (int k = 0; k < 6; ++k) fitted[k * stride + l] = c[k];
    return;
  }
  if (!marked) return;
  RescaleByRms(c, f, maxEdgeScale);
  for (int k = 0; k < 6; ++k) fitted[k * stride + l] = f[k];
}

}  // namespace
}  // namespace warpix
#endif  // WARPIX_ARAP_KERNEL_ONCE

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

// The faces at..at + P::kLanes: fitted corners into fitted (rows of stride
// doubles). Returns a bit per lane whose fitted-rule ratio falls out; those
// lanes hold the unscaled fit.
template <class P>
HWY_INLINE int FitLanes(size_t stride, size_t at, const double* corners, const double* terms,
                        bool restRule, double noSize, double maxEdgeScale, double* fitted) {
  P c[6];
  for (int k = 0; k < 6; ++k) c[k] = P::Load(corners + k * stride + at);
  const P x = P::Load(terms + kFitX01 * stride + at), y = P::Load(terms + kFitY01 * stride + at);
  const P one = P::Splat(1.0), two = P::Splat(2.0);
  const P b[4] = {two * c[0] + two * (one - x) * c[4] + two * y * c[5],
                  two * c[1] + two * (one - x) * c[5] - two * y * c[4],
                  two * c[2] + two * x * c[4] - two * y * c[5],
                  two * c[3] + two * x * c[5] + two * y * c[4]};
  P f[6];
  for (int i = 0; i < 4; ++i) {
    const double* const F = terms + (kFitF + i) * stride + at;
    f[i] = P::Load(F) * b[0] + P::Load(F + 4 * stride) * b[1] + P::Load(F + 8 * stride) * b[2] +
           P::Load(F + 12 * stride) * b[3];
  }
  f[4] = f[0] + x * (f[2] - f[0]) + y * (f[3] - f[1]);
  f[5] = f[1] + x * (f[3] - f[1]) + y * (f[0] - f[2]);

  auto edge = [](const P* p) { return Sqrt((p[0] - p[2]) * (p[0] - p[2]) + (p[1] - p[3]) * (p[1] - p[3])); };
  P s = one;
  int marked = 0;
  P scaled = Equal(one, one);  // the lanes that take the scale (the others keep the fit)
  if (restRule) {
    const P restEdge = P::Load(terms + kFitRestEdge * stride + at);
    const P fittedEdge = edge(f);
    s = Select(Greater(fittedEdge, P::Splat(noSize) * restEdge), restEdge / fittedEdge, one);
    s = Select(Finite(s), s, one);
  } else {
    s = edge(f) / edge(c);
    scaled = GreaterEqual(P::Splat(maxEdgeScale), s);
    marked = ~scaled.Bits() & ((1 << P::kLanes) - 1);
  }
  const P three = P::Splat(3.0);
  const P mx = (f[0] + f[2] + f[4]) / three, my = (f[1] + f[3] + f[5]) / three;
  for (int i = 0; i < 6; i += 2) {
    const P sx = mx + s * (f[i] - mx), sy = my + s * (f[i + 1] - my);
    Select(scaled, sx, f[i]).Store(fitted + i * stride + at);
    Select(scaled, sy, f[i + 1]).Store(fitted + (i + 1) * stride + at);
  }
  return marked;
}

template <class P>
void FitFacesWith(int count, const double* corners, const double* terms,
                  const unsigned char* valid, bool restRule, double noSize, double maxEdgeScale,
                  double* fitted) {
  const size_t stride = static_cast<size_t>(count);
  int first = 0;
  for (; first + P::kLanes <= count; first += P::kLanes) {
    const int marked =
        FitLanes<P>(stride, first, corners, terms, restRule, noSize, maxEdgeScale, fitted);
    for (int l = 0; l < P::kLanes; ++l) {
      if (!valid[first + l] || (marked >> l & 1)) {
        FinishFace(first + l, stride, corners, valid, marked >> l & 1, maxEdgeScale, fitted);
      }
    }
  }
  for (; first < count; ++first) {
    const int marked =
        FitLanes<OneLane>(stride, first, corners, terms, restRule, noSize, maxEdgeScale, fitted);
    FinishFace(first, stride, corners, valid, marked & 1, maxEdgeScale, fitted);
  }
}

}  // namespace

void FitFaces(int count, const double* corners, const double* terms, const unsigned char* valid,
              bool restRule, double noSize, double maxEdgeScale, double* fitted) {
  // Two vectors per step: the square roots and divisions of one overlap the
  // other's products.
  FitFacesWith<Twice<Pack>>(count, corners, terms, valid, restRule, noSize, maxEdgeScale, fitted);
}

void FitFacesOneByOne(int count, const double* corners, const double* terms,
                      const unsigned char* valid, bool restRule, double noSize,
                      double maxEdgeScale, double* fitted) {
  FitFacesWith<OneLane>(count, corners, terms, valid, restRule, noSize, maxEdgeScale, fitted);
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(FitFaces);
HWY_EXPORT(FitFacesOneByOne);

void ArapFitFaces(int count, const double* corners, const double* terms,
                  const unsigned char* valid, bool restRule, double noSize, double maxEdgeScale,
                  double* fitted) {
  if (count <= 0) return;
  HWY_DYNAMIC_DISPATCH(FitFaces)(count, corners, terms, valid, restRule, noSize, maxEdgeScale,
                                 fitted);
}

void ArapFitFacesOneByOne(int count, const double* corners, const double* terms,
                          const unsigned char* valid, bool restRule, double noSize,
                          double maxEdgeScale, double* fitted) {
  if (count <= 0) return;
  // Any target's one-lane loop: the same plain operations.
  HWY_STATIC_DISPATCH(FitFacesOneByOne)(count, corners, terms, valid, restRule, noSize,
                                        maxEdgeScale, fitted);
}

}  // namespace warpix
#endif  // HWY_ONCE
