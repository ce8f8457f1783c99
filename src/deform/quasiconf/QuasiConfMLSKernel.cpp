// The weighted n-gon fits of operator 4, compiled once per vector target and
// chosen at run time for the processor (Highway's dynamic dispatch): a full
// vector of vertices side by side, the vertices left over one by one.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deform/quasiconf/QuasiConfMLSKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "deform/quasiconf/QuasiConfDetail.h"
#include "deform/quasiconf/QuasiConfMLSKernel.h"
#include "support/SimdPack-inl.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

// Entries of the upper triangle of a Hermitian 6 x 6 matrix, diagonal
// included, as (re, im) pairs: the per-point terms of the normal matrix.
constexpr int kTerms = 2 * 21;
// Sweeps after which the Jacobi iteration gives up (it needs five to seven).
constexpr int kMaxSweeps = 20;
// An off-diagonal entry whose square is below this times the squares of its
// two diagonal entries, or of the trace, needs no rotation: rotating it
// would move the eigenvectors by less than the rounding of the normal matrix.
constexpr double kNegligible = 1e-34;
// The eigenvalue sweeps stop where every off-diagonal entry is below 1e-9 of
// its diagonal entries (its square below this times theirs): the sweep of
// one-sided rotations on the system's columns that follows takes the two
// smallest eigenvectors the rest of the way (it converges quadratically).
// Against the library route this keeps the same margin as sweeping to the
// end; stopping at 1e-7.5 already loses it on pairs of points 1e-4 apart.
constexpr double kConverged = 1e-18;

