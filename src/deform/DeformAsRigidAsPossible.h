#pragma once

// As-rigid-as-possible deformation of the regular mesh in two least-squares
// steps. Step 1 moves the free vertices so that every triangle keeps its rest
// shape up to a similarity as well as possible: with the targets q of the
// control points, the free parameters are u = M q for a matrix M built once
// per preparation. Step 2 (Rescale) fits to every step-1 triangle a triangle
// similar to its rest shape, scales it by the scale rule, and solves once more
// so that all edges match the fitted triangles. Control points are pinned to mesh vertices. With
// QuasiConf the free vertices of step 1 come from an inner quasi-conformal
// deformator (operator AffineQuad) instead.
//
// Parameters: every vertex has an x and a y; the free vertices are numbered
// first in increasing vertex index, then the constrained vertices in the
// order of the control points (a vertex that carries several points counts
// once, with the target of its last point).
//
// Two routes build the same maps: the dense one (the energy matrices as
// dense arrays, a dense inverse and a dense LU) and the sparse one (sparse
// LDL^T factors, once per preparation: step 1 as the Hermitian system of the
// same energy over complex positions z = x + i y, of half the real order,
// and step 2 as the one matrix that x and y share). The sparse route is the
// default: it is faster at every mesh size measured.
#include <map>
#include <memory>
#include <vector>

#include "deform/Warpixator.h"
#include "linalg/LinAlgFactor.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

class DeformQuasiConf;
namespace arap_detail {
struct Step1Memo;
}

class DeformAsRigidAsPossible : public Warpixator {
 public:
  /// How step 2 sizes each fitted triangle before the edge fit.
  enum class ScaleRule {
    kFitted,  // by |fitted first edge| / |step-1 first edge|: keeps step 1's size
    kRest     // by |rest first edge| / |fitted first edge|: the rest size (rigid)
  };

  /// A triangle similar to one face's rest shape, fitted by least squares to
  /// three given corners.
  class FittedTriangle {
   public:
    /// Takes the shape from the current positions (m_fX, m_fY) of the three
    /// vertices (the caller hands copies holding the rest shape). A shape
    /// whose first edge has no length, that is not finite, or whose fit does
    /// not give its own corners back (too thin for double precision) cannot
    /// be fitted: Valid() is then false and the fit returns the given corners.
    FittedTriangle(ImgVertex v0, ImgVertex v1, ImgVertex v2, int face);
    /// Stores the local coordinates and the inverse of the fit's 4 x 4
    /// normal matrix; false when it cannot be inverted.
    bool FillMatrixF(double x01, double y01);
    /// The fitted corners for the given corners into x0f ... y2f, scaled
    /// about their centroid by the rule's ratio. kFitted: the edge ratio (or,
    /// where that ratio exceeds kMaxEdgeScale or is not finite, the ratio of
    /// the triangles' RMS sizes). kRest: the rest first edge over the fitted
    /// one; a fitted first edge of no length (or a ratio that is not finite)
    /// keeps the fitted triangle as it is.
    void GetFittedTriangle(double x0, double y0, double x1, double y1, double x2, double y2,
                           ScaleRule rule = ScaleRule::kFitted);
    bool Valid() const { return m_bValid; }

    int m_iFace;
    double x0f = 0, y0f = 0, x1f = 0, y1f = 0, x2f = 0, y2f = 0;
    std::unique_ptr<LinAlgVectorReal> m_pB;
    std::unique_ptr<LinAlgVectorReal> m_pX;
    std::unique_ptr<LinAlgMatrixReal> m_pF;
    double x01 = 0, y01 = 0;
    double m_fRestEdge = 0;  // length of the rest shape's first edge

   private:
    bool m_bValid = true;
  };

  // === Constructor
  /// With useQuasiConf an inner DeformQuasiConf named "QuasiConf_" + name
  /// (operator AffineQuad) supplies step 1's free vertices; rescale runs step 2,
  /// which sizes its fitted triangles by scaleRule.
  DeformAsRigidAsPossible(bool useQuasiConf, bool rescale, R2Image& image, const ZelString& name,
                          ScaleRule scaleRule = ScaleRule::kFitted);
  ~DeformAsRigidAsPossible() override;

