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
HWY_INLINE Pack Equal(Pack a, Pack b) { return {hn::VecFromMask(Pack::D(), hn::Eq(a.m_V, b.m_V))}; }
HWY_INLINE Pack GreaterEqual(Pack a, Pack b) {
  return {hn::VecFromMask(Pack::D(), hn::Ge(a.m_V, b.m_V))};
}
HWY_INLINE Pack Greater(Pack a, Pack b) { return {hn::VecFromMask(Pack::D(), hn::Gt(a.m_V, b.m_V))}; }
/// All bits set where the lane is neither infinite nor not a number.
HWY_INLINE Pack Finite(Pack a) { return {hn::VecFromMask(Pack::D(), hn::IsFinite(a.m_V))}; }
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
};
HWY_INLINE OneLane operator+(OneLane a, OneLane b) { return {a.m_V + b.m_V}; }
HWY_INLINE OneLane operator-(OneLane a, OneLane b) { return {a.m_V - b.m_V}; }
HWY_INLINE OneLane operator*(OneLane a, OneLane b) { return {a.m_V * b.m_V}; }
HWY_INLINE OneLane operator/(OneLane a, OneLane b) { return {a.m_V / b.m_V}; }
HWY_INLINE OneLane Sqrt(OneLane a) { return {std::sqrt(a.m_V)}; }
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

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#endif  // WARPIX_SIMD_PACK_INL_H_
