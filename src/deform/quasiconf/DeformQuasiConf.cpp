#include "deform/quasiconf/DeformQuasiConf.h"


#include <cmath>
#include <cstring>
#include <iostream>

#include "deform/WarpixatorCanvas.h"
#include "support/WarpixAssert.h"

DeformQuasiConf::DeformQuasiConf(R2Image& image, const ZelString& name, IntermediateOperator op)
    : Warpixator(image, name),
      m_IntermediateOp(op),
      m_iNumDeforms(0),
      m_fDelta1(0.01),
      m_fDelta2(0.01),
      m_bLineOnSide{true, false, true, false},
      m_MobiusOrig(m_Global.m_MobiusOrig),
      m_MobiusNew(m_Global.m_MobiusNew),
      m_LinearMap(m_Global.m_LinearMap),
      m_MVCSource(m_Global.m_MVCSource),
      m_MVCTarget(m_Global.m_MVCTarget),
      m_pCtrlOrig(m_MLS.m_pCtrlOrig),
      m_pVertRest(m_MLS.m_pVertRest),
      m_pVertOut(m_MLS.m_pVertOut),
      m_pWeights(m_MLS.m_pWeights),
      m_LineConstraints(m_Lines.m_Sets),
      m_bSingular(false),
      m_bWarnedPixelMode(false) {}

DeformQuasiConf::~DeformQuasiConf() = default;

DeformQuasiConf::IntermediateOperator DeformQuasiConf::StrToIntermediateOp(const char* word) {
  if (word == nullptr) return OP_NONE;
  static const struct {
    const char* word;
    IntermediateOperator op;
  } kWords[] = {{"AffineQuad", OP_AFFINE_QUAD},
                {"MeanValCoords", OP_MEAN_VAL_COORDS},
                {"ThinPlateSplines", OP_THIN_PLATE_SPLINES},
                {"MovingLeastSquares", OP_MOVING_LEAST_SQUARES},
                {"FixedLinesTPS", OP_FIXED_LINES_TPS},
                {"FixedLinesTPSNoQuasiConf", OP_FIXED_LINES_TPS_NO_QC}};
  for (const auto& entry : kWords) {
    if (std::strcmp(word, entry.word) == 0) return entry.op;
  }
  return OP_NONE;
}

QuasiConfOperator& DeformQuasiConf::Operator() {
  switch (m_IntermediateOp) {
    case OP_MOVING_LEAST_SQUARES:
      return m_MLS;
    case OP_FIXED_LINES_TPS:
    case OP_FIXED_LINES_TPS_NO_QC:
      return m_Lines;
    default:
      return m_Global;
  }
}

const QuasiConfOperator& DeformQuasiConf::Operator() const {
  return const_cast<DeformQuasiConf*>(this)->Operator();
}

void DeformQuasiConf::ResetMaps() {
  m_Global.Reset();
  m_MLS.Reset();
  m_Lines.Reset();
}

void DeformQuasiConf::RestoreRestMesh() {
  for (ImgVertex& vertex : m_Vertices) {
    vertex.m_fX = vertex.m_fRestX;
    vertex.m_fY = vertex.m_fRestY;
  }
}

void DeformQuasiConf::WarnSingular(const char* what) {
  if (m_bSingular) return;
  m_bSingular = true;
  std::cout << "[WARNING] " << m_Name << ": " << what
            << "; the last good deformation is kept" << std::endl;
}

void DeformQuasiConf::ReportFit(bool good, const char* what) {
  if (good) {
    m_bSingular = false;
  } else {
    WarnSingular(what);
  }
}

// ---------------------------------------------------------------------------
// Run-time controls

void DeformQuasiConf::TweakParameter(double step) {
  std::cout << "delta=" << step << std::endl;
  const double increment = std::fabs(step) <= 0.01 ? step / 10.0 : step / 100.0;
  double d = m_fDelta1 + increment;
  if (d <= 0.0) {
    d = 1e-9;
  } else if (d >= 1.0) {
    d = 1.0;
  }
  // A line set on show is replaced only by one that takes the originals and
  // the current targets; otherwise the set, the deltas and the mesh stay.
  if (!m_Lines.Accepts(*this, d, m_bLineOnSide)) {
    std::cout << "[WARNING] " << m_Name << ": delta " << d
              << " makes the line constraints singular (offset lines that meet); delta stays "
              << m_fDelta1 << std::endl;
    return;
  }
  m_fDelta1 = m_fDelta2 = d;
  std::cout << "New Delta=[" << d << ", " << d << "] " << std::endl;
  Rerun();
}

