#pragma once

// How far a deformator's cell is from keeping angles and areas, per face of
// its mesh and summed up per cell, in the picture's own pixel units (u times
// the width, v times the height), so that a non-square picture is measured
// as a person sees it. A face's rest triangle is where its corners lie in the
// picture (their texture coordinates); its deformed triangle is where the
// cell draws them.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "deform/Warpixator.h"

/// What a face's measurement needs of its rest triangle.
struct DistortionRestFace {
  int m_iV0, m_iV1, m_iV2;
  double m_fInv00, m_fInv01, m_fInv10, m_fInv11;  // inverse of [P1 - P0, P2 - P0]
  double m_fRestArea;                             // in square pixels
  bool m_bLeftOut;                                // wholly transparent or degenerate at rest
};

/// One face: the affine map J from its rest triangle to its deformed one.
struct FaceDistortion {
  double m_fConformal = 1.0;  // K = s1 / s2 of J (1: angles kept; infinity: collapsed)
  double m_fArea = 1.0;       // det J, the deformed area over the rest area (negative: flipped)
  bool m_bFlipped = false;    // det J < 0
};

/// One cell's summary over the faces that are not wholly transparent.
struct CellDistortion {
  double m_fConformalMax = 1.0;   // largest K over faces that are not flipped
  double m_fConformalMean = 1.0;  // rest-area-weighted mean K over the same faces
  double m_fAreaMin = 1.0;        // smallest det J (all counted faces)
  double m_fAreaMax = 1.0;        // largest det J
  int m_iFlipped = 0;             // faces with det J < 0
  double m_fFlippedShare = 0.0;   // their share of the counted rest area, in [0, 1]
  double m_fMaxShift = 0.0;       // largest corner displacement, in pixels
  int m_iFaces = 0;               // faces counted
  bool m_bMeasured = true;        // false: a pixel-mode cell of a method without a point map
};

class DistortionMetrics {
 public:
  /// Caches what depends only on the rest mesh: per face its corners, the
  /// inverse of its rest edge matrix, its rest area and whether every pixel it
  /// covers is transparent (the window texture's rule). A pixel-mode cell is
  /// measured on a temporary gridSize x gridSize mesh over the unit square
  /// mapped through MapPoint.
  explicit DistortionMetrics(Warpixator& deformator, int gridSize = 64);

  /// The cell as it is now (call after the deformation is up to date, as for
  /// drawing). perFace, when given, receives one entry per face of the mesh in
  /// mesh order (wholly transparent and degenerate-rest faces included). A
  /// pixel-mode cell of a method that maps mesh vertices only (MapsPoints()
  /// false) is not measured: m_bMeasured false, the other numbers as for the
  /// identity, every face K = 1 and the grid at rest.
  CellDistortion Measure(std::vector<FaceDistortion>* perFace = nullptr);

  /// Faces of the measured mesh, and whether face f is left out as wholly transparent.
  int NumFaces() const { return static_cast<int>(m_Faces.size()); }
  bool IsLeftOut(int face) const { return m_Faces[face].m_bLeftOut; }
  /// The measured mesh's faces and its current vertices (the cell's own, or
  /// the temporary grid mapped through MapPoint in pixel mode).
  const std::vector<Warpixator::ImgFace>& Faces() const;
  const std::vector<Warpixator::ImgVertex>& Vertices() const;

  /// K and det J of the 2 x 2 matrix [[a, b], [c, d]] in closed form: the
  /// singular values are |p| + |q| and ||p| - |q|| with p = ((a + d) / 2,
  /// (c - b) / 2) and q = ((a - d) / 2, (c + b) / 2). A singular or
  /// non-finite matrix gives K = infinity.
  static FaceDistortion OfMatrix(double a, double b, double c, double d);

  /// "Distortion <name>: K max a, mean b, area [c, d], flipped n (p%), max shift s px",
  /// K and areas to 4 decimals, p to 1, s to 2; infinity as "inf". A cell that
  /// is not measured: "Distortion <name>: not measured (<NotMeasuredReason>)".
  static std::string ConsoleLine(const char* name, const CellDistortion& cell);
  /// What a cell's name gains while the heat map shows: "K max a.aa mean b.bb,
  /// flips n", or "not measured".
  static std::string NameLabel(const CellDistortion& cell);
  /// Why a cell is not measured, as the console line and the report say it.
  static const char* NotMeasuredReason();

 private:

  void CacheRest();

  /// K and det of [[a, b], [c, d]] with one square root: with p = ((a + d) / 2,
  /// (c - b) / 2) and q = ((a - d) / 2, (c + b) / 2), s1^2 = |p|^2 + |q|^2 +
  /// 2 |p| |q| and s1 s2 = |det|, so K = s1^2 / |det| (at least 1; infinity
  /// for a singular or non-finite matrix).
  static inline void Distortion(double a, double b, double c, double d, double& conformal,
                                double& det) {
    const double e = 0.5 * (a + d), h = 0.5 * (c - b);
    const double f = 0.5 * (a - d), g = 0.5 * (c + b);
    const double p2 = e * e + h * h, q2 = f * f + g * g;
    det = a * d - b * c;
    const double k = (p2 + q2 + 2.0 * std::sqrt(p2 * q2)) / std::fabs(det);
    // Not a number (0 / 0, or a corner that is not a number) and a division
    // by zero both mean the face has collapsed.
    conformal = k < kInfinityBound ? (k > 1.0 ? k : 1.0) : std::numeric_limits<double>::infinity();
  }
  static constexpr double kInfinityBound = std::numeric_limits<double>::max();

  Warpixator& m_Deformator;
  bool m_bOwnGrid;
  std::vector<Warpixator::ImgVertex> m_GridVertices;  // pixel mode only
  std::vector<Warpixator::ImgFace> m_GridFaces;
  std::vector<DistortionRestFace> m_Faces;
  std::vector<char> m_VertexCounted;  // a vertex of some counted face
  std::vector<DistortionRestFace> m_Counted;  // the faces not left out, in order
  std::vector<int> m_CountedIndex;    // their indices in the mesh
  std::vector<double> m_PackedX, m_PackedY;  // current positions in pixels
  std::vector<double> m_K, m_Det;            // per counted face, from the last Measure
  double m_fWidth, m_fHeight;
};
