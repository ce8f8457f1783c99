// The moving-least-squares fit of every mesh vertex, compiled once per
// vector target and chosen at run time for the processor (Highway's dynamic
// dispatch): a full vector of vertices side by side, the vertices left over
// one by one.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deform/DeformMLSKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include <cmath>
#include <vector>

#include "deform/DeformMLSKernel.h"
#include "support/SimdPack-inl.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

// The weights w_j = W(i, j)^2 of P::kLanes vertices at X, Y from the m
// originals p (flat) into weights (one run of P::kLanes per point), their sum
// and the weighted centroid p* of the originals.
template <class P>
HWY_INLINE void Weights(const double* p, int m, P X, P Y, double* weights, P& sum, P& pX, P& pY) {
  constexpr int L = P::kLanes;
  const P zero = P::Splat(0.0), one = P::Splat(1.0), epsilon = P::Splat(kWeightEpsilon);
  sum = zero;
  pX = zero;
  pY = zero;
  for (int j = 0; j < m; ++j) {
    const P px = P::Splat(p[2 * j]), py = P::Splat(p[2 * j + 1]);
    const P dx = px - X;
    const P dy = py - Y;
    const P W = one / (Sqrt(dx * dx + dy * dy) + epsilon);
    const P w = W * W;
    w.Store(weights + static_cast<size_t>(j) * L);
    sum = sum + w;
    pX = pX + w * px;
    pY = pY + w * py;
  }
  pX = pX / sum;
  pY = pY / sum;
}

// The closed-form fit for P::kLanes vertices (rest positions x, y; images to
// outX, outY) from m original points p and targets q, flat (x0, y0, x1, ...).
// weights holds m * P::kLanes scratch values.
template <class P>
void FitLanes(const double* p, const double* q, int m, bool rigid, double* weights,
              const double* x, const double* y, double* outX, double* outY) {
  constexpr int L = P::kLanes;
  const P X = P::Load(x), Y = P::Load(y);
  const P zero = P::Splat(0.0), one = P::Splat(1.0);

  // Weights, and the weighted centroids p*, q*.
  P sum, pX, pY, qX = zero, qY = zero;
  Weights<P>(p, m, X, Y, weights, sum, pX, pY);
  for (int j = 0; j < m; ++j) {
    const P w = P::Load(weights + static_cast<size_t>(j) * L);
    qX = qX + w * P::Splat(q[2 * j]);
    qY = qY + w * P::Splat(q[2 * j + 1]);
  }
  qX = qX / sum;
  qY = qY / sum;

  // a = sum_j w_j conj(p^_j) q^_j / sum_j w_j |p^_j|^2 on the centred points.
  P numRe = zero, numIm = zero, den = zero;
  for (int j = 0; j < m; ++j) {
    const P w = P::Load(weights + static_cast<size_t>(j) * L);
    const P ax = P::Splat(p[2 * j]) - pX;
    const P ay = P::Splat(p[2 * j + 1]) - pY;
    const P bx = P::Splat(q[2 * j]) - qX;
    const P by = P::Splat(q[2 * j + 1]) - qY;
    den = den + w * (ax * ax + ay * ay);
    numRe = numRe + w * (ax * bx + ay * by);
    numIm = numIm + w * (ax * by - ay * bx);
  }

  // Weights that all underflowed (control points astronomically far away)
  // define no fit: the vertex stays at rest. Coincident originals: translation
  // only. Targets collapsed onto one point: no rotation.
  const P usable = And(Greater(sum, zero), Finite(sum));
  const P determined = Greater(den, P::Splat(kMinSpread) * sum);
  P aRe = Select(determined, numRe / den, one);
  P aIm = Select(determined, numIm / den, zero);
  if (rigid) {
    const P modulus = Sqrt(aRe * aRe + aIm * aIm);
    const P rotates = Greater(modulus, P::Splat(kMinRigidScale));
    aRe = Select(rotates, aRe / modulus, one);
    aIm = Select(rotates, aIm / modulus, zero);
  }
  const P cx = X - pX;
  const P cy = Y - pY;
  Select(usable, cx * aRe - cy * aIm + qX, X).Store(outX);
  Select(usable, cx * aIm + cy * aRe + qY, Y).Store(outY);
}

// Every vertex's image; oneByOne fits them one at a time (the reference loop).
template <class P>
int FitBlocks(const double* p, const double* q, int m, bool rigid, double* weights,
              Warpixator::ImgVertex* vertices, int n, int first) {
  constexpr int kLanes = P::kLanes;
  double x[kLanes], y[kLanes], outX[kLanes], outY[kLanes];
  for (; first + kLanes <= n; first += kLanes) {
    for (int l = 0; l < kLanes; ++l) {
      x[l] = vertices[first + l].m_fRestX;
      y[l] = vertices[first + l].m_fRestY;
    }
    FitLanes<P>(p, q, m, rigid, weights, x, y, outX, outY);
    for (int l = 0; l < kLanes; ++l) {
      vertices[first + l].m_fX = outX[l];
      vertices[first + l].m_fY = outY[l];
    }
  }
  return first;
}

