#include "deform/quasiconf/QuasiConfGlobalMap.h"

#include <algorithm>
#include <cmath>

#include "deform/DeformMeanValueCoords.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "deform/quasiconf/QuasiConfDetail.h"
#include "deform/quasiconf/QuasiConfKernel.h"
#include "support/WarpixAssert.h"

using namespace quasiconf_detail;

namespace {

// Bytes of the Mobius normalisation of n points (operators 0, 2, 3): the
// n x n left singular vectors of its n x 6 system.
double MobiusTableBytes(double n) { return n * n * sizeof(LinAlgComplex); }

}  // namespace

QuasiConfGlobalMap::QuasiConfGlobalMap()
    : m_MobiusOrig(2, 2), m_MobiusNew(2, 2), m_LinearMap(2, 2, 0.0), m_PreparedOrig(2, 2) {
  SetIdentity(m_MobiusOrig);
  SetIdentity(m_MobiusNew);
  SetIdentity(m_LinearMap);
  SetIdentity(m_PreparedOrig);
}

int QuasiConfGlobalMap::MinimumPoints(const DeformQuasiConf& q) const {
  return q.m_IntermediateOp == DeformQuasiConf::OP_AFFINE_QUAD ? 4 : 3;
}

void QuasiConfGlobalMap::Reset() {
  SetIdentity(m_MobiusOrig);
  SetIdentity(m_MobiusNew);
  SetIdentity(m_LinearMap);
  SetIdentity(m_PreparedOrig);
  m_MVCSource.clear();
  m_MVCTarget.clear();
  m_bPrepared = false;
  m_bAtOriginals = false;
}

// ---------------------------------------------------------------------------
// Preparation and deformation

bool QuasiConfGlobalMap::Prepare(DeformQuasiConf& q) {
  const int n = q.NumControlPoints();
  m_bPrepared = false;
  if (q.m_IntermediateOp == DeformQuasiConf::OP_AFFINE_QUAD) {
    if (n >= 4) {
      m_bPrepared = DeformQuasiConf::MapQuadrupletToParallelogram(q.m_ControlPointsOrigPos,
                                                                  m_PreparedOrig);
      if (!m_bPrepared) {
        q.WarnSingular("the first four control points span no parallelogram (coincident, "
                       "collinear or concyclic in crossed order)");
      }
    }
    return m_bPrepared;
  }
  // The targets' normalisation in Deform is as large; it runs only after a
  // preparation.
  const DeformQuasiConf::IntermediateOperator kind = q.m_IntermediateOp;
  const char* op = kind == DeformQuasiConf::OP_MEAN_VAL_COORDS      ? "2 (MeanValCoords)"
                   : kind == DeformQuasiConf::OP_THIN_PLATE_SPLINES ? "3 (ThinPlateSplines)"
                                                                    : "0";
  if (n >= 3 && q.FitsTableLimit(MobiusTableBytes(n), TableOwner(op, 0, n).c_str(),
                                 "not prepared, the last good deformation is kept")) {
    m_bPrepared =
        DeformQuasiConf::NMobiusPointAffineMap(q.m_ControlPointsOrigPos, m_PreparedOrig);
    if (!m_bPrepared) {
      q.WarnSingular("the control points give no Mobius normalisation (coincident)");
    }
  }
  return m_bPrepared;
}