  // === Methods
  /// Snaps (x, y) to the nearest mesh vertex by current position (the
  /// nearest opaque one with "n"), prints "actual=[x, y]", adds the point
  /// there and prepares from the fourth point on. Pixel mode: the base.
  void AddControlPoint(double x, double y, double* outX, double* outY) override;
  /// Numbers the parameters and builds step 1's map and step 2's factors on
  /// the rest mesh. Builds nothing (the unprepared state) outside mesh mode,
  /// below four points or with fewer than two constrained vertices.
  void PrepareDeformator() override;
  /// At every call: control-point vertices onto their targets; prepared,
  /// the free vertices by step 1 and, with Rescale, step 2. Unprepared, the
  /// free vertices stay where they are.
  void Deform() override;
  /// Only mesh vertices are mapped: fatal "false" in mesh mode; the identity
  /// in pixel mode, where nothing is deformed. MapsPoints() says so, and no
  /// caller reaches it.
  void MapPoint(double x, double y, double& outX, double& outY) override;
  /// False: the solve moves the mesh vertices only.
  bool MapsPoints() const override;
  /// Nothing: Deform sets the positions.
  void MapMeshVertices() override;

  // === Assembly (the dense route's matrices)
  /// Adds the energy of vertex v2's error against the position v0 and v1
  /// predict from the rest shape. A triple whose base edge has no length is
  /// skipped.
  void AddCoeffsForTriangleStep1(LinAlgMatrixReal& G, ImgVertex& v0, ImgVertex& v1, ImgVertex& v2);
  /// G(p1, p2) += value and, for p1 != p2, G(p2, p1) += value.
  void AddValueG(LinAlgMatrixReal& G, ImgVertex& v1, ImgVertex& v2, int coord1, int coord2,
                 double value);
  void AddCoeffsForTriangleStep2(LinAlgMatrixReal& H, FittedTriangle& t);
  void AddCoeffsForTriangleStep2(LinAlgVectorReal& f, FittedTriangle& t);

  /// Largest edge ratio the fitted triangle's scale takes before the RMS
  /// size ratio replaces it (ordinary drags give 0.5 to 1.8).
  static constexpr double kMaxEdgeScale = 4.0;
  /// A fitted first edge at most this fraction of the rest one has no size
  /// for the rest rule (rounding leaves about 1e-16 of a fit to a point).
  static constexpr double kNoSize = 1e-9;
  /// The dense route's largest matrix order (2 x vertex count); above it the
  /// sparse route runs even when the dense one is asked for (about 290 MB).
  static constexpr int kDenseMaxOrder = 6000;

  // === State
  int m_iNumFreeParams;
  int m_iNumConstrainedParams;
  // Step 1's map and step 2's coupling block and factor are read only once
  // prepared, and shared with other cells prepared on the same rest mesh and
  // constrained vertices (see PrepareSparse).
  std::shared_ptr<LinAlgMatrixReal> m_pStep1Map;
  std::vector<std::unique_ptr<FittedTriangle>> m_FittedTriangles;
  std::unique_ptr<LinAlgMatrixReal> m_pStep2H;  // dense route only
  std::shared_ptr<LinAlgMatrixReal> m_pStep2HC;
  std::vector<LinAlgTriplet> m_Step2Coupling;  // its non-zero entries, column by column
  std::unique_ptr<LinAlgVectorReal> m_pStep2F;
  std::unique_ptr<LinAlgVectorReal> m_pStep2Rhs;
  std::unique_ptr<LinAlgVectorReal> m_pConstrainedParams;
  std::unique_ptr<LinAlgVectorReal> m_pFreeParams;
  std::vector<int> m_ConstrainedParamToVertex;  // per control point; -1 for none
  std::vector<int> m_FreeParamToVertex;
  std::vector<int> m_ParamToVertex;
  std::vector<int> m_iVertexToParam;
  std::map<int, bool> m_ConstrainedVertices;
  bool m_bRescale;
  ScaleRule m_ScaleRule;
  bool m_bUseQuasiConf;
  std::unique_ptr<DeformQuasiConf> m_pQuasiConf;
  /// Build the dense route's matrices (default: false, the sparse route).
  bool m_bDenseRoute = false;
  /// Run each frame on flat per-face arrays, step 2's x and y in one pass
  /// through its factor, and step 1's product shared with the cells on the
  /// same systems and targets (default: true). False runs the fitted-triangle
  /// objects and a column-by-column solve: the same results up to rounding.
  bool m_bFlatFrame = true;

