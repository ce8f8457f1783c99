#pragma once

#include <memory>
#include <vector>

#include "deform/Warpixator.h"
#include "deform/quasiconf/QuasiConfGlobalMap.h"
#include "deform/quasiconf/QuasiConfLineMode.h"
#include "deform/quasiconf/QuasiConfLines.h"
#include "deform/quasiconf/QuasiConfMLSFit.h"
#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorComplex.h"
#include "linalg/LinAlgVectorReal.h"
#include "support/TimeProfiler.h"

/// The quasi-conformal family. Points are complex numbers x + iy; a Mobius
/// matrix [[a, b], [c, d]] stands for z -> (az + b)/(cz + d). Operators 0 to 3
/// map z -> Mnew^-1(op(Morig(z))), where Morig normalises the original control
/// points, Mnew the targets, and op is the identity (0, 3), the affine map
/// between two parallelograms (1) or mean value coordinates between the
/// normalised polygons (2). Operator 4 fits its own weighted normalisations
/// and R-linear map at every mesh vertex. Operators 5 and 6 constrain the
/// sides of a quadrilateral of four points to stay straight.
///
/// Each operator group keeps its state and math in its own object
/// (QuasiConfGlobalMap, QuasiConfMLSFit, QuasiConfLineMode); the members
/// below that name their state refer into those objects.
///
/// Control points always sit on mesh vertices. A configuration that makes a
/// fit singular (coincident points, a flat quadrilateral or polygon) keeps the
/// last good maps and mesh and prints one warning; it never aborts.
class DeformQuasiConf : public Warpixator {
 public:
  /// The operator between the two normalisations (InterOp words in brackets).
  enum IntermediateOperator {
    OP_NONE = 0,                  // any other word: like 3 in MapPoint
    OP_AFFINE_QUAD = 1,           // "AffineQuad"
    OP_MEAN_VAL_COORDS = 2,       // "MeanValCoords"
    OP_THIN_PLATE_SPLINES = 3,    // "ThinPlateSplines" (identity in between)
    OP_MOVING_LEAST_SQUARES = 4,  // "MovingLeastSquares"
    OP_FIXED_LINES_TPS = 5,       // "FixedLinesTPS"
    OP_FIXED_LINES_TPS_NO_QC = 6  // "FixedLinesTPSNoQuasiConf"
  };

  // === Constructor
  /// Identity normalisations and R-linear map; builds no mesh.
  DeformQuasiConf(R2Image& image, const ZelString& name, IntermediateOperator op);
  ~DeformQuasiConf() override;

  /// The operator of an InterOp word (exact, case-sensitive); 0 for any other.
  static IntermediateOperator StrToIntermediateOp(const char* word);

  // === Virtual interface
  /// Delta of the line constraints: +-0.1 steps change it by 0.001, +-0.01
  /// steps by 0.001 too; kept in [1e-9, 1]. Prints "delta=" and "New Delta=[".
  /// While a line set is on show, a delta that makes the constraints
  /// singular for the originals or the current targets is refused with one
  /// warning, and the set, the deltas and the mesh stay.
  void TweakParameter(double step) override;
  /// 1..6 select the operator ("New Mode = k"), 7, 8, 9, 0 toggle the line
  /// constraint on side 0..3 ("Line constraints: a b c d"); then re-runs. A
  /// toggle that would make a line set on show singular is refused like a
  /// delta.
  void ChangeMode(int key) override;
  /// Deforms, saves and clears like the base; after a save the maps are the
  /// identity, since the deformation now lives in the rest mesh.
  void ClearControls(bool save) override;
  /// Snaps to the mesh vertex nearest by current position (with "n" on, the
  /// nearest opaque one), prints "actual=[x, y]", adds the point at rest,
  /// prepares and deforms. Without a mesh the clicked position is kept.
  void AddControlPoint(double x, double y, double* outX, double* outY) override;
  /// Everything that depends on the original points (see the class comment).
  void PrepareDeformator() override;
  /// The target-side work of the running operator (honours m_bNeedsUpdate).
  void Deform() override;
  /// z -> Mnew^-1(op(Morig(z))) for operators 0 to 3 (0 as 3); the line set
  /// for operators 5 and 6; fatal "false" for operator 4, which fits mesh
  /// vertices only (MapsPoints() says so, and no caller reaches it).
  void MapPoint(double x, double y, double& outX, double& outY) override;
  /// Operators 0 to 3 map any point. The line modes build their sections
  /// from the mesh, so they map points in mesh mode only; operator 4 never.
  bool MapsPoints() const override;
  /// MapPoint for the count points (x[k], y[k]) into (outX[k], outY[k]),
  /// bit for bit; operators 0, 1 and 3 map them at once at the vector width
  /// without per-point timing. For operators 0 to 3 a point whose image is
  /// not finite keeps its output as it was; the others go point by point.
  void MapPoints(int count, const double* x, const double* y, double* outX, double* outY);
  /// Operators 0 to 3: every rest position through the maps (no vertex is ever
  /// left non-finite); 4: nothing (Deform moved them); 5, 6: the line set.
  void MapMeshVertices() override;
  /// The textured mesh without edges, the markers and the name.
  void Draw(WarpixatorCanvas* window) override;