bool QuasiConfGlobalMap::Fit(DeformQuasiConf& q) {
  const int n = q.NumControlPoints();
  const bool affine = q.m_IntermediateOp == DeformQuasiConf::OP_AFFINE_QUAD;
  LinAlgMatrixComplex mobiusNew(2, 2);
  const bool fitted =
      affine ? DeformQuasiConf::MapQuadrupletToParallelogram(q.m_ControlPointsNewPos, mobiusNew)
             : DeformQuasiConf::NMobiusPointAffineMap(q.m_ControlPointsNewPos, mobiusNew);
  if (!fitted) return false;

  LinAlgVectorComplex orig(n), target(n), src(n), dst(n);
  ToComplex(q.m_ControlPointsOrigPos, orig);
  ToComplex(q.m_ControlPointsNewPos, target);
  DeformQuasiConf::CORR_apply_mobius_as_matrix(m_PreparedOrig, orig, src);
  DeformQuasiConf::CORR_apply_mobius_as_matrix(mobiusNew, target, dst);
  if (!mobiusNew.Inverse()) return false;

  // Each operator fit checks before it writes, so a refused fit changes nothing.
  if (affine) {
    if (!FillAffineOn4Pnt(src, dst)) return false;
  } else if (q.m_IntermediateOp == DeformQuasiConf::OP_MEAN_VAL_COORDS) {
    // A flat normalised polygon has no usable coordinates anywhere off it;
    // a flat target polygon would fold the whole picture onto one curve.
    if (IsFlat(&src(0), n) || IsFlat(&dst(0), n)) return false;
    FillNPointInterpMVC(src, dst);
  }
  m_MobiusOrig = m_PreparedOrig;
  m_MobiusNew = mobiusNew;
  m_bAtOriginals = q.m_ControlPointsNewPos == q.m_ControlPointsOrigPos;
  return true;
}

bool QuasiConfGlobalMap::Deform(DeformQuasiConf& q) {
  ++q.m_iNumDeforms;
  q.m_Profiler.startedProcess("DeformQuad");
  if (q.NumControlPoints() < MinimumPoints(q) || !m_bPrepared) {
    q.m_Profiler.finishedProcess("DeformQuad", false);
    return false;
  }
  q.ReportFit(Fit(q), q.m_IntermediateOp == DeformQuasiConf::OP_AFFINE_QUAD
                          ? "the targets span no parallelogram (coincident, collinear or concyclic "
                            "in crossed order)"
                          : "the targets give no Mobius normalisation (coincident or collinear)");
  q.m_Profiler.finishedProcess("DeformQuad", false);
  return true;
}

// ---------------------------------------------------------------------------
// Point and mesh maps

void QuasiConfGlobalMap::MapPoint(DeformQuasiConf& q, double x, double y, double& outX,
                                  double& outY) {
  if (m_bAtOriginals) {
    // Nothing moved: every point stays exactly where it is.
    outX = x;
    outY = y;
    return;
  }
  q.m_Profiler.startedProcess("DeformQuad");
  LinAlgComplex w = DeformQuasiConf::MobiusTransform(m_MobiusOrig, LinAlgComplex(x, y));
  switch (q.m_IntermediateOp) {
    case DeformQuasiConf::OP_NONE:
    case DeformQuasiConf::OP_THIN_PLATE_SPLINES:
      break;
    case DeformQuasiConf::OP_MEAN_VAL_COORDS:
      w = MVCTransform(w);
      break;
    case DeformQuasiConf::OP_AFFINE_QUAD:
      w = LinearTransform(w);
      break;
    default:
      WARPIX_ASSERT(false);
  }
  w = DeformQuasiConf::MobiusTransform(m_MobiusNew, w);
  outX = w.m_fRe;
  outY = w.m_fIm;
  q.m_Profiler.finishedProcess("DeformQuad", false);
}

void QuasiConfGlobalMap::FlatMaps(double* orig, double* inverse) {
  const LinAlgComplex origElements[4] = {m_MobiusOrig(0, 0), m_MobiusOrig(0, 1),
                                         m_MobiusOrig(1, 0), m_MobiusOrig(1, 1)};
  const LinAlgComplex inverseElements[4] = {m_MobiusNew(0, 0), m_MobiusNew(0, 1),
                                            m_MobiusNew(1, 0), m_MobiusNew(1, 1)};
  FlatMobius(origElements, orig);
  FlatMobius(inverseElements, inverse);
}

