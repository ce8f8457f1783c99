// Packs of doubles for the per-vertex kernels, at the full vector width of
// the Highway target being compiled (included once per target by a kernel
// file that includes hwy/foreach_target.h, after hwy/highway.h).
// Every lane performs the operations of the one-value loop in the same order
// and the kernels are compiled without contraction into fused multiply-adds,
// so each lane's result equals that loop's bit for bit. OneLane has the same
// interface on one plain double: the remainders and the reference loop.
#if defined(WARPIX_SIMD_PACK_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef WARPIX_SIMD_PACK_INL_H_
#undef WARPIX_SIMD_PACK_INL_H_
#else
#define WARPIX_SIMD_PACK_INL_H_
#endif

#include <cmath>
#include <cstdint>
#include <cstring>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

/// All the lanes of one vector of doubles. Masks are carried as vectors
/// (all bits set where true), so that they combine like values.
struct Pack {
#if HWY_HAVE_SCALABLE
  // Vectors whose length is known only at run time: their first 128 bits,
  // which every such vector has, so that blocks have a fixed size.
  using D = hn::FixedTag<double, 2>;
  static constexpr int kLanes = 2;
#else
  using D = hn::ScalableTag<double>;
  static constexpr int kLanes = static_cast<int>(HWY_LANES(double));
#endif
  using V = hn::Vec<D>;
  V m_V;
  static HWY_INLINE Pack Load(const double* v) { return {hn::LoadU(D(), v)}; }
  static HWY_INLINE Pack Splat(double v) { return {hn::Set(D(), v)}; }
  HWY_INLINE void Store(double* v) const { hn::StoreU(m_V, D(), v); }
  /// Pairs (x0, y0, x1, y1, ...) into x and y, and back.
  static HWY_INLINE void LoadPairs(const double* xy, Pack& x, Pack& y) {
    hn::LoadInterleaved2(D(), xy, x.m_V, y.m_V);
  }
  static HWY_INLINE void StorePairs(Pack x, Pack y, double* xy) {
    hn::StoreInterleaved2(x.m_V, y.m_V, D(), xy);
  }
  /// A mask as a bit per lane (lane 0 in bit 0).
  HWY_INLINE int Bits() const {
    uint8_t bits[8] = {0};
    hn::StoreMaskBits(D(), hn::MaskFromVec(m_V), bits);
    return bits[0];
  }
};
HWY_INLINE Pack operator+(Pack a, Pack b) { return {hn::Add(a.m_V, b.m_V)}; }
HWY_INLINE Pack operator-(Pack a, Pack b) { return {hn::Sub(a.m_V, b.m_V)}; }
HWY_INLINE Pack operator*(Pack a, Pack b) { return {hn::Mul(a.m_V, b.m_V)}; }
HWY_INLINE Pack operator/(Pack a, Pack b) { return {hn::Div(a.m_V, b.m_V)}; }
HWY_INLINE Pack Sqrt(Pack a) { return {hn::Sqrt(a.m_V)}; }
HWY_INLINE Pack Neg(Pack a) { return {hn::Neg(a.m_V)}; }
/// Splits a positive normal a into 2^k m with m in [1, 2): the exponent field
/// read as a double through the bits of 2^52 + field, and the fraction under
/// the exponent of 1. Both are exact.
HWY_INLINE void SplitExponent(Pack a, Pack& k, Pack& m) {
  const hn::RebindToUnsigned<Pack::D> du;
  const auto bits = hn::BitCast(du, a.m_V);
  const auto field = hn::Or(hn::ShiftRight<52>(bits), hn::Set(du, 0x4330000000000000ull));
  k.m_V = hn::Sub(hn::BitCast(Pack::D(), field), hn::Set(Pack::D(), 4503599627371519.0));
  const auto fraction = hn::And(bits, hn::Set(du, 0x000FFFFFFFFFFFFFull));
  m.m_V = hn::BitCast(Pack::D(), hn::Or(fraction, hn::Set(du, 0x3FF0000000000000ull)));
}
HWY_INLINE Pack Equal(Pack a, Pack b) { return {hn::VecFromMask(Pack::D(), hn::Eq(a.m_V, b.m_V))}; }
HWY_INLINE Pack GreaterEqual(Pack a, Pack b) {
  return {hn::VecFromMask(Pack::D(), hn::Ge(a.m_V, b.m_V))};
}
HWY_INLINE Pack Greater(Pack a, Pack b) { return {hn::VecFromMask(Pack::D(), hn::Gt(a.m_V, b.m_V))}; }
/// All bits set where the lane is neither infinite nor not a number: where
/// a - a is 0 (it is not a number otherwise). One subtraction and one
/// comparison on every target; the targets without 64-bit integer
/// comparisons would otherwise emulate the exponent test.
HWY_INLINE Pack Finite(Pack a) {
  return {hn::VecFromMask(Pack::D(), hn::Eq(hn::Sub(a.m_V, a.m_V), hn::Zero(Pack::D())))};
}
HWY_INLINE Pack Or(Pack a, Pack b) { return {hn::Or(a.m_V, b.m_V)}; }
HWY_INLINE Pack And(Pack a, Pack b) { return {hn::And(a.m_V, b.m_V)}; }
/// mask ? a : b, lane by lane.
HWY_INLINE Pack Select(Pack mask, Pack a, Pack b) {
  return {hn::IfThenElse(hn::MaskFromVec(mask.m_V), a.m_V, b.m_V)};
}

