#pragma once

#include <memory>
#include <vector>

#include "deform/Warpixator.h"
#include "deform/quasiconf/QuasiConfLines.h"
#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorComplex.h"
#include "linalg/LinAlgVectorReal.h"
#include "support/TimeProfiler.h"

namespace quasiconf_detail {
struct FastFitWork;
}

/// The quasi-conformal family. Points are complex numbers x + iy; a Mobius
/// matrix [[a, b], [c, d]] stands for z -> (az + b)/(cz + d). Operators 0 to 3
/// map z -> Mnew^-1(op(Morig(z))), where Morig normalises the original control
/// points, Mnew the targets, and op is the identity (0, 3), the affine map
/// between two parallelograms (1) or mean value coordinates between the
/// normalised polygons (2). Operator 4 fits its own weighted normalisations
/// and R-linear map at every mesh vertex. Operators 5 and 6 constrain the
/// sides of a quadrilateral of four points to stay straight.
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
  /// Fits m_LinearMap (z -> alpha z + beta conj z) from the first three
  /// normalised originals tZ to tW; three or fewer points leave it. Fatal
  /// "tZ.Rows()==tW.Rows()". Returns false (map unchanged) when singular.
  bool FillAffineOn4Pnt(LinAlgVectorComplex& tZ, LinAlgVectorComplex& tW);
  /// alpha z + beta conj z with alpha, beta read from m_LinearMap.
  LinAlgComplex LinearTransform(LinAlgComplex z);
  /// m_MVCSource, m_MVCTarget = the flat lists of src and dst.
  void FillNPointInterpMVC(LinAlgVectorComplex& src, LinAlgVectorComplex& dst);
  /// z interpolated by its mean value coordinates from m_MVCSource onto
  /// m_MVCTarget (trigonometric coordinates into a fresh vector); where they
  /// are not finite, z moves by the mean displacement of the polygons.
  LinAlgComplex MVCTransform(LinAlgComplex z);
  /// Operator 4 as documented: for every point of P its own weighted Mobius
  /// normalisations of ctrlOrig and ctrlNew (weights 1/(sqrt|P - c_j| + 1e-6),
  /// normalised to sum 1) and its own weighted R-linear fit, into tP. Uses the
  /// MLS work set (built by PrepareDeformator). Fatal "tP.Rows()==P.Rows()".
  /// Returns false when a fit is singular (tP then partly written).
  bool QCONF_FPI_MLS(LinAlgVectorComplex& ctrlOrig, LinAlgVectorComplex& ctrlNew,
                     LinAlgVectorComplex& P, LinAlgVectorComplex& tP);
  /// The same map with everything that depends only on the originals taken
  /// from the preparation and one right-vectors-only SVD per vertex: the
  /// route Deform uses. Equal to QCONF_FPI_MLS to rounding. Returns false when
  /// there is no valid preparation or a fit is singular.
  bool FastFPIMLS(const std::vector<double>& targets, LinAlgVectorComplex& tP);

  // === State
  LinAlgMatrixComplex m_MobiusOrig;  // normalisation of the originals in use
  LinAlgMatrixComplex m_MobiusNew;   // of the targets; holds its inverse after Deform
  LinAlgMatrixReal m_LinearMap;      // alpha = A00 + i A01, beta = A10 + i A11
  std::vector<double> m_MVCSource;   // normalised originals (operator 2), flat
  std::vector<double> m_MVCTarget;   // normalised targets (operator 2), flat
  IntermediateOperator m_IntermediateOp;
  TimeProfiler m_Profiler;
  int m_iNumDeforms;

  // MLS work set (operator 4), built by PrepareDeformator for n >= 3 points.
  std::unique_ptr<LinAlgVectorComplex> m_pCtrlOrig;
  std::unique_ptr<LinAlgVectorComplex> m_pCtrlNew;
  std::unique_ptr<LinAlgVectorComplex> m_pVertRest;
  std::unique_ptr<LinAlgVectorComplex> m_pVertOut;
  std::unique_ptr<LinAlgMatrixComplex> m_pMobiusOrigLocal;
  std::unique_ptr<LinAlgMatrixComplex> m_pMobiusNewLocal;
  std::unique_ptr<LinAlgMatrixComplex> m_pDesign;
  std::unique_ptr<LinAlgVectorComplex> m_pFitCoeffs;
  std::unique_ptr<LinAlgVectorReal> m_pWeightRow;
  std::unique_ptr<LinAlgVectorReal> m_pWeightFit;
  std::unique_ptr<LinAlgVectorComplex> m_pLocalOrig;
  std::unique_ptr<LinAlgVectorComplex> m_pLocalNew;
  std::unique_ptr<LinAlgVectorComplex> m_pNormOrig;
  std::unique_ptr<LinAlgVectorComplex> m_pNormNew;
  std::unique_ptr<LinAlgMatrixComplex> m_pWeightDiag;
  std::unique_ptr<LinAlgMatrixComplex> m_pWeightedDesign;
  std::unique_ptr<LinAlgVectorComplex> m_pWeightedRhs;
  std::unique_ptr<LinAlgMatrixReal> m_pWeights;

  double m_fDelta1;
  double m_fDelta2;
  bool m_bLineOnSide[4];

 private:

  /// Fewest points the operator needs before it fits anything.
  int MinimumPoints() const;
  /// Maps and line set back to the identity (mesh drawn at rest).
  void ResetMaps();
  /// Releases the operator-4 work set and its fast preparation.
  void ReleaseMLSWorkSet();
  /// Builds the operator-4 work set and the fast preparation; false when a
  /// vertex's normalisation of the originals is singular.
  bool PrepareMLS();
  /// The target-side work of operators 0 to 3; false when singular.
  bool DeformGlobal();
  /// Re-run after a mode or parameter change.
  void Rerun();
  /// Prints one "[WARNING] ..." line when the state turns singular.
  void WarnSingular(const char* what);

  LinAlgMatrixComplex m_PreparedOrig;  // the originals' normalisation of the last preparation
  bool m_bPrepared;                    // m_PreparedOrig (or the MLS work set) fits the points
  bool m_bSingular;                    // the last fit was refused (warned once)
  bool m_bWarnedPixelMode;
  bool m_bAtOriginals;                 // the committed fit had every target on its original

 public:
  /// The line-constraint set of operators 5 and 6 (at most one), owned.
  std::vector<std::unique_ptr<QuasiConfLines>> m_LineConstraints;

 private:
  /// Operators 5 and 6 with exactly four points: builds the constraint
  /// quadrilateral and its line set; false (no set) when it is singular.
  bool PrepareLines();
  /// A line set over the four originals with the given offset factor and
  /// side switches, and the originals' normalisation into mobiusOrig (the
  /// identity for operator 6); nullptr, with the reason in problem, when a
  /// side has no length or no parallelogram fits. report: print the set's
  /// "delta=" and "Created Line pair" lines.
  std::unique_ptr<QuasiConfLines> NewLineSet(double delta, const bool* sides,
                                             LinAlgMatrixComplex& mobiusOrig, bool report,
                                             const char*& problem);
  /// Deform's step of a line set: the targets' normalisation into mobiusNew
  /// and the set updated to the targets; false when refused.
  bool UpdateLineSet(QuasiConfLines& set, LinAlgMatrixComplex& mobiusNew);
  /// Whether a line mode may take this delta and these side switches: true
  /// unless a line set is on show and a trial set built with them refuses
  /// the originals or the current targets. Changes nothing.
  bool LinesAccept(double delta, const bool* sides);
  // What the preparation leaves for the fast operator-4 route, per vertex k
  // of the n points: the normalised weights (k n + j), the vertex in its local
  // frame, and the 3 x n matrix (k 3n + r + 3j) that turns the normalised
  // targets into the fit coefficients (c0, c1, c2).
  std::vector<double> m_FastWeights;
  std::vector<LinAlgComplex> m_FastLocalVertex;
  std::vector<LinAlgComplex> m_FastCoeffs;
  std::unique_ptr<quasiconf_detail::FastFitWork> m_pFastFit;  // the fast fit's workspaces
  std::vector<double> m_Scratch;  // rest and mapped positions of MapMeshVertices
};
