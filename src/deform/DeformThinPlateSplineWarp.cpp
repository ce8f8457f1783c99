#include "deform/DeformThinPlateSplineWarp.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>

#include "deform/DeformTPSKernel.h"
#include "linalg/LinAlgFactor.h"
#include "linalg/LinAlgVectorComplex.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

using Placement = DeformThinPlateSpline::Placement;

// Rest vertices per step of the table's preparation: their kernel values
// (points x block) stay in the cache while every column is formed.
constexpr int kBlock = 256;

const char* kNotSolvable = "the spline's system of these control points cannot be solved";
const char* kTargetsNotFinite = "the spline of these targets is not finite";

const char* RefusalReason(Placement placement) {
  switch (placement) {
    case Placement::kTooFew:
      return "the thin-plate spline needs at least three control points";
    case Placement::kNotFinite:
      return "a control point is not a finite position";
    case Placement::kCoincident:
      return "two control points lie on one spot, the spline cannot pass through both";
    case Placement::kOnOneLine:
      return "the control points lie on one line, the spline's affine part is not determined";
    case Placement::kGood:
      break;
  }
  return kNotSolvable;
}

// The spline of the targets (flat, one pair per centre) from the factors of
// the centres' system, packed for evaluation; false (spline unchanged) when
// a coefficient is not finite.
bool SolveSpline(const LinAlgDenseLU& factors, const std::vector<LinAlgComplex>& cen,
                 const std::vector<double>& targets, DeformThinPlateSpline::Evaluator& spline) {
  const int m = static_cast<int>(cen.size());
  LinAlgVectorReal bx(m + 3, 0.0), by(m + 3, 0.0), sx(m + 3, 0.0), sy(m + 3, 0.0);
  for (int i = 0; i < m; ++i) {
    bx(i) = targets[2 * i];
    by(i) = targets[2 * i + 1];
  }
  factors.Solve(bx, sx);
  factors.Solve(by, sy);
  LinAlgVectorComplex coeffs(m + 3);
  for (int k = 0; k < m + 3; ++k) {
    if (!std::isfinite(sx(k)) || !std::isfinite(sy(k))) return false;
    coeffs(k) = LinAlgComplex(sx(k), sy(k));
  }
  spline = DeformThinPlateSpline::Evaluator(cen, coeffs);
  return true;
}

}  // namespace

DeformThinPlateSplineWarp::DeformThinPlateSplineWarp(R2Image& image, const ZelString& name,
                                                     double smoothing)
    : Warpixator(image, name),
      m_fSmoothing(std::isfinite(smoothing) && smoothing >= 0.0 ? smoothing : 0.0) {}

DeformThinPlateSplineWarp::~DeformThinPlateSplineWarp() = default;

void DeformThinPlateSplineWarp::PrepareDeformator() { Prepare(); }

void DeformThinPlateSplineWarp::Deform() {
  // Originals changed behind the preparation, or refused points whose
  // targets moved (the targets may have been what was refused): examine again.
  if (m_ControlPointsOrigPos != m_Examined ||
      (m_bRefused && m_ControlPointsNewPos != m_ExaminedTargets)) {
    Prepare();
    return;
  }
  if (m_bRefused || m_MapOrig.empty() || m_ControlPointsNewPos.size() != m_MapOrig.size()) return;
  if (m_ControlPointsNewPos != m_MapTarget &&
      !SolveSpline(*m_pFactors, m_Centres, m_ControlPointsNewPos, m_Spline)) {
    if (!m_bTargetsRefused) {
      m_bTargetsRefused = true;
      std::cout << "[WARNING] " << m_Name << ": " << kTargetsNotFinite
                << "; the last good deformation is kept" << std::endl;
    }
    return;
  }
  m_bTargetsRefused = false;
  m_MapTarget = m_ControlPointsNewPos;
}

void DeformThinPlateSplineWarp::Prepare() {
  m_Examined = m_ControlPointsOrigPos;
  m_ExaminedTargets = m_ControlPointsNewPos;
  const int m = NumControlPoints();
  if (m_ControlPointsNewPos.size() != m_ControlPointsOrigPos.size()) return;
  if (m == 0) {
    // No points: the identity, and any refusal is over.
    m_bRefused = m_bTargetsRefused = false;
    m_MapOrig.clear();
    m_MapTarget.clear();
    m_Centres.clear();
    m_pFactors.reset();
    m_Table.Clear();
    m_Spline = DeformThinPlateSpline::Evaluator();
    return;
  }

  std::vector<LinAlgComplex> cen;
  for (int i = 0; i < m; ++i) {
    cen.emplace_back(m_ControlPointsOrigPos[2 * i], m_ControlPointsOrigPos[2 * i + 1]);
  }
  // The smoothing's diagonal keeps a system of coincident originals regular.
  const Placement placement = DeformThinPlateSpline::CheckPlacement(cen, m_fSmoothing > 0.0);
  if (placement != Placement::kGood) return Refuse(RefusalReason(placement));
  auto factors = std::make_unique<LinAlgDenseLU>(
      DeformThinPlateSpline::SystemMatrix(cen, 2.0 * m_fSmoothing));
  DeformThinPlateSpline::Evaluator spline;
  warpix::CoordinateTable table;
  if (!factors->Ok()) return Refuse(kNotSolvable);
  if (!SolveSpline(*factors, cen, m_ControlPointsNewPos, spline)) return Refuse(kTargetsNotFinite);
  if (!BuildTable(*factors, cen, table)) return Refuse(kNotSolvable);

  m_bRefused = m_bTargetsRefused = false;
  m_MapOrig = m_ControlPointsOrigPos;
  m_MapTarget = m_ControlPointsNewPos;
  m_Centres = std::move(cen);
  m_pFactors = std::move(factors);
  m_Table = std::move(table);
  m_Spline = std::move(spline);
}