/// Two packs side by side: twice the independent work per step, for kernels
/// whose steps wait on long divisions and square roots.
template <class P>
struct Twice {
  static constexpr int kLanes = 2 * P::kLanes;
  P m_Lo, m_Hi;
  static HWY_INLINE Twice Load(const double* v) { return {P::Load(v), P::Load(v + P::kLanes)}; }
  static HWY_INLINE Twice Splat(double v) { return {P::Splat(v), P::Splat(v)}; }
  HWY_INLINE void Store(double* v) const {
    m_Lo.Store(v);
    m_Hi.Store(v + P::kLanes);
  }
  HWY_INLINE int Bits() const { return m_Lo.Bits() | m_Hi.Bits() << P::kLanes; }
  static HWY_INLINE void LoadPairs(const double* xy, Twice& x, Twice& y) {
    P::LoadPairs(xy, x.m_Lo, y.m_Lo);
    P::LoadPairs(xy + 2 * P::kLanes, x.m_Hi, y.m_Hi);
  }
  static HWY_INLINE void StorePairs(Twice x, Twice y, double* xy) {
    P::StorePairs(x.m_Lo, y.m_Lo, xy);
    P::StorePairs(x.m_Hi, y.m_Hi, xy + 2 * P::kLanes);
  }
};
#define WARPIX_TWICE_OP(name)                                                 \
  template <class P>                                                          \
  HWY_INLINE Twice<P> name(Twice<P> a, Twice<P> b) {                          \
    return {name(a.m_Lo, b.m_Lo), name(a.m_Hi, b.m_Hi)};                      \
  }
template <class P>
HWY_INLINE Twice<P> operator+(Twice<P> a, Twice<P> b) { return {a.m_Lo + b.m_Lo, a.m_Hi + b.m_Hi}; }
template <class P>
HWY_INLINE Twice<P> operator-(Twice<P> a, Twice<P> b) { return {a.m_Lo - b.m_Lo, a.m_Hi - b.m_Hi}; }
template <class P>
HWY_INLINE Twice<P> operator*(Twice<P> a, Twice<P> b) { return {a.m_Lo * b.m_Lo, a.m_Hi * b.m_Hi}; }
template <class P>
HWY_INLINE Twice<P> operator/(Twice<P> a, Twice<P> b) { return {a.m_Lo / b.m_Lo, a.m_Hi / b.m_Hi}; }
WARPIX_TWICE_OP(Equal)
WARPIX_TWICE_OP(GreaterEqual)
WARPIX_TWICE_OP(Greater)
WARPIX_TWICE_OP(Or)
WARPIX_TWICE_OP(And)
#undef WARPIX_TWICE_OP
template <class P>
HWY_INLINE Twice<P> Sqrt(Twice<P> a) { return {Sqrt(a.m_Lo), Sqrt(a.m_Hi)}; }
template <class P>
HWY_INLINE Twice<P> Finite(Twice<P> a) { return {Finite(a.m_Lo), Finite(a.m_Hi)}; }
template <class P>
HWY_INLINE Twice<P> Neg(Twice<P> a) { return {Neg(a.m_Lo), Neg(a.m_Hi)}; }
template <class P>
HWY_INLINE void SplitExponent(Twice<P> a, Twice<P>& k, Twice<P>& m) {
  SplitExponent(a.m_Lo, k.m_Lo, m.m_Lo);
  SplitExponent(a.m_Hi, k.m_Hi, m.m_Hi);
}
template <class P>
HWY_INLINE Twice<P> Select(Twice<P> mask, Twice<P> a, Twice<P> b) {
  return {Select(mask.m_Lo, a.m_Lo, b.m_Lo), Select(mask.m_Hi, a.m_Hi, b.m_Hi)};
}

