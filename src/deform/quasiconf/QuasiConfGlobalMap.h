#pragma once

// Operators 0 to 3 of the quasi-conformal family: one map for the whole
// plane, z -> Mnew^-1(op(Morig(z))).
#include <vector>

#include "deform/quasiconf/QuasiConfOperator.h"
#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorComplex.h"

/// The global operators: Morig normalises the original control points, Mnew
/// the targets, and op in between is the identity (0, 3), the R-linear map
/// between two parallelograms (1) or mean value coordinates between the
/// normalised polygons (2). The operator in use is the deformator's.
class QuasiConfGlobalMap : public QuasiConfOperator {
 public:
  /// Identity normalisations and R-linear map.
  QuasiConfGlobalMap();

  // === Operator interface
  /// Four for the parallelograms of operator 1, three otherwise.
  int MinimumPoints(const DeformQuasiConf& q) const override;
  void Reset() override;
  /// The originals' normalisation (parallelogram or n-gon), kept until Deform.
  bool Prepare(DeformQuasiConf& q) override;
  /// The targets' normalisation and the operator fit; a refused fit keeps
  /// the last good maps and warns once.
  bool Deform(DeformQuasiConf& q) override;
  /// z -> Mnew^-1(op(Morig(z))); exactly (x, y) while every target sits on
  /// its original.
  void MapPoint(DeformQuasiConf& q, double x, double y, double& outX, double& outY) override;
  bool MapsPoints(const DeformQuasiConf&) const override { return true; }
  /// MapPoint's arithmetic for every vertex at the vector width; a vertex
  /// whose image is not finite keeps its place.
  void MapMeshVertices(DeformQuasiConf& q) override;
  /// MapPoint for the count points (x[k], y[k]), at once with the mesh
  /// route's kernels (no per-point timing) for operators 0, 1 and 3: every
  /// finite image equals MapPoint's bit for bit; a point whose image is not
  /// finite keeps (outX[k], outY[k]) as they were.
  void MapPoints(DeformQuasiConf& q, int count, const double* x, const double* y, double* outX,
                 double* outY);

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
  /// m_MVCTarget; where they are not finite, z moves by the mean
  /// displacement of the polygons.
  LinAlgComplex MVCTransform(LinAlgComplex z);

  // === State
  LinAlgMatrixComplex m_MobiusOrig;  // normalisation of the originals in use
  LinAlgMatrixComplex m_MobiusNew;   // of the targets; holds its inverse after Deform
  LinAlgMatrixReal m_LinearMap;      // alpha = A00 + i A01, beta = A10 + i A11
  std::vector<double> m_MVCSource;   // normalised originals (operator 2), flat
  std::vector<double> m_MVCTarget;   // normalised targets (operator 2), flat

 private:
  /// The targets' normalisation and the operator fit, committed only when
  /// every step succeeds; false when singular.
  bool Fit(DeformQuasiConf& q);
  /// Operator 2's mesh route: the vertices through Morig, the mean value
  /// coordinates and Mnew^-1 (flat Mobius elements as the kernels read them).
  void MapVerticesByMVC(DeformQuasiConf& q, const double* orig, const double* inverse);
  /// The originals' Mobius map and the inverse of the targets' one as flat
  /// arrays of eight doubles each (the mesh kernels' form).
  void FlatMaps(double* orig, double* inverse);

  LinAlgMatrixComplex m_PreparedOrig;  // the originals' normalisation of the last preparation
  bool m_bPrepared = false;            // m_PreparedOrig fits the points
  bool m_bAtOriginals = false;         // the committed fit had every target on its original
  std::vector<double> m_Scratch;       // rest and mapped positions of MapVerticesByMVC, MapPoints
};
