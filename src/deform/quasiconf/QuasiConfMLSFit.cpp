// Operator 4 of the quasi-conformal family, documented and fast, and the
// fast weighted n-gon fit that its fast route runs at every vertex.
#include "deform/quasiconf/QuasiConfMLSFit.h"

#include <cmath>
#include <iostream>

#include "deform/quasiconf/DeformQuasiConf.h"
#include "deform/quasiconf/QuasiConfDetail.h"
#include "deform/quasiconf/QuasiConfMLSKernel.h"
#include "support/WarpixAssert.h"

using namespace quasiconf_detail;

namespace {

// Keeps a weight finite for a vertex lying on a control point.
constexpr double kWeightEpsilon = 1e-6;

// 1 / (sqrt|P - c| + 1e-6): the square root of the distance, not the distance.
inline double MLSWeight(LinAlgComplex vertex, LinAlgComplex ctrl) {
  return 1.0 / (std::sqrt((vertex - ctrl).Power()) + kWeightEpsilon);
}

// Bytes of the preparation for `vertices` mesh vertices and n control
// points: per vertex and point a weight in the documented work set and in
// the fast one and three complex coefficients; per vertex its rest, mapped
// and local position; the n x n weight diagonal and right-hand sides.
double MLSTableBytes(double vertices, double n) {
  return vertices * n * (2 * sizeof(double) + 3 * sizeof(LinAlgComplex)) +
         vertices * 3 * sizeof(LinAlgComplex) + 2 * n * n * sizeof(LinAlgComplex);
}

}  // namespace

namespace quasiconf_detail {

FastFitWork::FastFitWork(int n) : N(n), G(n) {
  for (int k = 0; k < n; ++k) G[k] = LinAlgComplex(0.0, k * (kTwoPi / n)).Exp();
}

bool FastWeightedFit(const LinAlgComplex* z, const double* w, FastFitWork& work,
                     LinAlgComplex* zm) {
  const int N = work.N;
  if (N < 3) return false;
  if (N == 3) {
    ExactTriangleMobius(z, work.G.data(), zm);
    return IsRegularMobius(zm);
  }
  double m[8];
  unsigned char ok = 0;
  warpix::NgonFitVertices(&z[0].m_fRe, N, w, 1, m, &ok);
  for (int e = 0; e < 4; ++e) zm[e] = LinAlgComplex(m[2 * e], m[2 * e + 1]);
  return ok != 0;
}

}  // namespace quasiconf_detail

// The preparation's workspaces for one vertex's weighted least-squares solve.
struct QuasiConfMLSFit::VertexWork {
  explicit VertexWork(int n) : q(n), columns(3 * static_cast<size_t>(n)) {}
  std::vector<LinAlgComplex> q;        // the originals in the vertex's frame
  std::vector<LinAlgComplex> columns;  // the weighted design, column after column

};

QuasiConfMLSFit::QuasiConfMLSFit() = default;

QuasiConfMLSFit::~QuasiConfMLSFit() { Release(); }

// ---------------------------------------------------------------------------
// Preparation and deformation

bool QuasiConfMLSFit::Prepare(DeformQuasiConf& q) {
  const int n = q.NumControlPoints();
  m_bPrepared = false;
  Release();
  if (n < 3 || q.m_DeformationType != Warpixator::DEFORM_REGULAR_MESH || q.m_Vertices.empty()) {
    return false;
  }
  if (!q.FitsTableLimit(MLSTableBytes(static_cast<double>(q.m_Vertices.size()), n),
                        TableOwner("4 (MovingLeastSquares)", q.m_Vertices.size(), n).c_str(),
                        "not prepared, the last good deformation is kept")) {
    return false;
  }
  m_bPrepared = Build(q);
  if (!m_bPrepared) {
    Release();
    q.WarnSingular("the control points give no local normalisation (coincident or collinear)");
  }
  return m_bPrepared;
}

