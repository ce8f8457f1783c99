#pragma once

// Operator 4 of the quasi-conformal family: moving least squares, a fit of
// its own at every mesh vertex.
#include <memory>
#include <vector>

#include "deform/quasiconf/QuasiConfOperator.h"
#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorComplex.h"
#include "linalg/LinAlgVectorReal.h"

namespace quasiconf_detail {
struct FastFitWork;
}

/// For every mesh vertex P its own weighted Mobius normalisations of the
/// originals and the targets (weights 1/(sqrt|P - c_j| + 1e-6), normalised to
/// sum 1) and its own weighted R-linear fit between them. Only mesh vertices
/// are mapped; they are the operator's whole state.
class QuasiConfMLSFit : public QuasiConfOperator {
 public:
  QuasiConfMLSFit();
  ~QuasiConfMLSFit() override;

  // === Operator interface
  int MinimumPoints(const DeformQuasiConf&) const override { return 3; }
  bool KeepsVertices() const override { return true; }
  void Reset() override { m_bPrepared = false; }
  /// The work set and the fast preparation (mesh mode, three points or more);
  /// false, with one warning, when a vertex's normalisation is singular.
  bool Prepare(DeformQuasiConf& q) override;
  /// Every vertex through its fit to the targets (the rest mesh exactly while
  /// nothing moved); pixel mode warns once and shows the image undeformed.
  bool Deform(DeformQuasiConf& q) override;
  /// Fatal "false": only mesh vertices are fitted.
  void MapPoint(DeformQuasiConf& q, double x, double y, double& outX, double& outY) override;
  bool MapsPoints(const DeformQuasiConf&) const override { return false; }
  /// Nothing: Deform moved the vertices.
  void MapMeshVertices(DeformQuasiConf&) override {}

  // === The fit
  /// The documented route: for every point of P its own weighted
  /// normalisations of ctrlOrig and ctrlNew and its own weighted R-linear fit,
  /// into tP. Uses the work set (built by Prepare). Fatal "tP.Rows()==P.Rows()".
  /// Returns false when a fit is singular (tP then partly written).
  bool QCONF_FPI_MLS(LinAlgVectorComplex& ctrlOrig, LinAlgVectorComplex& ctrlNew,
                     LinAlgVectorComplex& P, LinAlgVectorComplex& tP);
  /// The same map with everything that depends only on the originals taken
  /// from the preparation and the targets' fits of all vertices in the vector
  /// kernel (QuasiConfMLSKernel.h, no library call per vertex): the route
  /// Deform uses. Equal to QCONF_FPI_MLS to 1e-9 or to that route's own
  /// rounding sensitivity. Returns false when there is no valid preparation or
  /// a fit is singular (tP then partly written).
  bool FastFPIMLS(const std::vector<double>& targets, LinAlgVectorComplex& tP);
  /// Releases the work set and the fast preparation.
  void Release();

  // === Work set, built by Prepare for n >= 3 points
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

 private:
  /// The work set and the fast tables; false when the fit of a vertex is
  /// singular.
  bool Build(const DeformQuasiConf& q);
  /// Allocates the documented work set for n points and the mesh and fills
  /// the originals, the targets and the rest positions.
  void AllocateWorkSet(const DeformQuasiConf& q, int n);
  struct VertexWork;
  /// The fast tables of vertex k with the originals' fit (8 doubles, or null
  /// for three points); false when its normalisation is singular.
  bool PrepareVertex(int k, int n, const double* fit, VertexWork& work);

  bool m_bPrepared = false;  // the work set fits the points
  // What the preparation leaves for the fast route, per vertex k of the n
  // points: the normalised weights (k n + j), the vertex in its local frame,
  // and the 3 x n matrix (k 3n + r + 3j) that turns the normalised targets
  // into the fit coefficients (c0, c1, c2).
  std::vector<double> m_FastWeights;
  std::vector<LinAlgComplex> m_FastLocalVertex;
  std::vector<LinAlgComplex> m_FastCoeffs;   // three points: vertex by vertex
  std::vector<double> m_FastGroupedWeights;  // four or more points: GroupByVertex
  std::vector<double> m_FastGroupedCoeffs;   // four or more points: GroupByVertex
  std::unique_ptr<quasiconf_detail::FastFitWork> m_pFastFit;  // the fast fit's workspaces
};
