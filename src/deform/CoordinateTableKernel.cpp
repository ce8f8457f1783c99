// The product of a coordinate table with the targets, compiled once per vector
// target and chosen at run time for the processor (Highway's dynamic
// dispatch): a full vector of vertices side by side, the vertices left over
// one by one.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deform/CoordinateTableKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include <vector>

#include "deform/CoordinateTable.h"
#include "support/SimdPack-inl.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

// The coefficient runs of one block: point j's coefficients for the block's
// first vertex at re + j * stride (and im + j * stride).
struct Block {
  const double* re;
  const double* im;  // null for a real table
  size_t stride;
};

// P::kLanes images from m targets q (flat pairs) into outX, outY.
template <class P>
HWY_INLINE void CombineLanes(const Block& block, int m, const double* q, double* outX,
                             double* outY) {
  P x = P::Splat(0.0), y = P::Splat(0.0);
  if (block.im == nullptr) {
    for (int j = 0; j < m; ++j) {
      const P c = P::Load(block.re + j * block.stride);
      x = x + c * P::Splat(q[2 * j]);
      y = y + c * P::Splat(q[2 * j + 1]);
    }
  } else {
    for (int j = 0; j < m; ++j) {
      const P re = P::Load(block.re + j * block.stride);
      const P im = P::Load(block.im + j * block.stride);
      const P qx = P::Splat(q[2 * j]), qy = P::Splat(q[2 * j + 1]);
      x = x + (re * qx - im * qy);
      y = y + (re * qy + im * qx);
    }
  }
  x.Store(outX);
  y.Store(outY);
}

template <class P>
int ApplyBlocks(const double* re, const double* im, size_t n, int m, const double* q,
                Warpixator::ImgVertex* vertices, int first) {
  constexpr int kLanes = P::kLanes;
  double outX[kLanes], outY[kLanes];
  for (; first + kLanes <= static_cast<int>(n); first += kLanes) {
    const Block block{re + first, im != nullptr ? im + first : nullptr, n};
    CombineLanes<P>(block, m, q, outX, outY);
    for (int l = 0; l < kLanes; ++l) {
      vertices[first + l].m_fX = outX[l];
      vertices[first + l].m_fY = outY[l];
    }
  }
  return first;
}

}  // namespace

void ApplyTable(const double* re, const double* im, int n, int m, const double* q,
                Warpixator::ImgVertex* vertices, bool oneByOne) {
  int first = 0;
  if (!oneByOne) {
    first = ApplyBlocks<Twice<Pack>>(re, im, n, m, q, vertices, first);
    first = ApplyBlocks<Pack>(re, im, n, m, q, vertices, first);
  }
  ApplyBlocks<OneLane>(re, im, n, m, q, vertices, first);
}

void CombineOne(int m, const double* re, const double* im, const double* q, double* outX,
                double* outY) {
  const Block block{re, im, 1};
  CombineLanes<OneLane>(block, m, q, outX, outY);
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(ApplyTable);
HWY_EXPORT(CombineOne);

void CoordinateTable::Reset(int vertices, int points, Kind kind) {
  m_iVertices = vertices > 0 ? vertices : 0;
  m_iPoints = points > 0 ? points : 0;
  m_Kind = kind;
  const size_t size = static_cast<size_t>(m_iVertices) * m_iPoints;
  m_Re.assign(size, 0.0);
  if (kind == Kind::kComplex) {
    m_Im.assign(size, 0.0);
  } else {
    m_Im.clear();
    m_Im.shrink_to_fit();
  }
}

void CoordinateTable::Clear() {
  m_iVertices = m_iPoints = 0;
  m_Re.clear();
  m_Re.shrink_to_fit();
  m_Im.clear();
  m_Im.shrink_to_fit();
}

double CoordinateTable::Bytes(double vertices, double points, Kind kind) {
  return vertices * points * sizeof(double) * (kind == Kind::kComplex ? 2.0 : 1.0);
}

void CoordinateTable::Apply(const double* targets, std::vector<Warpixator::ImgVertex>& vertices,
                            bool oneByOne) const {
  Apply(targets, vertices.data(), static_cast<int>(vertices.size()), oneByOne);
}

void CoordinateTable::Apply(const double* targets, Warpixator::ImgVertex* vertices, int count,
                            bool oneByOne) const {
  if (Empty() || count != m_iVertices) return;
  HWY_DYNAMIC_DISPATCH(ApplyTable)(m_Re.data(), m_Kind == Kind::kComplex ? m_Im.data() : nullptr,
                                   m_iVertices, m_iPoints, targets, vertices, oneByOne);
}

void CoordinateTable::Combine(int points, const double* re, const double* im,
                              const double* targets, double& outX, double& outY) {
  HWY_DYNAMIC_DISPATCH(CombineOne)(points, re, im, targets, &outX, &outY);
}

}  // namespace warpix
#endif  // HWY_ONCE
