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

// The chain for P::kLanes vertices: pairs of rest coordinates in rest,
// their current positions in pos, which take the results that are finite.
template <class P>
HWY_INLINE void ChainLanes(const double* first, const double* linear, const double* second,
                           const double* rest, double* pos) {
  P x, y, oldX, oldY, re, im;
  P::LoadPairs(rest, x, y);
  P::LoadPairs(pos, oldX, oldY);
  Mobius(first, x, y, re, im);
  if (linear != nullptr) RLinear(linear, re, im, re, im);
  Mobius(second, re, im, re, im);
  const P finite = And(Finite(re), Finite(im));
  P::StorePairs(Select(finite, re, oldX), Select(finite, im, oldY), pos);
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
  // Chunks of vertices through buffers that stay in the first-level cache,
  // each coordinate pair copied whole: the vertices are read and written in
  // one pass, and the vector loads do not wait on the scalar stores that
  // filled them.
  using Block = Twice<Pack>;
  constexpr int kChunk = 256;
  constexpr size_t kPair = 2 * sizeof(double);
  static_assert(offsetof(Warpixator::ImgVertex, m_fY) == offsetof(Warpixator::ImgVertex, m_fX) + sizeof(double) &&
                    offsetof(Warpixator::ImgVertex, m_fRestY) == offsetof(Warpixator::ImgVertex, m_fRestX) + sizeof(double),
                "each coordinate pair is copied whole");
  HWY_ALIGN double rest[2 * kChunk], pos[2 * kChunk];
  for (int start = 0; start < count; start += kChunk) {
    unsigned char* const v = reinterpret_cast<unsigned char*>(vertices + start);
    const int n = count - start < kChunk ? count - start : kChunk;
    for (int k = 0; k < n; ++k) {
      unsigned char* const vertex = v + k * sizeof(Warpixator::ImgVertex);
      std::memcpy(rest + 2 * k, vertex + offsetof(Warpixator::ImgVertex, m_fRestX), kPair);
      std::memcpy(pos + 2 * k, vertex + offsetof(Warpixator::ImgVertex, m_fX), kPair);
    }
    int k = 0;
    for (; k + Block::kLanes <= n; k += Block::kLanes)
      ChainLanes<Block>(first, linear, second, rest + 2 * k, pos + 2 * k);
    for (; k < n; ++k) ChainLanes<OneLane>(first, linear, second, rest + 2 * k, pos + 2 * k);
    for (k = 0; k < n; ++k)
      std::memcpy(v + k * sizeof(Warpixator::ImgVertex) + offsetof(Warpixator::ImgVertex, m_fX), pos + 2 * k, kPair);
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
