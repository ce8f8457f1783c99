#pragma once

#include <vector>

#include "deform/Warpixator.h"

/// Mean value coordinates: a point's coordinates with respect to the polygon
/// of the original control points (in the order they were added, closed from
/// the last back to the first) are carried over to the polygon of the targets.
/// The coordinate kernels are static so that other methods can reuse them.
/// Mesh mode maps every vertex through MapPoint in the draw; pixel mode shows
/// the undeformed image. A polygon of originals with no area (three or more
/// points on one line) gives the coordinates no meaning: such points are
/// refused with one warning, and the map stays the one of the last points
/// and targets that were accepted.
class DeformMeanValueCoords : public Warpixator {
 public:
  // === Constructor
  DeformMeanValueCoords(R2Image& image, const ZelString& name);
  ~DeformMeanValueCoords() override;

  // === Methods
  /// Accepts the control points for the map, or refuses a polygon of no
  /// area (see the class comment).
  void PrepareDeformator() override;
  /// Accepts the targets for the map while the polygon is accepted.
  void Deform() override;
  /// The point carried by its mean value coordinates from the accepted
  /// polygon of originals to its targets. With fewer than three control
  /// points (or where the coordinates are not finite) the point moves by the
  /// mean displacement of the control points; with none it stays. Never NaN
  /// for finite points.
  void MapPoint(double x, double y, double& outX, double& outY) override;
  /// Every vertex's rest position through MapPoint into its current position;
  /// vertices are evaluated a vector at a time with MapPoint's arithmetic, so the
  /// result is MapPoint's to the last bit.
  void MapMeshVertices() override;

  /// MapPoint's map for the polygon of orig carried onto the polygon of
  /// target (flat lists of equal length): the same fast coordinates and the
  /// same fallbacks, for any caller.
  static void MapPolygonPoint(const std::vector<double>& orig, const std::vector<double>& target,
                              double x, double y, double& outX, double& outY);
  /// MapPolygonPoint for count points (x[k], y[k]) into (outX[k], outY[k]),
  /// a vector at a time with the same arithmetic, so each result equals
  /// MapPolygonPoint's to the last bit. Allocates nothing.
  static void MapPolygonPoints(const std::vector<double>& orig, const std::vector<double>& target,
                               int count, const double* x, const double* y, double* outX,
                               double* outY);

  // === Coordinate kernels
  /// Fills MVC (emptied first) with the n mean value coordinates of (x, y)
  /// for the polygon given by the flat list ctrlPnts (x0, y0, x1, y1, ...),
  /// computed with two atan2 and one tan per edge. A point exactly on a
  /// control point gets the unit coordinate of the first such point.
  /// Returns false when the coordinates are not finite: fewer than three
  /// points off a control point (0/0), or weights summing to 0.
  static bool CalcMVC(const std::vector<double>& ctrlPnts, double x, double y,
                      std::vector<double>& MVC);
  /// The same coordinates as CalcMVC, to rounding, with the half-angle tangent
  /// taken from the dot and cross products of the two edge vectors (no
  /// trigonometric call). A point exactly on an edge between two control
  /// points gets linear interpolation along that edge. Reuses MVC's storage.
  static bool CalcMVCFast(const std::vector<double>& ctrlPnts, double x, double y,
                          std::vector<double>& MVC);
  /// True when the polygon of the flat list (three or more points) has no
  /// area to speak of: its points lie on one line up to a relative width of
  /// 1e-6 (the covariance of the points is that flat), or one is not finite.
  static bool IsFlatPolygon(const std::vector<double>& ctrlPnts);
  /// outX = sum_k MVC[k] * ctrlPnts[2k], outY = sum_k MVC[k] * ctrlPnts[2k+1].
  /// Fatal "MVC.size()==ctrlPnts.size()/2", then "ctrlPnts.size()%2==0".
  static void Interpolate(const std::vector<double>& ctrlPnts, const std::vector<double>& MVC,
                          double& outX, double& outY);

 private:
  /// Takes the current points into the map unless their polygon is flat.
  void AcceptControlPoints();

  std::vector<double> m_Scratch;  // rest and mapped positions of MapMeshVertices
  std::vector<double> m_MapOrig;    // the accepted originals (flat x, y)
  std::vector<double> m_MapTarget;  // their targets
  bool m_bRefused = false;          // the current points are refused (warned once)
};