template <class P>
struct Cx {
  P re, im;
};
template <class P>
HWY_INLINE Cx<P> operator+(Cx<P> a, Cx<P> b) { return {a.re + b.re, a.im + b.im}; }
template <class P>
HWY_INLINE Cx<P> operator-(Cx<P> a, Cx<P> b) { return {a.re - b.re, a.im - b.im}; }
template <class P>
HWY_INLINE Cx<P> operator*(Cx<P> a, Cx<P> b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
template <class P>
HWY_INLINE P Norm2(Cx<P> a) { return a.re * a.re + a.im * a.im; }
// a / b; an exactly zero divisor gives 0, as the complex type's quotient.
template <class P>
HWY_INLINE Cx<P> Div(Cx<P> a, Cx<P> b) {
  const P zero = P::Splat(0.0);
  const P denom = Norm2(b);
  const P zeroDivisor = Equal(denom, zero);
  return {Select(zeroDivisor, zero, (a.re * b.re + a.im * b.im) / denom),
          Select(zeroDivisor, zero, (a.im * b.re - a.re * b.im) / denom)};
}
// The principal square root, without cancellation on either half plane.
template <class P>
HWY_INLINE Cx<P> SqrtCx(Cx<P> a) {
  const P zero = P::Splat(0.0), half = P::Splat(0.5);
  const P absRe = Select(GreaterEqual(a.re, zero), a.re, Neg(a.re));
  const P absIm = Select(GreaterEqual(a.im, zero), a.im, Neg(a.im));
  const P s = Sqrt(half * (Sqrt(Norm2(a)) + absRe));
  const P other = Select(Equal(s, zero), zero, absIm / (s + s));
  const P upper = GreaterEqual(a.im, zero);
  const P right = GreaterEqual(a.re, zero);
  return {Select(right, s, other),
          Select(right, Select(upper, other, Neg(other)), Select(upper, s, Neg(s)))};
}
// (m0 z + m1) / (m2 z + m3).
template <class P>
HWY_INLINE Cx<P> MobiusCx(const Cx<P>* m, Cx<P> z) {
  return Div(m[0] * z + m[1], m[2] * z + m[3]);
}

// The lanes where mask is false (a true lane is all bits set in a vector and
// 1 in one lane, neither of which equals zero).
template <class P>
HWY_INLINE P Not(P mask) {
  return Equal(mask, P::Splat(0.0));
}

// The Jacobi rotation [[c, sigma], [-conj(sigma), c]] that diagonalises
// the Hermitian pair [[a, b], [conj(b), d]] (sigma = sr + i si), and the
// shift t |b| that takes a to a - t |b| and d to d + t |b|; the identity
// (and no shift) where skip is set. With h = (d - a) / 2, s = sqrt(h^2 +
// |b|^2) and e = |h| + s: t = |b| / e, c = 1 / sqrt(1 + t^2) =
// sqrt(e / 2s), |sigma| = c t, and t |b| = |b|^2 / e = s - |h| (one
// division in all).
template <class P>
HWY_INLINE void Rotation(P a, P d, P br, P bi, P skip, P& c, P& sr, P& si, P& shift) {
  const P zero = P::Splat(0.0), one = P::Splat(1.0);
  const P r2 = br * br + bi * bi;
  const P h = P::Splat(0.5) * (d - a);
  const P absH = Select(GreaterEqual(h, zero), h, Neg(h));
  const P root = Sqrt(h * h + r2);
  const P e = absH + root;
  // sigma / b = c / e = 1 / sqrt(2 s e).
  const P scale = Select(skip, zero, one / Sqrt(Select(skip, one, P::Splat(2.0) * root * e)));
  c = Select(skip, one, e * scale);
  const P up = GreaterEqual(h, zero);
  const P rho = Select(up, scale, Neg(scale));
  const P t = Select(skip, zero, root - absH);
  shift = Select(up, t, Neg(t));
  sr = rho * br;
  si = rho * bi;
}

// Columns p and q of a matrix times the rotation: p c - q conj(sigma),
// p sigma + q c.
template <class P>
HWY_INLINE void RotateColumns(P& pr, P& pi, P& qr, P& qi, P c, P sr, P si) {
  const P r = pr, i = pi;
  pr = c * r - (sr * qr + si * qi);
  pi = c * i - (sr * qi - si * qr);
  qr = (sr * r - si * i) + c * qr;
  qi = (sr * i + si * r) + c * qi;
}

// Lane l of the block's rows (stride doubles apart) into lane-major order:
// out[e * P::kLanes + l] = base[l * stride + e] for the first width values of
// each row, so that the kernels read whole vectors instead of one value per
// lane.
template <class P>
HWY_INLINE void Transpose(const double* base, int stride, int width, double* out) {
  constexpr int L = P::kLanes;
  for (int l = 0; l < L; ++l) {
    const double* row = base + static_cast<size_t>(l) * stride;
    for (int e = 0; e < width; ++e) out[e * L + l] = row[e];
  }
}

// Calls f(std::integral_constant<int, I>) for I = 0 .. N-1: loops whose
// index picks storage are resolved at compile time.
template <int N, class F, int... I>
HWY_INLINE void StaticForImpl(F&& f, std::integer_sequence<int, I...>) {
  (f(std::integral_constant<int, I>()), ...);
}
template <int N, class F>
HWY_INLINE void StaticFor(F&& f) {
  StaticForImpl<N>(f, std::make_integer_sequence<int, N>());
}

// Entries (i, p) and (i, q) of the Hermitian M, held by its upper triangle
// (an entry below the diagonal is the conjugate of its mirror), times the
// rotation: (i, p) c - (i, q) conj(sigma), (i, p) sigma + (i, q) c. The
// conjugated forms are the same products with the signs moved, so no entry
// is negated and the lower triangle is never written.
template <int i, int p, int q, class P>
HWY_INLINE void RotateRow(P (&mr)[6][6], P (&mi)[6][6], P c, P sr, P si) {
  if constexpr (i < p) {
    RotateColumns(mr[i][p], mi[i][p], mr[i][q], mi[i][q], c, sr, si);
  } else if constexpr (i < q) {
    // x = conj(X) with X = M[p][i]; y = M[i][q].
    P& Xr = mr[p][i];
    P& Xi = mi[p][i];
    P& yr = mr[i][q];
    P& yi = mi[i][q];
    const P r = Xr, im = Xi;
    Xr = c * r - (sr * yr + si * yi);
    Xi = c * im - (si * yr - sr * yi);
    yr = (sr * r + si * im) + c * yr;
    yi = (si * r - sr * im) + c * yi;
  } else {
    // x = conj(M[p][i]), y = conj(M[q][i]): the rotation by conj(sigma)
    // conjugated.
    RotateColumns(mr[p][i], mi[p][i], mr[q][i], mi[q][i], c, sr, Neg(si));
  }
}

// Cyclic Jacobi sweeps on the Hermitian M (its upper triangle) until every
// lane has converged, accumulating the rotations into V. A rotation whose
// off-diagonal entry is negligible next to its two diagonal entries is
// exactly the identity, so a lane that has converged is left unchanged by
// the sweeps its neighbours still need.
template <class P>
HWY_INLINE void Diagonalise(P (&mr)[6][6], P (&mi)[6][6], P (&vr)[6][6], P (&vi)[6][6]) {
  const P zero = P::Splat(0.0);
  const P tiny = P::Splat(kConverged);
  P trace = zero;
  for (int a = 0; a < 6; ++a) trace = trace + mr[a][a];
  const P floor = tiny * trace * trace;
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    // A sweep that rotates nothing in any lane has converged: the next one
    // would find the same entries.
    bool rotated = false;
    StaticFor<5>([&](auto pc) {
      constexpr int p = decltype(pc)::value;
      StaticFor<5 - p>([&](auto qc) {
        constexpr int q = p + 1 + decltype(qc)::value;
        const P a = mr[p][p], d = mr[q][q], br = mr[p][q], bi = mi[p][q];
        // (A lane whose entries are not numbers never rotates: its fit fails.)
        const P skip = Not(Greater(br * br + bi * bi, tiny * (a * a + d * d) + floor));
        if (Not(skip).Bits() == 0) return;  // the identity in every lane
        rotated = true;
        P c, sr, si, shift;
        Rotation(a, d, br, bi, skip, c, sr, si, shift);
        // Columns p and q of V, and of M outside the pair.
        for (int i = 0; i < 6; ++i) RotateColumns(vr[i][p], vi[i][p], vr[i][q], vi[i][q], c, sr, si);
        StaticFor<6>([&](auto ic) {
          constexpr int i = decltype(ic)::value;
          if constexpr (i != p && i != q) RotateRow<i, p, q>(mr, mi, c, sr, si);
        });
        // The pair itself becomes diagonal: a - t |b|, d + t |b|.
        mr[p][p] = a - shift;
        mr[q][q] = d + shift;
        mr[p][q] = Select(skip, br, zero), mi[p][q] = Select(skip, bi, zero);
      });
    });
    if (!rotated) break;
  }
}