void QuasiConfGlobalMap::MapMeshVertices(DeformQuasiConf& q) {
  if (m_bAtOriginals) {
    q.RestoreRestMesh();
    return;
  }
  // MapPoint's arithmetic for all vertices at once, at the vector width,
  // without its per-point timing: Morig, the operator, then Mnew^-1. A
  // vertex that would not be finite keeps its place.
  double orig[8], inverse[8];
  FlatMaps(orig, inverse);
  if (q.m_IntermediateOp == DeformQuasiConf::OP_MEAN_VAL_COORDS && m_MVCSource.size() >= 6 &&
      m_MVCSource.size() == m_MVCTarget.size()) {
    MapVerticesByMVC(q, orig, inverse);
    return;
  }
  // One pass over the vertices; the operator is R-linear or the identity.
  const double linear[4] = {m_LinearMap(0, 0), m_LinearMap(0, 1), m_LinearMap(1, 0),
                            m_LinearMap(1, 1)};
  const bool affine = q.m_IntermediateOp == DeformQuasiConf::OP_AFFINE_QUAD;
  warpix::MobiusChainVertices(orig, affine ? linear : nullptr, inverse, q.m_Vertices.data(),
                              static_cast<int>(q.m_Vertices.size()));
}

void QuasiConfGlobalMap::MapPoints(DeformQuasiConf& q, int count, const double* x,
                                   const double* y, double* outX, double* outY) {
  if (count <= 0) return;
  if (m_bAtOriginals) {
    for (int k = 0; k < count; ++k) {
      if (std::isfinite(x[k]) && std::isfinite(y[k])) outX[k] = x[k], outY[k] = y[k];
    }
    return;
  }
  if (q.m_IntermediateOp == DeformQuasiConf::OP_MEAN_VAL_COORDS) {
    // The vector mean value coordinates round differently from the
    // one-point ones: MapPoint point by point, finite images only.
    for (int k = 0; k < count; ++k) {
      double px = 0.0, py = 0.0;
      MapPoint(q, x[k], y[k], px, py);
      if (std::isfinite(px) && std::isfinite(py)) outX[k] = px, outY[k] = py;
    }
    return;
  }
  double orig[8], inverse[8];
  FlatMaps(orig, inverse);
  const size_t n = static_cast<size_t>(count);
  m_Scratch.resize(4 * n);
  double* const wx = m_Scratch.data();
  double* const wy = wx + n;
  double* const ox = wx + 2 * n;
  double* const oy = wx + 3 * n;
  warpix::MobiusMapPoints(orig, count, x, y, wx, wy);
  if (q.m_IntermediateOp == DeformQuasiConf::OP_AFFINE_QUAD) {
    const double linear[4] = {m_LinearMap(0, 0), m_LinearMap(0, 1), m_LinearMap(1, 0),
                              m_LinearMap(1, 1)};
    warpix::RLinearMapPoints(linear, count, wx, wy, ox, oy);
  } else {
    std::copy(wx, wx + 2 * n, ox);
  }
  warpix::MobiusMapPoints(inverse, count, ox, oy, ox, oy);
  for (size_t k = 0; k < n; ++k) {
    if (std::isfinite(ox[k]) && std::isfinite(oy[k])) {
      outX[k] = ox[k];
      outY[k] = oy[k];
    }
  }
}

void QuasiConfGlobalMap::MapVerticesByMVC(DeformQuasiConf& q, const double* orig,
                                          const double* inverse) {
  std::vector<DeformQuasiConf::ImgVertex>& vertices = q.m_Vertices;
  const size_t count = vertices.size();
  const int n = static_cast<int>(count);
  m_Scratch.resize(4 * count);
  double* const wx = m_Scratch.data();
  double* const wy = wx + count;
  double* const ox = wx + 2 * count;
  double* const oy = wx + 3 * count;
  for (size_t k = 0; k < count; ++k) {
    ox[k] = vertices[k].m_fRestX;
    oy[k] = vertices[k].m_fRestY;
  }
  warpix::MobiusMapPoints(orig, n, ox, oy, wx, wy);
  DeformMeanValueCoords::MapPolygonPoints(m_MVCSource, m_MVCTarget, n, wx, wy, ox, oy);
  warpix::MobiusMapPoints(inverse, n, ox, oy, ox, oy);
  for (size_t k = 0; k < count; ++k) {
    if (std::isfinite(ox[k]) && std::isfinite(oy[k])) {
      vertices[k].m_fX = ox[k];
      vertices[k].m_fY = oy[k];
    }
  }
}