  /// The fits of all faces as flat arrays: each face's vertices and their
  /// parameters (3 per face; x at 2 param, y at 2 param + 1, the free ones
  /// first), whether its FittedTriangle is valid, and what that holds as
  /// warpix::ArapFitTerm rows of one double per face.
  struct FaceFits {
    std::vector<int> vertex;  // 3 per face
    std::vector<int> param;
    std::vector<unsigned char> valid;
    std::vector<double> terms;
  };
  /// With Rescale; read only once prepared, and shared like step 2's factor
  /// (a frame of the next cell then finds them in the cache).
  std::shared_ptr<const FaceFits> m_pFaceFits;
  /// The corners the last frame fitted: rows x0, y0, x1, y1, x2, y2 of one
  /// double per face (and the corners it fitted them to, in the same layout).
  std::vector<double> m_Fitted;
  std::vector<double> m_FitCorners;

  /// True once a preparation has built step 1's map.
  bool Prepared() const { return m_pStep1Map != nullptr; }

 private:
  /// Gives every control point whose original position changed since it was
  /// snapped (or that is new: replay, the base's clear) its vertex.
  void SyncControlVertices();
  /// The vertex a point at (x, y) snaps to, or -1.
  int SnapVertex(double x, double y, bool warn);
  /// Hands the inner deformator the control points as they stand.
  void SyncQuasiConf(bool prepare);
  void Release();
  /// Both routes: step 1's map, then (Rescale) step 2's matrices. False
  /// when a system is singular.
  bool PrepareDense();
  bool PrepareSparse();
  /// The sparse route's step 1 (its map) and step 2 (its factor and coupling
  /// block), built anew; PrepareSparse takes them from another cell when it can.
  bool PrepareSparseStep1();
  bool PrepareSparseStep2();
  /// About how many bytes the preparation on the numbered parameters will
  /// allocate (dense: the dense route's); counts the sparse route's step-1
  /// entries into m_iStep1Entries.
  double PreparationBytes(bool dense);
  void BuildFittedTriangles();
  /// Step 1's u = M q; a cell on the same map with the same targets as the
  /// last product takes its result.
  void Step1Product();
  /// Step 2's right-hand side from the current positions into m_pStep2Rhs:
  /// on the fitted-triangle objects, or on the flat arrays.
  void Step2RhsByObjects();
  void Step2RhsFlat();
  /// Step 2's solve of H u = rhs into m_pFreeParams.
  void SolveStep2();
  /// Step 1 with QuasiConf: the free vertices' rest positions through the
  /// inner deformator's map in one batch; a vertex whose image is not finite
  /// stays where it is.
  void MapFreeVerticesByQuasiConf();

  std::vector<int> m_ConstrainedOrder;  // distinct constrained vertices, in control-point order
  std::vector<int> m_ParamSource;       // per constrained pair: the control point whose target it takes
  std::vector<double> m_SnappedAt;      // the original positions the vertices were snapped for
  size_t m_iStep1Entries = 0;           // the sparse route's step-1 entries (PreparationBytes)
  std::vector<double> m_QuasiConfScratch;  // rest and mapped positions of the free vertices
  size_t m_iWarnedUnfitted = 0;         // unfittable triangles last reported by BuildFittedTriangles
  std::unique_ptr<LinAlgDenseLU> m_pStep2LU;
  std::shared_ptr<const LinAlgSparseCholesky> m_pStep2Cholesky;  // free vertices' x (and y) block
  std::shared_ptr<arap_detail::Step1Memo> m_pStep1Memo;  // held with m_pStep1Map
};