// The weighted n-gon fit of P::kLanes vertices: the normal matrix from the
// point terms and the lanes' weights (n per vertex, stride n), its two
// smallest eigenvectors u, v by cyclic Jacobi rotations, and the member of
// their span that the quadratic condition x2 x5 = x3 x4 and the smaller
// shear select, as in the library route. Returns the lanes whose Mobius
// matrix is regular.
// terms: the n points' normal-matrix terms in the basis (a unitary 6 x 6,
// row-major complex), then their rows (6 complex each) in the standard one;
// weights: lane-major (point j of lane l at j wstride + l);
// columns: scratch of 12 n P::kLanes doubles (the system times V).
template <class P>
HWY_INLINE P FitLanes(const double* terms, const double* basis, int n, const double* weights, int wstride,
                      double* columns, Cx<P>* zm) {
  constexpr int L = P::kLanes;
  const double* rows = terms + static_cast<size_t>(n) * kTerms;
  const P zero = P::Splat(0.0);
  // The squared weights first (in the columns' scratch, free until the
  // columns are formed), then each entry summed over the points in
  // registers.
  for (int j = 0; j < n; ++j) {
    const P w = P::Load(weights + j * wstride);
    (w * w).Store(columns + j * L);
  }
  P mr[6][6], mi[6][6];
  for (int a = 0, e = 0; a < 6; ++a) {
    for (int b = a; b < 6; ++b, e += 2) {
      P re = zero, im = zero;
      for (int j = 0; j < n; ++j) {
        const P s = P::Load(columns + j * L);
        const double* term = terms + static_cast<size_t>(j) * kTerms + e;
        re = re + s * P::Splat(term[0]);
        im = im + s * P::Splat(term[1]);
      }
      mr[a][b] = re, mi[a][b] = im;
    }
  }
  for (int a = 0; a < 6; ++a) mi[a][a] = zero;  // the upper triangle is all Diagonalise reads
  P vr[6][6], vi[6][6];
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 6; ++b)
      vr[a][b] = P::Splat(basis[2 * (6 * a + b)]), vi[a][b] = P::Splat(basis[2 * (6 * a + b) + 1]);

  Diagonalise(mr, mi, vr, vi);

  // The eigenvectors in ascending order of their eigenvalues (a sorting
  // network of compare-exchanges, lane by lane).
  static constexpr int kNetwork[12][2] = {{1, 2}, {4, 5}, {0, 2}, {3, 5}, {0, 1}, {3, 4},
                                          {2, 5}, {0, 3}, {1, 4}, {2, 4}, {1, 3}, {2, 3}};
  P lambda[6];
  for (int a = 0; a < 6; ++a) lambda[a] = mr[a][a];
  for (const auto& pair : kNetwork) {
    const int p = pair[0], q = pair[1];
    const P swap = Greater(lambda[p], lambda[q]);
    const P lp = lambda[p];
    lambda[p] = Select(swap, lambda[q], lp);
    lambda[q] = Select(swap, lp, lambda[q]);
    for (int i = 0; i < 6; ++i) {
      const P r = vr[i][p], im = vi[i][p];
      vr[i][p] = Select(swap, vr[i][q], r), vr[i][q] = Select(swap, r, vr[i][q]);
      vi[i][p] = Select(swap, vi[i][q], im), vi[i][q] = Select(swap, im, vi[i][q]);
    }
  }

  // The normal matrix has squared the condition of the system: one sweep of
  // one-sided rotations on the system's columns B = A V between the two
  // smallest and the others restores the accuracy of a direct singular value
  // decomposition (V is already nearly right, so one sweep converges).
  for (int j = 0; j < n; ++j) {
    const P w = P::Load(weights + j * wstride);
    const double* row = rows + 12 * j;
    for (int a = 0; a < 6; ++a) {
      P re = zero, im = zero;
      for (int e = 0; e < 6; ++e) {
        const P xr = P::Splat(row[2 * e]), xi = P::Splat(row[2 * e + 1]);
        re = re + (xr * vr[e][a] - xi * vi[e][a]);
        im = im + (xr * vi[e][a] + xi * vr[e][a]);
      }
      (w * re).Store(columns + (2 * (6 * j + a)) * L);
      (w * im).Store(columns + (2 * (6 * j + a) + 1) * L);
    }
  }
  // The pairs in order: (0, 2) .. (0, 5), then (1, 2) .. (1, 5). The pass
  // that rotates one pair's columns also sums the next pair's products from
  // the values it has just written (or loads them), so each pair costs one
  // pass over the points.
  P alpha = zero, beta = zero, gr = zero, gi = zero;
  for (int j = 0; j < n; ++j) {
    const P pr = P::Load(columns + (12 * j) * L), pi = P::Load(columns + (12 * j + 1) * L);
    const P qr = P::Load(columns + (12 * j + 4) * L), qi = P::Load(columns + (12 * j + 5) * L);
    alpha = alpha + (pr * pr + pi * pi);
    beta = beta + (qr * qr + qi * qi);
    gr = gr + (pr * qr + pi * qi);
    gi = gi + (pr * qi - pi * qr);
  }
  StaticFor<8>([&](auto pairc) {
    constexpr int k = decltype(pairc)::value;
    constexpr int p = k / 4, q = 2 + k % 4;
    constexpr int np = (k + 1) / 4, nq = 2 + (k + 1) % 4;
    constexpr bool last = k == 7;
    const P skip = GreaterEqual(P::Splat(kNegligible) * alpha * beta, gr * gr + gi * gi);
    P c, sr, si, shift;
    Rotation(alpha, beta, gr, gi, skip, c, sr, si, shift);
    P nextAlpha = zero, nextBeta = zero, nextGr = zero, nextGi = zero;
    // The last pair only turns V: no column is read after it. Column p is
    // read again while it stays the next pair's p, and column q only by the
    // pairs of column 1 (a column the pairs of 1 have turned is done).
    for (int j = 0; j < n && !last; ++j) {
      double* bp = columns + (2 * (6 * j + p)) * L;
      double* bq = columns + (2 * (6 * j + q)) * L;
      P pr = P::Load(bp), pi = P::Load(bp + L), qr = P::Load(bq), qi = P::Load(bq + L);
      RotateColumns(pr, pi, qr, qi, c, sr, si);
      if constexpr (np == p) pr.Store(bp), pi.Store(bp + L);
      if constexpr (p == 0) qr.Store(bq), qi.Store(bq + L);
      if constexpr (!last) {
        // The next pair's columns: p stays or moves to 1; q is never the
        // column just rotated as q.
        P ar, ai;
        if constexpr (np == p) {
          ar = pr, ai = pi;
        } else {
          ar = P::Load(columns + (2 * (6 * j + np)) * L), ai = P::Load(columns + (2 * (6 * j + np) + 1) * L);
        }
        P br, bi;
        if constexpr (nq == q) {
          br = qr, bi = qi;
        } else {
          br = P::Load(columns + (2 * (6 * j + nq)) * L), bi = P::Load(columns + (2 * (6 * j + nq) + 1) * L);
        }
        nextAlpha = nextAlpha + (ar * ar + ai * ai);
        nextBeta = nextBeta + (br * br + bi * bi);
        nextGr = nextGr + (ar * br + ai * bi);
        nextGi = nextGi + (ar * bi - ai * br);
      }
    }
    for (int i = 0; i < 6; ++i) RotateColumns(vr[i][p], vi[i][p], vr[i][q], vi[i][q], c, sr, si);
    alpha = nextAlpha, beta = nextBeta, gr = nextGr, gi = nextGi;
  });
  // v the smallest, u the next (the library's order of the last two).
  Cx<P> v[6], u[6];
  for (int i = 0; i < 6; ++i) v[i] = {vr[i][0], vi[i][0]}, u[i] = {vr[i][1], vi[i][1]};

  // x = u + lambda v with x2 x5 - x3 x4 = 0, the two roots; an exactly zero
  // leading coefficient gives lambda = 0.
  const Cx<P> A = v[2] * v[5] - v[3] * v[4];
  const Cx<P> B = ((u[2] * v[5] + v[2] * u[5]) - u[3] * v[4]) - v[3] * u[4];
  const Cx<P> C = u[2] * u[5] - u[3] * u[4];
  const Cx<P> four = {P::Splat(4.0), zero};
  const Cx<P> root = SqrtCx(B * B - four * A * C);
  const Cx<P> twoA = A + A;
  const Cx<P> minusB = {Neg(B.re), Neg(B.im)};
  const Cx<P> lambda1 = Div(minusB + root, twoA), lambda2 = Div(minusB - root, twoA);
  Cx<P> x1[6], x2[6];
  for (int i = 0; i < 6; ++i) x1[i] = lambda1 * v[i] + u[i], x2[i] = lambda2 * v[i] + u[i];
  // The less sheared n-gon, |x5 / x3| the smaller; the second on a tie.
  const P mu1 = Norm2(Div(x1[5], x1[3])), mu2 = Norm2(Div(x2[5], x2[3]));
  const P second = GreaterEqual(mu1, mu2);
  P norm2 = zero, finite = Equal(zero, zero);
  for (int i = 0; i < 4; ++i) {
    zm[i] = {Select(second, x2[i].re, x1[i].re), Select(second, x2[i].im, x1[i].im)};
    finite = And(finite, And(Finite(zm[i].re), Finite(zm[i].im)));
    norm2 = norm2 + Norm2(zm[i]);
  }
  const P det = Sqrt(Norm2(zm[0] * zm[3] - zm[1] * zm[2]));
  return And(finite, And(Greater(norm2, zero),
                         GreaterEqual(det, P::Splat(quasiconf_detail::kMinMobiusDeterminant) * norm2)));
}