// The affine coefficients of P::kLanes vertices at rest positions x, y from
// the m originals p, into the runs re(j) (stride apart, point j at
// re + j * stride); usable gets all bits set where the fit is determined.
// weights holds m * P::kLanes scratch values.
template <class P>
void AffineLanes(const double* p, int m, double* weights, const double* x, const double* y,
                 double* re, size_t stride, double* usable) {
  constexpr int L = P::kLanes;
  const P X = P::Load(x), Y = P::Load(y);
  const P zero = P::Splat(0.0), one = P::Splat(1.0);
  P sum, pX, pY;
  Weights<P>(p, m, X, Y, weights, sum, pX, pY);

  // M = sum_j w_j p^_j p^_j^T = [[a, b], [b, d]].
  P a = zero, b = zero, d = zero;
  for (int j = 0; j < m; ++j) {
    const P w = P::Load(weights + static_cast<size_t>(j) * L);
    const P ax = P::Splat(p[2 * j]) - pX;
    const P ay = P::Splat(p[2 * j + 1]) - pY;
    a = a + w * (ax * ax);
    b = b + w * (ax * ay);
    d = d + w * (ay * ay);
  }
  const P det = a * d - b * b;
  const P trace = a + d;
  const P ok = And(And(Greater(sum, zero), Finite(sum)),
                   And(Greater(det, P::Splat(kMinAffineAspect2) * trace * trace), Finite(det)));
  ok.Store(usable);

  // u = (v - p*)^T M^-1; undetermined lanes get u = 0 and 1/sum = 0.
  const P vx = X - pX;
  const P vy = Y - pY;
  const P ux = Select(ok, (vx * d - vy * b) / det, zero);
  const P uy = Select(ok, (vy * a - vx * b) / det, zero);
  const P share = Select(ok, one / sum, zero);
  for (int j = 0; j < m; ++j) {
    const P w = P::Load(weights + static_cast<size_t>(j) * L);
    const P ax = P::Splat(p[2 * j]) - pX;
    const P ay = P::Splat(p[2 * j + 1]) - pY;
    const P c = w * (ux * ax + uy * ay + share);
    Select(ok, c, zero).Store(re + j * stride);
  }
}

template <class P>
int AffineBlocks(const double* p, int m, double* weights, const Warpixator::ImgVertex* vertices,
                 int n, int first, int firstIndex, double* re, std::vector<int>& undetermined) {
  constexpr int kLanes = P::kLanes;
  double x[kLanes], y[kLanes], usable[kLanes];
  for (; first + kLanes <= n; first += kLanes) {
    for (int l = 0; l < kLanes; ++l) {
      x[l] = vertices[first + l].m_fRestX;
      y[l] = vertices[first + l].m_fRestY;
    }
    AffineLanes<P>(p, m, weights, x, y, re + first, static_cast<size_t>(n), usable);
    for (int l = 0; l < kLanes; ++l) {
      if (usable[l] == 0.0) undetermined.push_back(firstIndex + first + l);
    }
  }
  return first;
}

}  // namespace

void AffineTable(const double* p, int m, const Warpixator::ImgVertex* vertices, int n,
                 int firstIndex, double* re, std::vector<int>& undetermined, bool oneByOne) {
  using Block = Twice<Pack>;
  std::vector<double> weights(static_cast<size_t>(m) * Block::kLanes);
  int first = 0;
  if (!oneByOne) {
    first = AffineBlocks<Block>(p, m, weights.data(), vertices, n, first, firstIndex, re, undetermined);
    first = AffineBlocks<Pack>(p, m, weights.data(), vertices, n, first, firstIndex, re, undetermined);
  }
  AffineBlocks<OneLane>(p, m, weights.data(), vertices, n, first, firstIndex, re, undetermined);
}

void FitVertices(const double* p, const double* q, int m, bool rigid,
                 std::vector<double>& scratch, Warpixator::ImgVertex* vertices, int n,
                 bool oneByOne) {
  // One weight per control point and lane of the widest block.
  using Block = Twice<Pack>;
  scratch.resize(static_cast<size_t>(m) * Block::kLanes);
  int first = 0;
  if (!oneByOne) {
    first = FitBlocks<Block>(p, q, m, rigid, scratch.data(), vertices, n, first);
    first = FitBlocks<Pack>(p, q, m, rigid, scratch.data(), vertices, n, first);
  }
  FitBlocks<OneLane>(p, q, m, rigid, scratch.data(), vertices, n, first);
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(FitVertices);
HWY_EXPORT(AffineTable);

void MLSFitVertices(const std::vector<double>& orig, const std::vector<double>& target, bool rigid,
                    std::vector<double>& scratch, std::vector<Warpixator::ImgVertex>& vertices,
                    bool oneByOne) {
  const int m = static_cast<int>(orig.size() / 2);
  if (m == 0 || target.size() != orig.size()) return;
  HWY_DYNAMIC_DISPATCH(FitVertices)(orig.data(), target.data(), m, rigid, scratch,
                                    vertices.data(), static_cast<int>(vertices.size()), oneByOne);
}

void MLSAffineTable(const std::vector<double>& orig, const Warpixator::ImgVertex* vertices,
                    int count, int firstIndex, CoordinateTable& table,
                    std::vector<int>& undetermined, bool oneByOne) {
  const int m = static_cast<int>(orig.size() / 2);
  if (m == 0 || table.Points() != m || table.Vertices() != count ||
      table.GetKind() != CoordinateTable::Kind::kReal) {
    return;
  }
  HWY_DYNAMIC_DISPATCH(AffineTable)(orig.data(), m, vertices, count, firstIndex, table.Re(0), undetermined,
                                    oneByOne);
}

}  // namespace warpix
#endif  // HWY_ONCE