// ---------------------------------------------------------------------------
// Intermediate operators

bool QuasiConfGlobalMap::FillAffineOn4Pnt(LinAlgVectorComplex& tZ, LinAlgVectorComplex& tW) {
  WARPIX_ASSERT(tZ.Rows()==tW.Rows());
  if (tZ.Rows() <= 3) return true;
  const LinAlgComplex A = tZ(1) - tZ(0), B = tZ(2) - tZ(1);
  const LinAlgComplex C = tW(1) - tW(0), D = tW(2) - tW(1);

  // det [[A, conj A], [B, conj B]] = 2i Im(A conj B): zero when the first
  // three normalised originals are collinear.
  const double det = std::fabs((A * B.Conjugate()).m_fIm);
  const double norm2 = A.Power() * A.Power() + B.Power() * B.Power();
  if (!(det >= kMinAspect * norm2)) return false;

  LinAlgMatrixComplex system(2, 2);
  system(0, 0) = A;
  system(0, 1) = A.Conjugate();
  system(1, 0) = B;
  system(1, 1) = B.Conjugate();
  if (!system.Inverse()) return false;
  LinAlgVectorComplex rhs(2), ab(2);
  rhs(0) = C;
  rhs(1) = D;
  system.Multiply(rhs, ab);
  for (int i = 0; i < 2; ++i) {
    if (!std::isfinite(ab(i).m_fRe) || !std::isfinite(ab(i).m_fIm)) return false;
  }
  m_LinearMap(0, 0) = ab(0).m_fRe;
  m_LinearMap(0, 1) = ab(0).m_fIm;
  m_LinearMap(1, 0) = ab(1).m_fRe;
  m_LinearMap(1, 1) = ab(1).m_fIm;
  return true;
}

LinAlgComplex QuasiConfGlobalMap::LinearTransform(LinAlgComplex z) {
  const LinAlgComplex alpha(m_LinearMap(0, 0), m_LinearMap(0, 1));
  const LinAlgComplex beta(m_LinearMap(1, 0), m_LinearMap(1, 1));
  return alpha * z + beta * z.Conjugate();
}

void QuasiConfGlobalMap::FillNPointInterpMVC(LinAlgVectorComplex& src, LinAlgVectorComplex& dst) {
  m_MVCSource.clear();
  m_MVCTarget.clear();
  for (int i = 0; i < src.Rows(); ++i) {
    m_MVCSource.push_back(src(i).m_fRe);
    m_MVCSource.push_back(src(i).m_fIm);
  }
  for (int i = 0; i < dst.Rows(); ++i) {
    m_MVCTarget.push_back(dst(i).m_fRe);
    m_MVCTarget.push_back(dst(i).m_fIm);
  }
}

LinAlgComplex QuasiConfGlobalMap::MVCTransform(LinAlgComplex z) {
  // No polygon (fewer than three points): the identity.
  if (m_MVCSource.size() < 6 || m_MVCSource.size() != m_MVCTarget.size()) return z;
  std::vector<double> weights;
  double x = 0.0, y = 0.0;
  if (DeformMeanValueCoords::CalcMVC(m_MVCSource, z.m_fRe, z.m_fIm, weights)) {
    DeformMeanValueCoords::Interpolate(m_MVCTarget, weights, x, y);
    if (std::isfinite(x) && std::isfinite(y)) return LinAlgComplex(x, y);
  }
  // Coordinates without a usable normalisation (a point where the signed
  // angles of a self-crossing polygon cancel): move by the mean displacement.
  const size_t n = m_MVCSource.size() / 2;
  double shiftX = 0.0, shiftY = 0.0;
  for (size_t k = 0; k < n; ++k) {
    shiftX += m_MVCTarget[2 * k] - m_MVCSource[2 * k];
    shiftY += m_MVCTarget[2 * k + 1] - m_MVCSource[2 * k + 1];
  }
  return LinAlgComplex(z.m_fRe + shiftX / n, z.m_fIm + shiftY / n);
}