// Lanes whose n points are not all finite or lie within the aspect limit of
// a line (the complex type's flatness test); point k of the lanes has its
// real parts at z + 2 k P::kLanes and its imaginary parts after them.
template <class P>
HWY_INLINE P FlatLanes(const double* z, int n) {
  constexpr int L = P::kLanes;
  const P zero = P::Splat(0.0);
  P cx = zero, cy = zero, finite = Equal(zero, zero);
  for (int k = 0; k < n; ++k) {
    const P re = P::Load(z + 2 * k * L), im = P::Load(z + (2 * k + 1) * L);
    finite = And(finite, And(Finite(re), Finite(im)));
    cx = cx + re;
    cy = cy + im;
  }
  const P count = P::Splat(static_cast<double>(n));
  cx = cx / count;
  cy = cy / count;
  P sxx = zero, sxy = zero, syy = zero;
  for (int k = 0; k < n; ++k) {
    const P dx = P::Load(z + 2 * k * L) - cx, dy = P::Load(z + (2 * k + 1) * L) - cy;
    sxx = sxx + dx * dx;
    sxy = sxy + dx * dy;
    syy = syy + dy * dy;
  }
  const P trace = sxx + syy;
  const P det = sxx * syy - sxy * sxy;
  const P aspect2 = P::Splat(quasiconf_detail::kMinAspect * quasiconf_detail::kMinAspect);
  const P flat = Or(GreaterEqual(zero, trace), GreaterEqual(aspect2 * trace * trace, det));
  return Or(flat, Not(finite));
}