  // === Mobius machinery
  /// (M00 z + M01) / (M10 z + M11); a zero denominator gives 0.
  static LinAlgComplex MobiusTransform(const LinAlgMatrixComplex& M, LinAlgComplex z);
  /// out(i) = MobiusTransform(M, in(i)) for i < in.Rows(); out at least as long.
  static void CORR_apply_mobius_as_matrix(const LinAlgMatrixComplex& M,
                                          const LinAlgVectorComplex& in,
                                          LinAlgVectorComplex& out);
  /// The Mobius map taking the n points of the flat list (x0, y0, ...) nearest
  /// to an affine image of the regular n-gon, into the 2 x 2 Zm. Three points
  /// go exactly onto the regular triangle. Fatal "ctrlPnts.size()%2==0".
  /// Returns false (Zm then undefined) when the map is singular or needs
  /// fewer than three points.
  static bool NMobiusPointAffineMap(const std::vector<double>& ctrlPnts, LinAlgMatrixComplex& Zm);
  /// The same with a weight per point (Z and wei of length N >= 1; the rule
  /// between the two candidates prefers the less sheared n-gon). Keeps its
  /// workspaces and rebuilds them when N changes. Fatal "Zm.Rows()==2 &&
  /// Zm.Cols()==2". Returns false when the map is singular.
  static bool QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS(LinAlgVectorComplex& Z,
                                                            LinAlgVectorReal& wei,
                                                            LinAlgMatrixComplex& Zm);
  /// The Mobius map taking the first four points of the flat list to the
  /// corners 0, 1, 1 + w, w of a parallelogram with Im w >= 0 (a candidate
  /// with a constant map is never taken). Fewer than eight values: returns
  /// false and leaves Zm alone. Returns false also for a flat parallelogram
  /// or a singular map (Zm then undefined).
  static bool MapQuadrupletToParallelogram(const std::vector<double>& ctrlPnts,
                                           LinAlgMatrixComplex& Zm);
  /// True when the Mobius matrix is finite and far from singular:
  /// |det M| >= 1e-6 |M|_F^2.
  static bool IsRegularMobius(const LinAlgMatrixComplex& M);

  // === Intermediate operators
  /// The fits of the operator groups, as documented on QuasiConfGlobalMap
  /// (operators 1 and 2) and QuasiConfMLSFit (operator 4).
  bool FillAffineOn4Pnt(LinAlgVectorComplex& tZ, LinAlgVectorComplex& tW) {
    return m_Global.FillAffineOn4Pnt(tZ, tW);
  }
  LinAlgComplex LinearTransform(LinAlgComplex z) { return m_Global.LinearTransform(z); }
  void FillNPointInterpMVC(LinAlgVectorComplex& src, LinAlgVectorComplex& dst) {
    m_Global.FillNPointInterpMVC(src, dst);
  }
  LinAlgComplex MVCTransform(LinAlgComplex z) { return m_Global.MVCTransform(z); }
  bool QCONF_FPI_MLS(LinAlgVectorComplex& ctrlOrig, LinAlgVectorComplex& ctrlNew,
                     LinAlgVectorComplex& P, LinAlgVectorComplex& tP) {
    return m_MLS.QCONF_FPI_MLS(ctrlOrig, ctrlNew, P, tP);
  }
  bool FastFPIMLS(const std::vector<double>& targets, LinAlgVectorComplex& tP) {
    return m_MLS.FastFPIMLS(targets, tP);
  }

 private:
  friend class QuasiConfGlobalMap;
  friend class QuasiConfMLSFit;
  friend class QuasiConfLineMode;

  // The operator groups; each keeps its state between mode switches.
  QuasiConfGlobalMap m_Global;  // operators 0 to 3
  QuasiConfMLSFit m_MLS;        // operator 4
  QuasiConfLineMode m_Lines;    // operators 5 and 6

 public:
  // === State
  IntermediateOperator m_IntermediateOp;
  TimeProfiler m_Profiler;
  int m_iNumDeforms;
  double m_fDelta1;
  double m_fDelta2;
  bool m_bLineOnSide[4];

  // The operators' state, as the tests and tools reach it.
  LinAlgMatrixComplex& m_MobiusOrig;  // operators 0 to 3: normalisation of the originals in use
  LinAlgMatrixComplex& m_MobiusNew;   // of the targets; holds its inverse after Deform
  LinAlgMatrixReal& m_LinearMap;      // alpha = A00 + i A01, beta = A10 + i A11
  std::vector<double>& m_MVCSource;   // normalised originals (operator 2), flat
  std::vector<double>& m_MVCTarget;   // normalised targets (operator 2), flat
  std::unique_ptr<LinAlgVectorComplex>& m_pCtrlOrig;  // operator 4's work set
  std::unique_ptr<LinAlgVectorComplex>& m_pVertRest;
  std::unique_ptr<LinAlgVectorComplex>& m_pVertOut;
  std::unique_ptr<LinAlgMatrixReal>& m_pWeights;
  /// The line-constraint set of operators 5 and 6 (at most one), owned.
  std::vector<std::unique_ptr<QuasiConfLines>>& m_LineConstraints;

 private:
  /// The object of the running operator (0 and 3 are the global identity).
  QuasiConfOperator& Operator();
  const QuasiConfOperator& Operator() const;
  /// Every operator's maps back to the identity (mesh drawn at rest).
  void ResetMaps();
  /// Every vertex back at its rest position.
  void RestoreRestMesh();
  /// Re-run after a mode or parameter change.
  void Rerun();
  /// Prints one "[WARNING] ..." line when the state turns singular.
  void WarnSingular(const char* what);
  /// After a fit: a good one clears the singular state, a refused one warns.
  void ReportFit(bool good, const char* what);

  bool m_bSingular;        // the last fit was refused (warned once)
  bool m_bWarnedPixelMode;
};