bool QuasiConfMLSFit::Deform(DeformQuasiConf& q) {
  ++q.m_iNumDeforms;
  q.m_Profiler.startedProcess("Deform");
  if (q.m_DeformationType != Warpixator::DEFORM_REGULAR_MESH) {
    if (!q.m_bWarnedPixelMode) {
      q.m_bWarnedPixelMode = true;
      std::cout << "[WARNING] " << q.m_Name
                << ": operator 4 needs DEFORM_REGULAR_MESH; the image is shown undeformed"
                << std::endl;
    }
    q.m_Profiler.finishedProcess("Deform", false);
    return false;
  }
  if (!m_bPrepared || !m_pVertOut) {
    q.m_Profiler.finishedProcess("Deform", false);
    return false;
  }
  ToComplex(q.m_ControlPointsNewPos, *m_pCtrlNew);
  if (q.m_ControlPointsNewPos == q.m_ControlPointsOrigPos) {
    // Nothing moved: the rest mesh exactly, not to rounding (points are
    // snapped by current position, so every cell must agree on it).
    q.RestoreRestMesh();
    q.ReportFit(true, "");
  } else if (FastFPIMLS(q.m_ControlPointsNewPos, *m_pVertOut)) {
    for (size_t k = 0; k < q.m_Vertices.size(); ++k) {
      q.m_Vertices[k].m_fX = (*m_pVertOut)(static_cast<int>(k)).m_fRe;
      q.m_Vertices[k].m_fY = (*m_pVertOut)(static_cast<int>(k)).m_fIm;
    }
    q.ReportFit(true, "");
  } else {
    q.ReportFit(false, "the targets give no local normalisation (coincident or collinear)");
  }
  q.m_Profiler.finishedProcess("Deform", false);
  return true;
}

void QuasiConfMLSFit::MapPoint(DeformQuasiConf&, double, double, double&, double&) {
  WARPIX_ASSERT(false);
}

void QuasiConfMLSFit::Release() {
  m_pCtrlOrig.reset();
  m_pCtrlNew.reset();
  m_pVertRest.reset();
  m_pVertOut.reset();
  m_pMobiusOrigLocal.reset();
  m_pMobiusNewLocal.reset();
  m_pDesign.reset();
  m_pFitCoeffs.reset();
  m_pWeightRow.reset();
  m_pWeightFit.reset();
  m_pLocalOrig.reset();
  m_pLocalNew.reset();
  m_pNormOrig.reset();
  m_pNormNew.reset();
  m_pWeightDiag.reset();
  m_pWeightedDesign.reset();
  m_pWeightedRhs.reset();
  m_pWeights.reset();
  m_pFastFit.reset();
  m_FastWeights.clear();
  m_FastLocalVertex.clear();
  m_FastCoeffs.clear();
  m_FastGroupedWeights.clear();
  m_FastGroupedCoeffs.clear();
}

void QuasiConfMLSFit::AllocateWorkSet(const DeformQuasiConf& q, int n) {
  const int count = static_cast<int>(q.m_Vertices.size());
  // Every entry a heap object of the sizes of this preparation.
  m_pCtrlOrig = std::make_unique<LinAlgVectorComplex>(n);
  m_pCtrlNew = std::make_unique<LinAlgVectorComplex>(n);
  m_pVertRest = std::make_unique<LinAlgVectorComplex>(count);
  m_pVertOut = std::make_unique<LinAlgVectorComplex>(count);
  m_pMobiusOrigLocal = std::make_unique<LinAlgMatrixComplex>(2, 2);
  m_pMobiusNewLocal = std::make_unique<LinAlgMatrixComplex>(2, 2);
  m_pDesign = std::make_unique<LinAlgMatrixComplex>(n, 3);
  m_pFitCoeffs = std::make_unique<LinAlgVectorComplex>(3);
  m_pWeightRow = std::make_unique<LinAlgVectorReal>(n, 0.0);
  m_pWeightFit = std::make_unique<LinAlgVectorReal>(n, 0.0);
  m_pLocalOrig = std::make_unique<LinAlgVectorComplex>(n);
  m_pLocalNew = std::make_unique<LinAlgVectorComplex>(n);
  m_pNormOrig = std::make_unique<LinAlgVectorComplex>(n);
  m_pNormNew = std::make_unique<LinAlgVectorComplex>(n);
  m_pWeightDiag = std::make_unique<LinAlgMatrixComplex>(n, n);
  m_pWeightedDesign = std::make_unique<LinAlgMatrixComplex>(n, 3);
  m_pWeightedRhs = std::make_unique<LinAlgVectorComplex>(n);
  m_pWeights = std::make_unique<LinAlgMatrixReal>(count, n, 0.0);
  ToComplex(q.m_ControlPointsOrigPos, *m_pCtrlOrig);
  ToComplex(q.m_ControlPointsNewPos, *m_pCtrlNew);
  for (int k = 0; k < count; ++k) {
    (*m_pVertRest)(k) = LinAlgComplex(q.m_Vertices[k].m_fRestX, q.m_Vertices[k].m_fRestY);
  }
}

