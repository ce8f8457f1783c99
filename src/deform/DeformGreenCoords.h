#pragma once

#include <vector>

#include "deform/CoordinateTable.h"
#include "deform/Warpixator.h"

/// The rest cage of Green coordinates: the polygon of the original control
/// points (in the order they were added, closed from the last back to the
/// first), prepared once so that the coordinates of many points reuse it.
/// Positions are shifted to the cage's centre and scaled by its extent before
/// any arithmetic (the coordinates do not change under a similarity of cage
/// and point together), so large or far-away cages lose no range.
class GreenCage {
 public:
  /// Why the polygon of the flat list orig (three or more points) has no Green
  /// coordinates, as the middle of a warning ("the control points lie on one
  /// line, ..."), or null when it has them: its points lie on one line (up to
  /// a relative width of 1e-6) or one is not finite; two consecutive points
  /// closer than 1e-12 of its extent; two of its edges cross or touch.
  static const char* Defect(const std::vector<double>& orig);

  /// Prepares the polygon of orig, which Defect must accept (three or more
  /// points, either orientation).
  void Build(const std::vector<double>& orig);
  /// Forgets the polygon (Empty() afterwards).
  void Clear();
  bool Empty() const { return m_iN == 0; }
  int Points() const { return m_iN; }

  /// The complex coordinates c_k = re[k] + i im[k] of (x, y), indexed as the
  /// points of orig, so that the point maps to sum_k c_k q_k for targets
  /// q_k = x_k + i y_k: inside the cage Green's vertex coordinates in re and
  /// the edge coordinates, carried onto the vertices, in im; on the boundary
  /// their limit from inside; outside, the continuation across the nearest
  /// edge (see DeformGreenCoords). Finite for every finite point; where the
  /// arithmetic overflows (a point beyond about 1e150 cage sizes) the point
  /// takes the centroid of the targets. Allocates nothing.
  void Coordinates(double x, double y, double* re, double* im);

 private:
  /// Adds share times the continuation across edge (a -> b) of a point at
  /// a + beta (b - a) + gamma n to the coordinates being built.
  void AddExit(int edge, double beta, double gamma, double share);

  int m_iN = 0;
  double m_fCenterX = 0.0;
  double m_fCenterY = 0.0;
  double m_fInvScale = 1.0;
  std::vector<int> m_Order;  // index in orig of the k-th counter-clockwise vertex
  // The vertices counter-clockwise, shifted and scaled; edge k runs from
  // vertex k to vertex k + 1 with direction t, length l, outward unit normal n.
  std::vector<double> m_PX, m_PY;
  std::vector<double> m_TX, m_TY, m_Len, m_InvLen2, m_NX, m_NY;
  std::vector<double> m_VertexPhi;  // 1 - interior angle / 2 pi: a point on vertex k
  // Per-point work: offsets to the vertices, their squared lengths and logs,
  // the vertex and edge coordinates.
  std::vector<double> m_DX, m_DY, m_R2, m_LogR2, m_Phi, m_Psi;
};

/// Green coordinates: the control points, in the order they were added, form
/// a cage polygon. A point is written by boundary integrals of the rest cage
/// as a combination of the cage's vertices and of its edges' outward normals;
/// the same combination of the deformed vertices and of the deformed edges'
/// normals, each scaled by its edge's stretch, is its image. Inside the cage
/// the map is conformal and reproduces every similarity. Outside, the map is
/// continued through the nearest edge (the exit edge) so that it meets the
/// inside continuously and is the identity at rest; it is conformal within
/// each exit region and breaks where the exit edge changes (beyond the cage's
/// vertices). The map is linear in the targets with complex coefficients, so
/// preparation fills a table over the rest mesh and a frame is one product.
/// A cage without area, with coincident consecutive points or crossing
/// itself is refused with one warning, and the last accepted points and
/// targets stay in force. With fewer than three points the image moves by the
/// mean displacement of the control points.
class DeformGreenCoords : public Warpixator {
 public:
  // === Constructor
  DeformGreenCoords(R2Image& image, const ZelString& name);
  ~DeformGreenCoords() override;

  // === Methods
  /// Accepts the control points and, in mesh mode, fills the coordinate table
  /// of the rest mesh; refuses a degenerate cage (see the class comment).
  void PrepareDeformator() override;
  /// Accepts the targets while the cage is accepted.
  void Deform() override;
  /// The point through the accepted cage and targets: its coordinates on the
  /// fly, combined as the table combines them (so equal to the mesh to the
  /// last bit). Fewer than three points: moved by the mean displacement
  /// (none: the identity). Never NaN for finite points.
  void MapPoint(double x, double y, double& outX, double& outY) override;
  /// The table times the targets; without a usable table (fewer than three
  /// points, pixel mode, or a table over the size limit) each vertex through
  /// MapPoint.
  void MapMeshVertices() override;

  /// The complex coordinates (re, im: one entry per point) of (x, y) for the
  /// polygon of orig. Returns false, leaving them empty, when GreenCage::Defect
  /// refuses the polygon or it has fewer than three points.
  static bool CageCoordinates(const std::vector<double>& orig, double x, double y,
                              std::vector<double>& re, std::vector<double>& im);

 private:
  /// Fills m_Table for the rest mesh when in mesh mode and within the size limit.
  void BuildTable();

  GreenCage m_Cage;                 // the accepted cage (empty below three points)
  warpix::CoordinateTable m_Table;  // its coordinates of every rest vertex
  std::vector<double> m_Re, m_Im;   // one point's coordinates (MapPoint)
  std::vector<double> m_MapOrig;    // the accepted originals (flat x, y)
  std::vector<double> m_MapTarget;  // their targets
  bool m_bRefused = false;          // the current points are refused (warned once)
};