void DeformQuasiConf::ChangeMode(int key) {
  if (key >= 1 && key <= 6) {
    m_IntermediateOp = static_cast<IntermediateOperator>(key);
    std::cout << "New Mode = " << key << std::endl;
    // The other operator's maps mean nothing to this one: start from the
    // identity and the rest mesh, then fit anew.
    ResetMaps();
    RestoreRestMesh();
  } else if (key == 7 || key == 8 || key == 9 || key == 0) {
    const int side = key == 0 ? 3 : key - 7;
    bool sides[4] = {m_bLineOnSide[0], m_bLineOnSide[1], m_bLineOnSide[2], m_bLineOnSide[3]};
    sides[side] = !sides[side];
    // As for the delta: the set on show stays unless the new one takes the
    // points.
    if (!m_Lines.Accepts(*this, std::fmax(m_fDelta1, m_fDelta2), sides)) {
      std::cout << "[WARNING] " << m_Name << ": switching the line on side " << side
                << " makes the line constraints singular (offset lines that meet); the lines stay"
                << std::endl;
      return;
    }
    m_bLineOnSide[side] = sides[side];
    std::cout << "Line constraints: " << m_bLineOnSide[3] << " " << m_bLineOnSide[2] << " "
              << m_bLineOnSide[1] << " " << m_bLineOnSide[0] << std::endl;
  } else {
    WARPIX_ASSERT(false);
  }
  Rerun();
}

void DeformQuasiConf::Rerun() {
  if (m_ControlPointsOrigPos.empty()) return;
  m_bNeedsUpdate = true;
  // Operator 4's vertices are its whole state: a refused fit keeps them.
  const QuasiConfOperator& op = Operator();
  if (!op.KeepsVertices() || NumControlPoints() < op.MinimumPoints(*this)) RestoreRestMesh();
  PrepareDeformator();
  Deform();
}

// ---------------------------------------------------------------------------
// Control points

void DeformQuasiConf::AddControlPoint(double x, double y, double* outX, double* outY) {
  // Current positions; with "n" the nearest opaque vertex, else any, warned.
  // No mesh (pixel mode) or a point that is not a number: the clicked
  // position, like the base.
  double placedX = x, placedY = y;
  SnapControlPoint(x, y, SnapOptions{false, m_bSnapToNonWhite, true}, placedX, placedY);
  Warpixator::AddControlPoint(placedX, placedY, outX, outY);
  // The new point changes the fit at once: the next frame shows maps that
  // belong together (a whole point set is fitted once, when it is in).
  m_bNeedsUpdate = true;
  if (!PlacingPointSet()) Deform();
}

void DeformQuasiConf::ClearControls(bool save) {
  const bool saves = save && m_DeformationType == DEFORM_REGULAR_MESH;
  Warpixator::ClearControls(save);
  // The saved deformation now lives in the rest mesh.
  if (saves) ResetMaps();
}

// ---------------------------------------------------------------------------
// Preparation and deformation

void DeformQuasiConf::PrepareDeformator() { Operator().Prepare(*this); }

void DeformQuasiConf::Deform() {
  if (!m_bNeedsUpdate) return;
  m_bNeedsUpdate = false;
  WARPIX_ASSERT(m_ControlPointsNewPos.size()==m_ControlPointsOrigPos.size());
  // No points: nothing to fit, whatever the operator.
  if (NumControlPoints() == 0) return;
  if (!Operator().Deform(*this)) return;
  if (m_iNumDeforms % 100 == 0) {
    std::cout << "Timing per " << m_iNumDeforms << " operations:" << std::endl
              << "\t" << m_Profiler.profile() << std::endl;
  }
}

// ---------------------------------------------------------------------------
// Point and mesh maps

void DeformQuasiConf::MapPoint(double x, double y, double& outX, double& outY) {
  Operator().MapPoint(*this, x, y, outX, outY);
}

bool DeformQuasiConf::MapsPoints() const { return Operator().MapsPoints(*this); }

void DeformQuasiConf::MapPoints(int count, const double* x, const double* y, double* outX,
                                double* outY) {
  if (&Operator() == &m_Global) {
    m_Global.MapPoints(*this, count, x, y, outX, outY);
    return;
  }
  for (int k = 0; k < count; ++k) MapPoint(x[k], y[k], outX[k], outY[k]);
}

void DeformQuasiConf::MapMeshVertices() {
  m_Profiler.startedProcess("MapVerts");
  Operator().MapMeshVertices(*this);
  m_Profiler.finishedProcess("MapVerts", false);
}

// ---------------------------------------------------------------------------
// Drawing

void DeformQuasiConf::Draw(WarpixatorCanvas* window) {
  PrepareFrame();
  if (m_bLoadTexture) LoadIntoTexture(window);
  // The textured mesh without its edges.
  const bool drawMesh = m_bDrawMesh;
  m_bDrawMesh = false;
  DrawAsTexture(window);
  m_bDrawMesh = drawMesh;
  if (!Operator().DrawMarkers(*this, window)) DrawControlPoints(window);
  if (window != nullptr) window->RenderText(GetDeformatorName(), 0.2, 1.01, 0.5, 0.0, 0.0, 2);
}
