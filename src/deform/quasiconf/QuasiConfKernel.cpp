// The Mobius and R-linear maps of many points, compiled once per vector
// target and chosen at run time for the processor (Highway's dynamic
// dispatch). Whole vectors of points first, the remainder one point at a
// time with the same operations.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deform/quasiconf/QuasiConfKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include <cstddef>
#include <cstring>

#include "deform/quasiconf/QuasiConfKernel.h"
#include "support/SimdPack-inl.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

// (a z + b) / (c z + d): the complex product, sum and quotient of the
// complex type, lane by lane.
template <class P>
HWY_INLINE void Mobius(const double* m, P zr, P zi, P& outRe, P& outIm) {
  const P zero = P::Splat(0.0);
  const P ar = P::Splat(m[0]), ai = P::Splat(m[1]), cr = P::Splat(m[4]), ci = P::Splat(m[5]);
  const P nr = (ar * zr - ai * zi) + P::Splat(m[2]);
  const P ni = (ar * zi + ai * zr) + P::Splat(m[3]);
  const P dr = (cr * zr - ci * zi) + P::Splat(m[6]);
  const P di = (cr * zi + ci * zr) + P::Splat(m[7]);
  const P denom = dr * dr + di * di;
  const P zeroDivisor = Equal(denom, zero);
  outRe = Select(zeroDivisor, zero, (nr * dr + ni * di) / denom);
  outIm = Select(zeroDivisor, zero, (ni * dr - nr * di) / denom);
}

// alpha z + beta conj(z), lane by lane.
template <class P>
HWY_INLINE void RLinear(const double* m, P zr, P zi, P& outRe, P& outIm) {
  const P conjIm = Neg(zi);
  const P ar = P::Splat(m[0]), ai = P::Splat(m[1]), br = P::Splat(m[2]), bi = P::Splat(m[3]);
  outRe = (ar * zr - ai * zi) + (br * zr - bi * conjIm);
  outIm = (ar * zi + ai * zr) + (br * conjIm + bi * zr);
}

// One of the maps above for all count points: whole blocks of vectors, then
// the remainder one point at a time.
template <class Map>
HWY_INLINE void MapPoints(const Map& map, const double* m, int count, const double* x,
                          const double* y, double* outX, double* outY) {
  using Block = Twice<Pack>;
  int k = 0;
  for (; k + Block::kLanes <= count; k += Block::kLanes) {
    Block re, im;
    map(m, Block::Load(x + k), Block::Load(y + k), re, im);
    re.Store(outX + k);
    im.Store(outY + k);
  }
  for (; k < count; ++k) {
    OneLane re, im;
    map(m, OneLane{x[k]}, OneLane{y[k]}, re, im);
    outX[k] = re.m_V, outY[k] = im.m_V;
  }
}

// The chain for P::kLanes vertices, in place: pairs of rest coordinates in,
// pairs of results out. Returns a bit per lane whose result is finite.
template <class P>
HWY_INLINE int ChainLanes(const double* first, const double* linear, const double* second,
                          double* xy) {
  P x, y;
  P::LoadPairs(xy, x, y);
  Mobius(first, x, y, x, y);
  if (linear != nullptr) RLinear(linear, x, y, x, y);
  Mobius(second, x, y, x, y);
  P::StorePairs(x, y, xy);
  return And(Finite(x), Finite(y)).Bits();
}

}  // namespace

void MobiusPoints(const double* m, int count, const double* x, const double* y, double* outX,
                  double* outY) {
  MapPoints([](const double* e, auto zr, auto zi, auto& re, auto& im) { Mobius(e, zr, zi, re, im); },
            m, count, x, y, outX, outY);
}

void RLinearPoints(const double* m, int count, const double* x, const double* y, double* outX,
                   double* outY) {
  MapPoints([](const double* e, auto zr, auto zi, auto& re, auto& im) { RLinear(e, zr, zi, re, im); },
            m, count, x, y, outX, outY);
}

void ChainVertices(const double* first, const double* linear, const double* second,
                   Warpixator::ImgVertex* vertices, int count) {
  // Chunks of vertices through a buffer that stays in the first-level cache,
  // each coordinate pair copied whole: the vertices are read and written in
  // one pass, the vector loads do not wait on the scalar stores that filled
  // the buffer, and a vertex's position is only written, never read.
  using Block = Twice<Pack>;
  constexpr int kChunk = 256;
  constexpr int kBlocks = kChunk / Block::kLanes;
  constexpr int kAllFinite = static_cast<int>((1u << Block::kLanes) - 1u);
  static_assert(kChunk % Block::kLanes == 0, "whole blocks in a chunk");
  constexpr size_t kPair = 2 * sizeof(double);
  constexpr size_t kStride = sizeof(Warpixator::ImgVertex);
  constexpr size_t kRest = offsetof(Warpixator::ImgVertex, m_fRestX);
  constexpr size_t kPosition = offsetof(Warpixator::ImgVertex, m_fX);
  static_assert(offsetof(Warpixator::ImgVertex, m_fY) == kPosition + sizeof(double) &&
                    offsetof(Warpixator::ImgVertex, m_fRestY) == kRest + sizeof(double),
                "each coordinate pair is copied whole");
  HWY_ALIGN double xy[2 * kChunk];
  int finite[kBlocks];  // a bit per vertex of each block whose result is finite
  for (int start = 0; start < count; start += kChunk) {
    unsigned char* const v = reinterpret_cast<unsigned char*>(vertices + start);
    const int n = count - start < kChunk ? count - start : kChunk;
    for (int k = 0; k < n; ++k) std::memcpy(xy + 2 * k, v + k * kStride + kRest, kPair);
    const int blocks = n / Block::kLanes;
    for (int b = 0; b < blocks; ++b)
      finite[b] = ChainLanes<Block>(first, linear, second, xy + 2 * b * Block::kLanes);
    for (int b = 0; b < blocks; ++b) {
      const int base = b * Block::kLanes;
      if (finite[b] == kAllFinite) {
        for (int k = base; k < base + Block::kLanes; ++k)
          std::memcpy(v + k * kStride + kPosition, xy + 2 * k, kPair);
        continue;
      }
      for (int l = 0; l < Block::kLanes; ++l) {
        if (finite[b] & (1 << l))
          std::memcpy(v + (base + l) * kStride + kPosition, xy + 2 * (base + l), kPair);
      }
    }
    for (int k = blocks * Block::kLanes; k < n; ++k) {
      if (ChainLanes<OneLane>(first, linear, second, xy + 2 * k))
        std::memcpy(v + k * kStride + kPosition, xy + 2 * k, kPair);
    }
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(MobiusPoints);
HWY_EXPORT(RLinearPoints);
HWY_EXPORT(ChainVertices);

void MobiusMapPoints(const double* m, int count, const double* x, const double* y, double* outX,
                     double* outY) {
  if (count > 0) HWY_DYNAMIC_DISPATCH(MobiusPoints)(m, count, x, y, outX, outY);
}

void RLinearMapPoints(const double* m, int count, const double* x, const double* y, double* outX,
                      double* outY) {
  if (count > 0) HWY_DYNAMIC_DISPATCH(RLinearPoints)(m, count, x, y, outX, outY);
}

void MobiusChainVertices(const double* first, const double* linear, const double* second,
                         Warpixator::ImgVertex* vertices, int count) {
  if (count > 0) HWY_DYNAMIC_DISPATCH(ChainVertices)(first, linear, second, vertices, count);
}

}  // namespace warpix
#endif  // HWY_ONCE