bool QuasiConfMLSFit::Build(const DeformQuasiConf& q) {
  Release();
  const int n = q.NumControlPoints();
  const int count = static_cast<int>(q.m_Vertices.size());
  if (n < 3 || count == 0) return false;
  AllocateWorkSet(q, n);

  // Everything of the per-vertex fit that does not depend on the targets:
  // weights, the local normalisation of the originals, the vertex in that
  // frame, and the weighted least-squares solve as a 3 x n matrix.
  m_pFastFit = std::make_unique<FastFitWork>(n);
  m_FastWeights.assign(static_cast<size_t>(count) * n, 0.0);
  m_FastLocalVertex.assign(count, LinAlgComplex());
  m_FastCoeffs.assign(static_cast<size_t>(count) * 3 * n, LinAlgComplex());
  const LinAlgComplex* ctrl = &(*m_pCtrlOrig)(0);
  for (int k = 0; k < count; ++k) {
    const LinAlgComplex vertex = (*m_pVertRest)(k);
    double* w = &m_FastWeights[static_cast<size_t>(k) * n];
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      w[j] = MLSWeight(vertex, ctrl[j]);
      (*m_pWeights)(k, j) = w[j];
      sum += w[j];
    }
    for (int j = 0; j < n; ++j) w[j] /= sum;
  }
  // The originals' weighted n-gon fits of all vertices at once (three points
  // have their exact triangle map instead).
  std::vector<double> zm(static_cast<size_t>(count) * 8);
  std::vector<unsigned char> ok(count, 1);
  if (n > 3) {
    warpix::NgonFitVertices(&ctrl[0].m_fRe, n, m_FastWeights.data(), count, zm.data(), ok.data());
  }
  VertexWork work(n);
  for (int k = 0; k < count; ++k) {
    if (!ok[k] || !PrepareVertex(k, n, n > 3 ? &zm[8 * static_cast<size_t>(k)] : nullptr, work)) {
      return false;
    }
  }
  if (n > 3) {
    // The vector kernel reads the weights and coefficients lane by lane.
    m_FastGroupedWeights = warpix::GroupByVertex(m_FastWeights.data(), n, count);
    m_FastGroupedCoeffs = warpix::GroupByVertex(&m_FastCoeffs[0].m_fRe, 6 * n, count);
    std::vector<LinAlgComplex>().swap(m_FastCoeffs);
  }
  return true;
}

