#pragma once

#include <vector>

#include "deform/CoordinateTable.h"
#include "deform/Warpixator.h"
#include "linalg/LinAlgVectorComplex.h"

/// Moving least squares on the regular mesh: every vertex gets its own best
/// affine map, similarity or rotation with translation carrying the original
/// control points onto their targets, with weights 1/(|P - X| + 1e-6)^2.
/// Points are complex numbers x + iy. New control points snap to the nearest
/// mesh vertex.
/// Needs mesh mode: in pixel mode (or without a mesh) points keep their clicked
/// positions and nothing is deformed, so the undeformed image is shown.
class DeformMLS : public Warpixator {
 public:
  /// The map fitted at each vertex.
  enum MLSErrorType {
    MLS_FIT_SIMILARITY = 0,  // rotation, uniform scale and translation
    MLS_RIGID = 1,           // rotation and translation only
    MLS_AFFINE = 2           // any affine map; the similarity where that is undetermined
  };

  // === Constructor
  DeformMLS(R2Image& image, const ZelString& name, MLSErrorType type);
  ~DeformMLS() override;

  // === Methods
  /// Snaps (x, y) to the mesh vertex nearest to it (current positions, lowest
  /// index on a tie), prints "actual=[x, y]" and adds the point there, at rest.
  /// Without a mesh or in pixel mode the clicked position is kept.
  void AddControlPoint(double x, double y, double* outX, double* outY) override;
  /// The affine fit: its per-vertex coefficients, which depend only on the
  /// originals and the rest mesh (see PrepareAffine). The other fits: nothing,
  /// every quantity depends on the targets.
  void PrepareDeformator() override;
  /// Honours m_bNeedsUpdate; moves every vertex's current position to its
  /// fitted map of the rest position. No point: the rest mesh; one point (or
  /// coincident ones): a translation. The affine fit takes the similarity fit
  /// at vertices where it is undetermined (fewer than three points, or points
  /// on one line). Does nothing outside mesh mode.
  void Deform() override;
  /// Not available: this method maps mesh vertices only (fatal "false";
  /// MapsPoints() says so, and no caller reaches it).
  void MapPoint(double x, double y, double& outX, double& outY) override;
  /// False: the fit is made at the mesh vertices only.
  bool MapsPoints() const override;
  /// Nothing: Deform sets the current positions itself.
  void MapMeshVertices() override;

  // === Solvers
  /// The fit through dense complex products and a least-squares solve per
  /// point: P holds the m original points, tP their targets, X the n points to
  /// map, tX (n entries, allocated by the caller) receives their images.
  /// Fatal "tP.Rows()==P.Rows()". Where the fit is undetermined (one point,
  /// or coincident originals) the point is translated by q* - p*; where the
  /// targets collapse onto one point the rigid rotation stays 1.
  void QCONF_closed_MLS(LinAlgVectorComplex& P, LinAlgVectorComplex& tP, LinAlgVectorComplex& X,
                        LinAlgVectorComplex& tX);
  /// The same fit in closed form, a = sum_j w_j conj(p^_j) q^_j / sum_j w_j |p^_j|^2
  /// with w_j = W(i, j)^2, from the flat point lists orig and target (x0, y0,
  /// x1, y1, ..., equally long) for every vertex: rest position in, current
  /// position out. Allocates nothing per vertex. Used by Deform.
  void ClosedMLSFast(const std::vector<double>& orig, const std::vector<double>& target,
                     std::vector<ImgVertex>& vertices);

  MLSErrorType m_ErrorType;

  /// Vertices per stretch when the affine coefficients of the whole mesh would
  /// exceed the table limit and are computed anew at every frame instead.
  static constexpr int kAffineStretch = 4096;

 private:
  /// The affine fit's coefficient table of the whole mesh for the current
  /// originals, or (beyond the table limit) none: Deform then works stretch
  /// by stretch.
  void PrepareAffine();
  /// The affine fit of every vertex from the current targets.
  void DeformAffine();
  /// The similarity fit of the vertices listed in m_AffineUndetermined.
  void FitUndeterminedBySimilarity();

  std::vector<double> m_Weights;  // scratch of ClosedMLSFast: one weight per control point and lane
  warpix::CoordinateTable m_AffineTable;  // the affine coefficients, or a stretch's
  std::vector<int> m_AffineUndetermined;  // vertices the affine fit leaves to the similarity
  std::vector<double> m_AffineOrig;       // the originals m_AffineTable was made for
  int m_iAffineVertices = -1;             // and the vertex count
  bool m_bAffineStretches = false;        // the whole table did not fit the limit
  std::vector<Warpixator::ImgVertex> m_Undetermined;  // scratch of FitUndeterminedBySimilarity
};
