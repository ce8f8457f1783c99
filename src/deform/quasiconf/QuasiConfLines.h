#pragma once

// The line-constraint set of the quasi-conformal line modes. The four control
// points form a quadrilateral (side i runs from corner i to corner i + 1 mod
// 4); each constrained side is a QuasiConfDiscretizedLine. Mesh vertices
// behind a line (reached from its outer side without crossing another line
// or a wholly transparent face) move rigidly with the line's similarity;
// every other vertex moves by a thin-plate spline fitted, in Mobius-normalised
// coordinates, to the corners, the lines' samples and their offset copies.
#include <memory>
#include <vector>

#include "deform/DeformThinPlateSpline.h"
#include "deform/Warpixator.h"
#include "deform/quasiconf/QuasiConfDiscretizedLine.h"
#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgVectorComplex.h"

class R2Image;
class WarpixatorCanvas;

class QuasiConfLines {
 public:
  using ImgFace = Warpixator::ImgFace;
  using ImgVertex = Warpixator::ImgVertex;

  /// oldLines: the 4 corners; oldNorms: each side's outward unit normal; N
  /// samples per segment; delta: the offset factor; map: the corners' Mobius
  /// map; lineOnSide: the 4 side switches (copied). Prints "delta=" and
  /// "Created Line pair: <coefficient count>" unless report is false (a trial
  /// set). The corners of every constrained side must differ (the deformator
  /// refuses such sides first).
  QuasiConfLines(std::vector<LinAlgComplex>& oldLines, std::vector<LinAlgComplex>& oldNorms, int N,
                 double delta, LinAlgMatrixComplex& map, bool* lineOnSide, bool report = true);

  /// The relative offset factors of the two ends of every line.
  void SetNewDelta(double d1, double d2);
  /// Absolute offsets at the ends of line lineID, before (useNew = 0) or
  /// after the deformation. After it, each is the offset before it times the
  /// line's length ratio, so similarity targets move the offsets with them.
  void GetDelta(int lineID, int useNew, double& d1, double& d2);
  /// New corners and target map: every line follows, and the spline is
  /// refitted. Returns false and changes nothing when the new corners make
  /// the constraints singular (a constrained side collapsed, offset lines
  /// meeting each other or the opposite side, a singular spline system).
  bool Update(std::vector<LinAlgComplex>& newLines, LinAlgMatrixComplex& map);
  /// True when no two constrained lines' offset segments meet and none meets
  /// the side opposite its line, before (useNew = 0) or after the deformation.
  bool OffsetsClear(int useNew) const;

  /// Builds the vertex-to-section map and the free faces (crossed by no line,
  /// not wholly transparent) from the mesh at its current positions.
  void FillVertexToSectionMap(R2Image& image, Warpixator* deformator, std::vector<ImgFace>& faces,
                              std::vector<ImgVertex>& vertices);
  /// z mapped: the identity before the first Update; otherwise the similarity
  /// of the section of mesh vertex useMap (or, for useMap = -1, of the first
  /// line whose outer side holds z), else the spline.
  LinAlgComplex Transform(LinAlgComplex z, int useMap);
  /// Transform(rest position of vertex k, k) into the position of every
  /// vertex k, with the same bits: the similarity vertices one by one, the
  /// spline vertices at the processor's vector width.
  void TransformVertices(std::vector<ImgVertex>& vertices);
  LinAlgComplex TransformBySimilarity(LinAlgComplex z, int lineID);
  /// Source normalisation, spline, inverse target normalisation.
  LinAlgComplex TransformByFPITPS(LinAlgComplex z);
  /// True when segment p1p2 meets segment q1q2 (ends included). Parallel
  /// segments meet only when they lie on one line and overlap; a segment of
  /// no length meets the other where it lies on it.
  static bool Intersection(LinAlgComplex p1, LinAlgComplex p2, LinAlgComplex q1, LinAlgComplex q2);
  /// The lines (the selected control point's end dimmed) and, with
  /// m_bDrawSections, the free faces coloured by section.
  void Draw(WarpixatorCanvas* window, int selected);

  // === State
  std::vector<std::unique_ptr<QuasiConfDiscretizedLine>> m_aLines;
  std::unique_ptr<LinAlgVectorComplex> m_pTPSCoeffs;
  std::vector<LinAlgComplex> m_TPSCentres;
  std::vector<int> m_VertexToSection;
  std::vector<ImgFace> m_FreeFaces;
  std::vector<ImgVertex>* m_pVertices;
  bool m_bDrawSections;
  bool m_bLineOnSide[4];
  LinAlgVectorComplex m_PntsOld;
  LinAlgVectorComplex m_PntsNew;
  LinAlgMatrixComplex m_SourceMobius;
  LinAlgMatrixComplex m_TargetMobius;
  /// The inverse of m_TargetMobius, computed once per Update.
  LinAlgMatrixComplex m_TargetInverse;
  double m_Delta1;
  double m_Delta2;

 private:
  /// The per-vertex route of TransformByFPITPS, refreshed by each accepted
  /// Update: both Mobius maps' elements and the packed spline.
  LinAlgComplex m_SourceElements[4];
  LinAlgComplex m_InverseElements[4];
  DeformThinPlateSpline::Evaluator m_Spline;
  /// TransformVertices' workspace: the spline vertices and their coordinates.
  std::vector<int> m_SplineVertices;
  std::vector<double> m_Scratch;

  /// The side index of line k.
  int SideOfLine(int k) const;
  /// Transform's choice for z: the line whose similarity maps it, or -1
  /// for the spline.
  int SectionOf(LinAlgComplex z, int useMap) const;
  /// Whether every texel under the face (by the corners' texture
  /// coordinates, one texel around) is transparent to the deformator.
  static bool FaceTransparent(R2Image& image, Warpixator* deformator,
                              const std::vector<ImgVertex>& vertices, const int* index);
  /// The free faces and, per line, the vertices of the faces it crosses on
  /// its outer side (seeds); returns the number of faces crossed twice.
  int SortFaces(R2Image& image, Warpixator* deformator, std::vector<ImgFace>& faces,
                std::vector<ImgVertex>& vertices, std::vector<std::vector<int>>& seeds,
                std::vector<std::vector<int>>& adjacent);
  /// Gives every vertex reached from a line's seeds over free faces that line's section.
  void FloodSections(const std::vector<std::vector<int>>& seeds,
                     const std::vector<std::vector<int>>& adjacent);
  /// The side-rule corners and factors of line lineID; false for the
  /// centroid rule.
  bool SideRule(int lineID, int& corner1, int& corner2, double& factor1, double& factor2) const;
};