bool QuasiConfMLSFit::PrepareVertex(int k, int n, const double* fit, VertexWork& work) {
  const LinAlgComplex* ctrl = &(*m_pCtrlOrig)(0);
  const LinAlgComplex vertex = (*m_pVertRest)(k);
  const double* w = &m_FastWeights[static_cast<size_t>(k) * n];
  LinAlgComplex zm[4];
  if (fit != nullptr) {
    for (int e = 0; e < 4; ++e) zm[e] = LinAlgComplex(fit[2 * e], fit[2 * e + 1]);
  } else if (!FastWeightedFit(ctrl, w, *m_pFastFit, zm)) {
    return false;
  }
  for (int j = 0; j < n; ++j) work.q[j] = Mobius(zm, ctrl[j]);
  if (IsFlat(work.q.data(), n)) return false;
  m_FastLocalVertex[k] = Mobius(zm, vertex);

  // c = (W D)^+ W t with D = (1, q, conj q): W D = Q R by Gram-Schmidt,
  // each column orthogonalised twice (as orthogonal as a Householder QR),
  // then R^-1 Q^H W as the 3 x n matrix that takes the targets to c.
  // Plain doubles (re, im): the complex type's operators are calls.
  double* Q = &work.columns[0].m_fRe;
  for (int j = 0; j < n; ++j) {
    const double qr = work.q[j].m_fRe, qi = work.q[j].m_fIm;
    Q[2 * j] = w[j], Q[2 * j + 1] = 0.0;
    Q[2 * (n + j)] = w[j] * qr, Q[2 * (n + j) + 1] = w[j] * qi;
    Q[2 * (2 * n + j)] = w[j] * qr, Q[2 * (2 * n + j) + 1] = -(w[j] * qi);
  }
  double R[3][3][2] = {};
  double inverse[3];
  for (int c = 0; c < 3; ++c) {
    double* v = Q + 2 * static_cast<size_t>(c) * n;
    for (int pass = 0; pass < 2; ++pass) {
      for (int r = 0; r < c; ++r) {
        const double* u = Q + 2 * static_cast<size_t>(r) * n;
        double hr = 0.0, hi = 0.0;
        for (int j = 0; j < n; ++j) {
          hr += u[2 * j] * v[2 * j] + u[2 * j + 1] * v[2 * j + 1];
          hi += u[2 * j] * v[2 * j + 1] - u[2 * j + 1] * v[2 * j];
        }
        for (int j = 0; j < n; ++j) {
          const double ur = u[2 * j], ui = u[2 * j + 1];
          v[2 * j] -= hr * ur - hi * ui;
          v[2 * j + 1] -= hr * ui + hi * ur;
        }
        R[r][c][0] += hr;
        R[r][c][1] += hi;
      }
    }
    double sum = 0.0;
    for (int j = 0; j < 2 * n; ++j) sum += v[j] * v[j];
    const double norm = std::sqrt(sum);
    if (!(norm > 0.0) || !std::isfinite(norm)) return false;
    inverse[c] = 1.0 / norm;
    for (int j = 0; j < 2 * n; ++j) v[j] *= inverse[c];
  }
  double* coeffs = &m_FastCoeffs[static_cast<size_t>(k) * 3 * n].m_fRe;
  for (int j = 0; j < n; ++j) {
    // Column j of Q^H W, then back substitution.
    double y[3][2];
    for (int r = 0; r < 3; ++r) {
      y[r][0] = w[j] * Q[2 * (static_cast<size_t>(r) * n + j)];
      y[r][1] = -(w[j] * Q[2 * (static_cast<size_t>(r) * n + j) + 1]);
    }
    double* x = coeffs + 6 * j;
    for (int r = 2; r >= 0; --r) {
      double re = y[r][0], im = y[r][1];
      for (int c = r + 1; c < 3; ++c) {
        re -= R[r][c][0] * x[2 * c] - R[r][c][1] * x[2 * c + 1];
        im -= R[r][c][0] * x[2 * c + 1] + R[r][c][1] * x[2 * c];
      }
      x[2 * r] = re * inverse[r];
      x[2 * r + 1] = im * inverse[r];
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// The per-vertex fit, documented and fast

bool QuasiConfMLSFit::QCONF_FPI_MLS(LinAlgVectorComplex& ctrlOrig, LinAlgVectorComplex& ctrlNew,
                                    LinAlgVectorComplex& P, LinAlgVectorComplex& tP) {
  const int n = ctrlOrig.Rows();
  const int count = P.Rows();
  WARPIX_ASSERT(ctrlNew.Rows()==n);
  WARPIX_ASSERT(m_pWeights && m_pWeights->Rows()==count && m_pWeights->Cols()==n);
  WARPIX_ASSERT(m_pWeightRow && m_pWeightRow->Rows()==n);

  for (int k = 0; k < count; ++k)
    for (int j = 0; j < n; ++j) (*m_pWeights)(k, j) = MLSWeight(P(k), ctrlOrig(j));
  WARPIX_ASSERT(tP.Rows()==P.Rows());

  for (int k = 0; k < count; ++k) {
    LinAlgVectorReal& w = *m_pWeightRow;
    for (int j = 0; j < n; ++j) w(j) = (*m_pWeights)(k, j);
    const double sum = w.Norm(1.0);
    for (int j = 0; j < n; ++j) w(j) /= sum;

    *m_pLocalOrig = ctrlOrig;
    *m_pLocalNew = ctrlNew;
    *m_pWeightFit = w;
    if (!DeformQuasiConf::QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS(
            *m_pLocalOrig, *m_pWeightFit, *m_pMobiusOrigLocal) ||
        !DeformQuasiConf::QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS(
            *m_pLocalNew, *m_pWeightFit, *m_pMobiusNewLocal)) {
      return false;
    }
    DeformQuasiConf::CORR_apply_mobius_as_matrix(*m_pMobiusOrigLocal, *m_pLocalOrig, *m_pNormOrig);
    DeformQuasiConf::CORR_apply_mobius_as_matrix(*m_pMobiusNewLocal, *m_pLocalNew, *m_pNormNew);
    // Normalised originals on a line leave the R-linear fit undetermined;
    // normalised targets on a line would fold the picture onto one curve.
    if (IsFlat(&(*m_pNormOrig)(0), n) || IsFlat(&(*m_pNormNew)(0), n)) return false;

    for (int j = 0; j < n; ++j) {
      const LinAlgComplex q = (*m_pNormOrig)(j);
      (*m_pDesign)(j, 0) = LinAlgComplex(1.0, 0.0);
      (*m_pDesign)(j, 1) = q;
      (*m_pDesign)(j, 2) = q.Conjugate();
      (*m_pWeightDiag)(j, j) = LinAlgComplex(w(j), 0.0);
    }
    m_pWeightDiag->Multiply(*m_pDesign, *m_pWeightedDesign);
    m_pWeightDiag->Multiply(*m_pNormNew, *m_pWeightedRhs);
    if (!m_pWeightedDesign->Solve(*m_pWeightedRhs, *m_pFitCoeffs)) return false;

    const LinAlgComplex z = DeformQuasiConf::MobiusTransform(*m_pMobiusOrigLocal, P(k));
    const LinAlgComplex zFit =
        (*m_pFitCoeffs)(0) + (*m_pFitCoeffs)(1) * z + (*m_pFitCoeffs)(2) * z.Conjugate();
    if (!m_pMobiusNewLocal->Inverse()) return false;
    tP(k) = DeformQuasiConf::MobiusTransform(*m_pMobiusNewLocal, zFit);
    if (!std::isfinite(tP(k).m_fRe) || !std::isfinite(tP(k).m_fIm)) return false;
  }
  return true;
}

bool QuasiConfMLSFit::FastFPIMLS(const std::vector<double>& targets, LinAlgVectorComplex& tP) {
  if (!m_pFastFit || !m_pCtrlOrig) return false;
  const int n = m_pFastFit->N;
  const int count = static_cast<int>(m_FastLocalVertex.size());
  WARPIX_ASSERT(tP.Rows()==count);
  WARPIX_ASSERT(static_cast<int>(targets.size())==2*n);

  std::vector<LinAlgComplex> t(n), tq(n);
  for (int j = 0; j < n; ++j) t[j] = LinAlgComplex(targets[2 * j], targets[2 * j + 1]);
  if (n > 3) {
    // All vertices through the vector kernel.
    std::vector<unsigned char> ok(count);
    warpix::MLSFitVertices(targets.data(), n, m_FastGroupedWeights.data(), &m_FastLocalVertex[0].m_fRe,
                           m_FastGroupedCoeffs.data(), count, &tP(0).m_fRe, ok.data());
    for (int k = 0; k < count; ++k)
      if (!ok[k]) return false;
    return true;
  }
  for (int k = 0; k < count; ++k) {
    LinAlgComplex zm[4];
    if (!FastWeightedFit(t.data(), &m_FastWeights[static_cast<size_t>(k) * n], *m_pFastFit, zm)) {
      return false;
    }
    for (int j = 0; j < n; ++j) tq[j] = Mobius(zm, t[j]);
    if (IsFlat(tq.data(), n)) return false;
    const LinAlgComplex* coeffs = &m_FastCoeffs[static_cast<size_t>(k) * 3 * n];
    LinAlgComplex c[3];
    for (int j = 0; j < n; ++j)
      for (int r = 0; r < 3; ++r) c[r] += coeffs[r + 3 * j] * tq[j];
    const LinAlgComplex z = m_FastLocalVertex[k];
    const LinAlgComplex zFit = c[0] + c[1] * z + c[2] * z.Conjugate();
    // The inverse Mobius map through the adjugate: the same map as the
    // inverse matrix, which differs only by the factor 1/det.
    const LinAlgComplex inverse[4] = {zm[3], -zm[1], -zm[2], zm[0]};
    const LinAlgComplex out = Mobius(inverse, zFit);
    if (!std::isfinite(out.m_fRe) || !std::isfinite(out.m_fIm)) return false;
    tP(k) = out;
  }
  return true;
}