template <class P>
HWY_INLINE void FitBlock(const double* terms, const double* basis, int n, const double* weights, double* scratch,
                         double* zm, unsigned char* ok) {
  double* lanes = scratch + 12 * n * P::kLanes;
  Transpose<P>(weights, n, n, lanes);
  Cx<P> m[4];
  const int regular = FitLanes<P>(terms, basis, n, lanes, P::kLanes, scratch, m).Bits();
  for (int e = 0; e < 4; ++e) {
    HWY_ALIGN double re[P::kLanes], im[P::kLanes];
    m[e].re.Store(re);
    m[e].im.Store(im);
    for (int l = 0; l < P::kLanes; ++l) zm[8 * l + 2 * e] = re[l], zm[8 * l + 2 * e + 1] = im[l];
  }
  for (int l = 0; l < P::kLanes; ++l) ok[l] = (regular >> l) & 1;
}

// weights, coeffs: the block's first vertex in the grouped layout, its
// values kVertexGroup doubles apart; scratch: kScratch n P::kLanes doubles.
template <class P>
HWY_INLINE void MapBlock(const double* terms, const double* basis, const double* t, int n, const double* weights,
                         const double* local, const double* coeffs, double* scratch, double* out,
                         unsigned char* ok) {
  constexpr int L = P::kLanes;
  constexpr int G = kVertexGroup;
  double* tq = scratch + 12 * n * L;
  const P zero = P::Splat(0.0);
  Cx<P> m[4];
  const P regular = FitLanes<P>(terms, basis, n, weights, G, scratch, m);
  // The targets normalised by each lane's fit, and the fit coefficients.
  Cx<P> c[3] = {{zero, zero}, {zero, zero}, {zero, zero}};
  for (int j = 0; j < n; ++j) {
    const Cx<P> q = MobiusCx(m, Cx<P>{P::Splat(t[2 * j]), P::Splat(t[2 * j + 1])});
    q.re.Store(tq + 2 * j * P::kLanes);
    q.im.Store(tq + (2 * j + 1) * P::kLanes);
    for (int r = 0; r < 3; ++r) {
      const double* e = coeffs + 2 * (r + 3 * j) * G;
      c[r] = c[r] + Cx<P>{P::Load(e), P::Load(e + G)} * q;
    }
  }
  const P flat = FlatLanes<P>(tq, n);
  P zr, zi;
  P::LoadPairs(local, zr, zi);
  const Cx<P> z = {zr, zi};
  const Cx<P> zBar = {z.re, Neg(z.im)};
  const Cx<P> zFit = (c[0] + c[1] * z) + c[2] * zBar;
  // The inverse map through the adjugate (a Mobius matrix counts up to a factor).
  const Cx<P> inverse[4] = {m[3], {Neg(m[1].re), Neg(m[1].im)}, {Neg(m[2].re), Neg(m[2].im)}, m[0]};
  const Cx<P> w = MobiusCx(inverse, zFit);
  const P good = And(And(regular, Not(flat)), And(Finite(w.re), Finite(w.im)));
  const int bits = good.Bits();
  HWY_ALIGN double re[P::kLanes], im[P::kLanes];
  w.re.Store(re);
  w.im.Store(im);
  for (int l = 0; l < P::kLanes; ++l) {
    ok[l] = (bits >> l) & 1;
    if (ok[l]) out[2 * l] = re[l], out[2 * l + 1] = im[l];
  }
}