bool DeformThinPlateSplineWarp::BuildTable(const LinAlgDenseLU& factors,
                                           const std::vector<LinAlgComplex>& cen,
                                           warpix::CoordinateTable& table) {
  table.Clear();
  const int vertices = static_cast<int>(m_Vertices.size());
  const int m = static_cast<int>(cen.size());
  if (m_DeformationType != DEFORM_REGULAR_MESH || vertices == 0) return true;
  const std::string what = "the thin-plate-spline table of " + std::to_string(vertices) +
                           " mesh vertices and " + std::to_string(m) + " control points";
  if (!FitsTableLimit(warpix::CoordinateTable::Bytes(vertices, m, warpix::CoordinateTable::Kind::kReal),
                      what.c_str(), "each vertex is mapped through the spline on its own")) {
    return true;
  }

  // Columns 0..m-1 of the inverse system, one after the other: the spline of
  // target j = 1 has coefficients inverse[j], so vertex v's coefficient of
  // target j is [U(|v - c_k|) ..., x_v, y_v, 1] . inverse[j].
  const int order = m + 3;
  std::vector<double> inverse(static_cast<size_t>(m) * order);
  LinAlgVectorReal unit(order, 0.0), column(order, 0.0);
  for (int j = 0; j < m; ++j) {
    unit.SetAll(0.0);
    unit(j) = 1.0;
    factors.Solve(unit, column);
    for (int k = 0; k < order; ++k) inverse[static_cast<size_t>(j) * order + k] = column(k);
  }

  table.Reset(vertices, m, warpix::CoordinateTable::Kind::kReal);
  std::vector<double> kernel(static_cast<size_t>(m) * kBlock), logs(kernel.size());
  bool finite = true;
  for (int first = 0; first < vertices; first += kBlock) {
    const int count = std::min(kBlock, vertices - first);
    // s = |v - c_k|^2 as the evaluator forms it; the logarithm of a
    // vertex on a centre (s = 0) is taken of 1 and not used.
    for (int k = 0; k < m; ++k) {
      double* s = kernel.data() + static_cast<size_t>(k) * count;
      for (int t = 0; t < count; ++t) {
        const double dx = m_Vertices[first + t].m_fRestX - cen[k].m_fRe;
        const double dy = m_Vertices[first + t].m_fRestY - cen[k].m_fIm;
        s[t] = dx * dx + dy * dy;
        logs[static_cast<size_t>(k) * count + t] = s[t] > 0.0 ? s[t] : 1.0;
      }
    }
    warpix::SplineLogs(logs.data(), m * count, logs.data());
    for (size_t i = 0; i < static_cast<size_t>(m) * count; ++i) {
      if (kernel[i] > 0.0) kernel[i] *= logs[i];
    }
    for (int j = 0; j < m; ++j) {
      const double* b = inverse.data() + static_cast<size_t>(j) * order;
      double* out = table.Re(j) + first;
      for (int t = 0; t < count; ++t) {
        out[t] = b[m] * m_Vertices[first + t].m_fRestX + b[m + 1] * m_Vertices[first + t].m_fRestY +
                 b[m + 2];
      }
      for (int k = 0; k < m; ++k) {
        const double* u = kernel.data() + static_cast<size_t>(k) * count;
        for (int t = 0; t < count; ++t) out[t] += b[k] * u[t];
      }
      for (int t = 0; t < count; ++t) finite = finite && std::isfinite(out[t]);
    }
  }
  if (!finite) table.Clear();
  return finite;
}

void DeformThinPlateSplineWarp::Refuse(const char* why) {
  if (m_bRefused) return;
  m_bRefused = true;
  std::cout << "[WARNING] " << m_Name << ": " << why << "; the last good deformation is kept"
            << std::endl;
}

void DeformThinPlateSplineWarp::MapPoint(double x, double y, double& outX, double& outY) {
  const LinAlgComplex z = m_Spline.Map(LinAlgComplex(x, y));
  outX = z.m_fRe;
  outY = z.m_fIm;
}

void DeformThinPlateSplineWarp::MapMeshVertices() {
  if (!m_Table.Empty() && m_Table.Vertices() == static_cast<int>(m_Vertices.size()) &&
      !m_MapOrig.empty()) {
    m_Table.Apply(m_MapTarget.data(), m_Vertices);
    return;
  }
  // No table (pixel mode, beyond the size limit, or no points): the spline
  // itself, a vector of vertices at a time (the identity without points).
  MapRestPositions(m_Scratch, [this](int count, const double* x, const double* y, double* outX,
                                     double* outY) { m_Spline.MapPoints(count, x, y, outX, outY); });
}
