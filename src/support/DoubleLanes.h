#pragma once

// Small packs of doubles for the vertex loops of the deformation kernels.
// Every lane performs the operations of a one-value loop in the same order,
// so the results equal that loop's bit for bit, while the square roots and
// divisions of several values share one vector instruction. SSE2 where the
// target has it; otherwise plain arrays with the same interface (masks then
// hold 1.0 where true and 0.0 where false).

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace warpix {

#if defined(__SSE2__)
/// Two doubles side by side.
struct Lanes2 {
  static constexpr int kLanes = 2;
  __m128d m_V;
  static Lanes2 Load(const double* v) { return {_mm_loadu_pd(v)}; }
  static Lanes2 Splat(double v) { return {_mm_set1_pd(v)}; }
  void Store(double* v) const { _mm_storeu_pd(v, m_V); }
  /// A lane mask (all bits set where true) as a bit per lane.
  int Bits() const { return _mm_movemask_pd(m_V); }
};
inline Lanes2 operator+(Lanes2 a, Lanes2 b) { return {_mm_add_pd(a.m_V, b.m_V)}; }
inline Lanes2 operator-(Lanes2 a, Lanes2 b) { return {_mm_sub_pd(a.m_V, b.m_V)}; }
inline Lanes2 operator*(Lanes2 a, Lanes2 b) { return {_mm_mul_pd(a.m_V, b.m_V)}; }
inline Lanes2 operator/(Lanes2 a, Lanes2 b) { return {_mm_div_pd(a.m_V, b.m_V)}; }
inline Lanes2 Sqrt(Lanes2 a) { return {_mm_sqrt_pd(a.m_V)}; }
inline Lanes2 Equal(Lanes2 a, Lanes2 b) { return {_mm_cmpeq_pd(a.m_V, b.m_V)}; }
inline Lanes2 GreaterEqual(Lanes2 a, Lanes2 b) { return {_mm_cmpge_pd(a.m_V, b.m_V)}; }
inline Lanes2 Or(Lanes2 a, Lanes2 b) { return {_mm_or_pd(a.m_V, b.m_V)}; }
/// mask ? a : b, lane by lane.
inline Lanes2 Select(Lanes2 mask, Lanes2 a, Lanes2 b) {
  return {_mm_or_pd(_mm_and_pd(mask.m_V, a.m_V), _mm_andnot_pd(mask.m_V, b.m_V))};
}
#else
struct Lanes2 {
  static constexpr int kLanes = 2;
  double m_V[2];
  static Lanes2 Load(const double* v) { return {{v[0], v[1]}}; }
  static Lanes2 Splat(double v) { return {{v, v}}; }
  void Store(double* v) const {
    v[0] = m_V[0];
    v[1] = m_V[1];
  }
  int Bits() const { return (m_V[0] != 0.0) | (m_V[1] != 0.0) << 1; }
};
#define WARPIX_LANES_OP(name, expr)             \
  inline Lanes2 name(Lanes2 a, Lanes2 b) {      \
    for (int l = 0; l < 2; ++l) {               \
      const double x = a.m_V[l], y = b.m_V[l];  \
      a.m_V[l] = (expr);                        \
    }                                           \
    return a;                                   \
  }
WARPIX_LANES_OP(operator+, x + y)
WARPIX_LANES_OP(operator-, x - y)
WARPIX_LANES_OP(operator*, x * y)
WARPIX_LANES_OP(operator/, x / y)
WARPIX_LANES_OP(Equal, x == y ? 1.0 : 0.0)
WARPIX_LANES_OP(GreaterEqual, x >= y ? 1.0 : 0.0)
WARPIX_LANES_OP(Or, (x != 0.0 || y != 0.0) ? 1.0 : 0.0)
#undef WARPIX_LANES_OP
inline Lanes2 Sqrt(Lanes2 a) {
  for (int l = 0; l < 2; ++l) a.m_V[l] = std::sqrt(a.m_V[l]);
  return a;
}
inline Lanes2 Select(Lanes2 mask, Lanes2 a, Lanes2 b) {
  for (int l = 0; l < 2; ++l) a.m_V[l] = mask.m_V[l] != 0.0 ? a.m_V[l] : b.m_V[l];
  return a;
}
#endif

/// Four doubles as two pairs (arithmetic only).
struct Lanes4 {
  static constexpr int kLanes = 4;
  Lanes2 m_Lo, m_Hi;
  static Lanes4 Load(const double* v) { return {Lanes2::Load(v), Lanes2::Load(v + 2)}; }
  static Lanes4 Splat(double v) { return {Lanes2::Splat(v), Lanes2::Splat(v)}; }
  void Store(double* v) const {
    m_Lo.Store(v);
    m_Hi.Store(v + 2);
  }
};
inline Lanes4 operator+(Lanes4 a, Lanes4 b) { return {a.m_Lo + b.m_Lo, a.m_Hi + b.m_Hi}; }
inline Lanes4 operator-(Lanes4 a, Lanes4 b) { return {a.m_Lo - b.m_Lo, a.m_Hi - b.m_Hi}; }
inline Lanes4 operator*(Lanes4 a, Lanes4 b) { return {a.m_Lo * b.m_Lo, a.m_Hi * b.m_Hi}; }
inline Lanes4 operator/(Lanes4 a, Lanes4 b) { return {a.m_Lo / b.m_Lo, a.m_Hi / b.m_Hi}; }
inline Lanes4 Sqrt(Lanes4 a) { return {Sqrt(a.m_Lo), Sqrt(a.m_Hi)}; }

/// One double in the same shape, for the values left over.
struct Lanes1 {
  static constexpr int kLanes = 1;
  double m_V;
  static Lanes1 Load(const double* v) { return {*v}; }
  static Lanes1 Splat(double v) { return {v}; }
  void Store(double* v) const { *v = m_V; }
};
inline Lanes1 operator+(Lanes1 a, Lanes1 b) { return {a.m_V + b.m_V}; }
inline Lanes1 operator-(Lanes1 a, Lanes1 b) { return {a.m_V - b.m_V}; }
inline Lanes1 operator*(Lanes1 a, Lanes1 b) { return {a.m_V * b.m_V}; }
inline Lanes1 operator/(Lanes1 a, Lanes1 b) { return {a.m_V / b.m_V}; }
inline Lanes1 Sqrt(Lanes1 a) { return {std::sqrt(a.m_V)}; }

}  // namespace warpix