// Rewrites the terms (n points) into the eigenvector basis of their plain
// sum, the normal matrix of equal weights, into basis: each vertex's own
// normal matrix is then nearly diagonal and its rotations converge sooner.
std::vector<double> Precondition(double* terms, int n) {
  OneLane mr[6][6], mi[6][6], vr[6][6], vi[6][6];
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 6; ++b) mr[a][b].m_V = mi[a][b].m_V = 0.0, vr[a][b].m_V = a == b, vi[a][b].m_V = 0.0;
  for (int j = 0; j < n; ++j) {
    const double* term = terms + static_cast<size_t>(j) * kTerms;
    for (int a = 0, e = 0; a < 6; ++a)
      for (int b = a; b < 6; ++b, e += 2) mr[a][b].m_V += term[e], mi[a][b].m_V += term[e + 1];
  }
  for (int a = 0; a < 6; ++a) {
    mi[a][a].m_V = 0.0;
    for (int b = a + 1; b < 6; ++b) mr[b][a].m_V = mr[a][b].m_V, mi[b][a].m_V = -mi[a][b].m_V;
  }
  Diagonalise(mr, mi, vr, vi);
  std::vector<double> basis(72);
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 6; ++b) basis[2 * (6 * a + b)] = vr[a][b].m_V, basis[2 * (6 * a + b) + 1] = vi[a][b].m_V;
  // Each point's row r times the basis, and the terms of that row.
  const double* rows = terms + static_cast<size_t>(n) * kTerms;
  for (int j = 0; j < n; ++j) {
    double xr[6], xi[6];
    for (int b = 0; b < 6; ++b) {
      xr[b] = xi[b] = 0.0;
      for (int a = 0; a < 6; ++a) {
        const double rr = rows[12 * j + 2 * a], ri = rows[12 * j + 2 * a + 1];
        xr[b] += rr * vr[a][b].m_V - ri * vi[a][b].m_V;
        xi[b] += rr * vi[a][b].m_V + ri * vr[a][b].m_V;
      }
    }
    double* term = terms + static_cast<size_t>(j) * kTerms;
    for (int a = 0, e = 0; a < 6; ++a) {
      for (int b = a; b < 6; ++b, e += 2) {
        term[e] = xr[a] * xr[b] + xi[a] * xi[b];
        term[e + 1] = xr[a] * xi[b] - xi[a] * xr[b];
      }
    }
  }
  return basis;
}