/// One double with the same interface (masks hold 1.0 where true).
struct OneLane {
  static constexpr int kLanes = 1;
  double m_V;
  static HWY_INLINE OneLane Load(const double* v) { return {*v}; }
  static HWY_INLINE OneLane Splat(double v) { return {v}; }
  HWY_INLINE void Store(double* v) const { *v = m_V; }
  HWY_INLINE int Bits() const { return m_V != 0.0 ? 1 : 0; }
  static HWY_INLINE void LoadPairs(const double* xy, OneLane& x, OneLane& y) {
    x.m_V = xy[0];
    y.m_V = xy[1];
  }
  static HWY_INLINE void StorePairs(OneLane x, OneLane y, double* xy) {
    xy[0] = x.m_V;
    xy[1] = y.m_V;
  }
};
HWY_INLINE OneLane operator+(OneLane a, OneLane b) { return {a.m_V + b.m_V}; }
HWY_INLINE OneLane operator-(OneLane a, OneLane b) { return {a.m_V - b.m_V}; }
HWY_INLINE OneLane operator*(OneLane a, OneLane b) { return {a.m_V * b.m_V}; }
HWY_INLINE OneLane operator/(OneLane a, OneLane b) { return {a.m_V / b.m_V}; }
HWY_INLINE OneLane Sqrt(OneLane a) { return {std::sqrt(a.m_V)}; }
HWY_INLINE OneLane Neg(OneLane a) { return {-a.m_V}; }
HWY_INLINE void SplitExponent(OneLane a, OneLane& k, OneLane& m) {
  uint64_t bits;
  std::memcpy(&bits, &a.m_V, sizeof bits);
  const uint64_t field = (bits >> 52) | 0x4330000000000000ull;
  const uint64_t fraction = (bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull;
  std::memcpy(&k.m_V, &field, sizeof field);
  k.m_V -= 4503599627371519.0;
  std::memcpy(&m.m_V, &fraction, sizeof fraction);
}
HWY_INLINE OneLane Equal(OneLane a, OneLane b) { return {a.m_V == b.m_V ? 1.0 : 0.0}; }
HWY_INLINE OneLane GreaterEqual(OneLane a, OneLane b) { return {a.m_V >= b.m_V ? 1.0 : 0.0}; }
HWY_INLINE OneLane Greater(OneLane a, OneLane b) { return {a.m_V > b.m_V ? 1.0 : 0.0}; }
HWY_INLINE OneLane Finite(OneLane a) { return {std::isfinite(a.m_V) ? 1.0 : 0.0}; }
HWY_INLINE OneLane And(OneLane a, OneLane b) {
  return {(a.m_V != 0.0 && b.m_V != 0.0) ? 1.0 : 0.0};
}
HWY_INLINE OneLane Or(OneLane a, OneLane b) {
  return {(a.m_V != 0.0 || b.m_V != 0.0) ? 1.0 : 0.0};
}
HWY_INLINE OneLane Select(OneLane mask, OneLane a, OneLane b) {
  return {mask.m_V != 0.0 ? a.m_V : b.m_V};
}


/// The natural logarithm of each lane of a positive a (+infinity and
/// not-a-number lanes are returned as they are; zero and negative lanes give
/// meaningless values), to within one unit in the last place. The reduction
/// a = 2^k m with m in [sqrt(2)/2, sqrt(2)) and the polynomial in
/// s = (m - 1) / (m + 1) are the classic ones of the C libraries; written
/// with plain operations, so that every pack type, on every target, gives
/// the same bits (a library's vector logarithm uses fused multiply-adds
/// where the processor has them and rounds differently).
template <class P>
HWY_INLINE P LogPositive(P a) {
  const P zero = P::Splat(0.0), one = P::Splat(1.0);
  // Subnormal lanes are scaled into the normal range first.
  const P subnormal = Greater(P::Splat(2.2250738585072014e-308), a);
  P k, m;
  SplitExponent(Select(subnormal, a * P::Splat(18014398509481984.0), a), k, m);
  k = k - Select(subnormal, P::Splat(54.0), zero);
  // Thresholds on the fraction's leading 20 bits: m is halved from 0x6a09c
  // (about sqrt 2) on, and the form with half of f squared is the more
  // accurate one from 0x6147a to 0x6b851, on either side of that.
  const double bit = 1.0 / 1048576.0;
  const P halve = GreaterEqual(m, P::Splat(1.0 + 0x6a09c * bit));
  const P wide = And(GreaterEqual(m, P::Splat(1.0 + 0x6147a * bit)), Greater(P::Splat(1.0 + 0x6b852 * bit), m));
  m = Select(halve, m * P::Splat(0.5), m);
  k = k + Select(halve, one, zero);
  const P f = m - one;
  const P s = f / (P::Splat(2.0) + f);
  const P z = s * s, w = z * z;
  const P t1 = w * (P::Splat(3.999999999940941908e-01) +
                    w * (P::Splat(2.222219843214978396e-01) + w * P::Splat(1.531383769920937332e-01)));
  const P t2 = z * (P::Splat(6.666666666666735130e-01) +
                    w * (P::Splat(2.857142874366239149e-01) +
                         w * (P::Splat(1.818357216161805012e-01) + w * P::Splat(1.479819860511658591e-01))));
  const P r = t2 + t1;
  const P ln2Hi = P::Splat(6.93147180369123816490e-01), ln2Lo = P::Splat(1.90821492927058770002e-10);
  const P hfsq = P::Splat(0.5) * f * f;
  const P plain = k * ln2Hi - ((s * (f - r) - k * ln2Lo) - f);
  const P halfSquare = k * ln2Hi - ((hfsq - (s * (hfsq + r) + k * ln2Lo)) - f);
  return Select(Finite(a), Select(wide, halfSquare, plain), a);
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#endif  // WARPIX_SIMD_PACK_INL_H_