// Two vectors side by side: the rotations wait on divisions and square
// roots, and two independent chains keep the units busy.
using Block = Twice<Pack>;

// Scratch per point and lane: the system times V (12), the normalised
// targets (2) and the weights (1), lane-major.
constexpr int kScratch = 15;
static_assert(kVertexGroup % Block::kLanes == 0, "a block never straddles two groups");

// Runs block(k) on every whole block of count vertices; the vertices left
// over share one last block with the vertices before them (whose results
// are written again, unchanged: no lane depends on another), and only a
// count below one block goes vertex by vertex (one(k)).
template <class BlockFn, class OneFn>
HWY_INLINE void ForBlocks(int count, BlockFn block, OneFn one) {
  int k = 0;
  for (; k + Block::kLanes <= count; k += Block::kLanes) block(k);
  if (k == count) return;
  if (count >= Block::kLanes) {
    block(count - Block::kLanes);
    return;
  }
  for (; k < count; ++k) one(k);
}

}  // namespace

void FitVertices(double* terms, int n, const double* weights, int count, double* zm,
                 unsigned char* ok) {
  const std::vector<double> basis = Precondition(terms, n);
  std::vector<double> scratch(static_cast<size_t>(kScratch) * n * Block::kLanes);
  ForBlocks(
      count,
      [&](int k) {
        FitBlock<Block>(terms, basis.data(), n, weights + static_cast<size_t>(k) * n, scratch.data(), zm + 8 * k,
                        ok + k);
      },
      [&](int k) {
        FitBlock<OneLane>(terms, basis.data(), n, weights + static_cast<size_t>(k) * n, scratch.data(),
                          zm + 8 * k, ok + k);
      });
}

void MapVertices(double* terms, const double* t, int n, const double* weights,
                 const double* local, const double* coeffs, int count, double* out,
                 unsigned char* ok) {
  constexpr int G = kVertexGroup;
  constexpr int L = Block::kLanes;
  const std::vector<double> basis = Precondition(terms, n);
  std::vector<double> scratch(static_cast<size_t>(kScratch) * n * L);
  auto grouped = [&](const double* values, int per, int k) {
    return values + static_cast<size_t>(k / G) * per * G + k % G;
  };
  int k = 0;
  for (; k + L <= count; k += L) {
    MapBlock<Block>(terms, basis.data(), t, n, grouped(weights, n, k), local + 2 * k, grouped(coeffs, 6 * n, k),
                    scratch.data(), out + 2 * k, ok + k);
  }
  if (k == count) return;
  // The last vertices fill a block with copies of the last one, as their
  // groups do (no lane depends on another).
  const int rest = count - k;
  double tailLocal[2 * L], tailOut[2 * L];
  unsigned char tailOk[L];
  for (int l = 0; l < L; ++l) {
    const int v = k + std::min(l, rest - 1);
    tailLocal[2 * l] = local[2 * v], tailLocal[2 * l + 1] = local[2 * v + 1];
  }
  MapBlock<Block>(terms, basis.data(), t, n, grouped(weights, n, k), tailLocal, grouped(coeffs, 6 * n, k),
                  scratch.data(), tailOut, tailOk);
  for (int l = 0; l < rest; ++l) {
    ok[k + l] = tailOk[l];
    if (tailOk[l]) out[2 * (k + l)] = tailOut[2 * l], out[2 * (k + l) + 1] = tailOut[2 * l + 1];
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(FitVertices);
HWY_EXPORT(MapVertices);

std::vector<double> GroupByVertex(const double* values, int per, int count) {
  constexpr int G = kVertexGroup;
  const int groups = (count + G - 1) / G;
  std::vector<double> grouped(static_cast<size_t>(groups) * G * per);
  for (int g = 0; g < groups; ++g) {
    double* base = &grouped[static_cast<size_t>(g) * G * per];
    for (int l = 0; l < G; ++l) {
      const double* row = values + static_cast<size_t>(std::min(g * G + l, count - 1)) * per;
      for (int e = 0; e < per; ++e) base[static_cast<size_t>(e) * G + l] = row[e];
    }
  }
  return grouped;
}

namespace {

// The per-point terms conj(r_a) r_b (a <= b) of the rows
// r = (z, 1, -z g, -g, -conj(g) z, -conj(g)) of the regular n-gon fit, 42
// doubles per point, then the rows themselves, 12 doubles per point.
std::vector<double> RowTerms(const double* zxy, int n) {
  std::vector<double> terms(static_cast<size_t>(n) * (42 + 12));
  for (int j = 0; j < n; ++j) {
    const LinAlgComplex z(zxy[2 * j], zxy[2 * j + 1]);
    const LinAlgComplex g = LinAlgComplex(0.0, j * (quasiconf_detail::kTwoPi / n)).Exp();
    const LinAlgComplex gBar = g.Conjugate();
    const LinAlgComplex r[6] = {z, LinAlgComplex(1.0, 0.0), -(z * g), -g, -(gBar * z), -gBar};
    double* term = &terms[static_cast<size_t>(j) * 42];
    for (int a = 0; a < 6; ++a) {
      terms[static_cast<size_t>(n) * 42 + 12 * j + 2 * a] = r[a].m_fRe;
      terms[static_cast<size_t>(n) * 42 + 12 * j + 2 * a + 1] = r[a].m_fIm;
    }
    for (int a = 0, e = 0; a < 6; ++a) {
      for (int b = a; b < 6; ++b, e += 2) {
        const LinAlgComplex p = r[a].Conjugate() * r[b];
        term[e] = p.m_fRe;
        term[e + 1] = p.m_fIm;
      }
    }
  }
  return terms;
}

}  // namespace

void NgonFitVertices(const double* zxy, int n, const double* weights, int count, double* zm,
                     unsigned char* ok) {
  if (count <= 0 || n < 4) return;
  std::vector<double> terms = RowTerms(zxy, n);
  HWY_DYNAMIC_DISPATCH(FitVertices)(terms.data(), n, weights, count, zm, ok);
}

void MLSFitVertices(const double* t, int n, const double* weights, const double* local,
                    const double* coeffs, int count, double* out, unsigned char* ok) {
  if (count <= 0 || n < 4) return;
  std::vector<double> terms = RowTerms(t, n);
  HWY_DYNAMIC_DISPATCH(MapVertices)(terms.data(), t, n, weights, local, coeffs, count, out, ok);
}

}  // namespace warpix
#endif  // HWY_ONCE
