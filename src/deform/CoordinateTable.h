#pragma once

// Maps that are linear in the targets: every point v of the rest mesh goes to
// sum_j c(v, j) q_j, where q_j = x_j + i y_j is the target of control point j
// and the coefficient c(v, j) depends only on the original points and on v.
// Affine moving least squares, the thin-plate-spline warp and Green
// coordinates all have this form, so their preparation fills one table and a
// dragged frame is one product of the table with the targets.
#include <cstddef>
#include <vector>

#include "deform/Warpixator.h"

namespace warpix {

class CoordinateTable {
 public:
  /// Real coefficients weigh x and y alike; complex ones multiply the target
  /// as a complex number: x' = sum (re qx - im qy), y' = sum (re qy + im qx).
  enum class Kind { kReal, kComplex };

  /// An empty table (Points() == 0): Apply leaves the outputs alone.
  CoordinateTable() = default;

  /// vertices x points coefficients, all zero.
  void Reset(int vertices, int points, Kind kind);
  /// Frees the coefficients (an empty table).
  void Clear();

  int Vertices() const { return m_iVertices; }
  int Points() const { return m_iPoints; }
  Kind GetKind() const { return m_Kind; }
  bool Empty() const { return m_iPoints == 0; }
  /// Bytes a table of this shape occupies (for the preparation's size limit).
  static double Bytes(double vertices, double points, Kind kind);

  /// The coefficients of point j for every vertex, vertex-contiguous, so that
  /// a block of neighbouring vertices reads one run per point.
  double* Re(int j) { return m_Re.data() + static_cast<size_t>(j) * m_iVertices; }
  double* Im(int j) { return m_Im.data() + static_cast<size_t>(j) * m_iVertices; }
  const double* Re(int j) const { return m_Re.data() + static_cast<size_t>(j) * m_iVertices; }
  const double* Im(int j) const { return m_Im.data() + static_cast<size_t>(j) * m_iVertices; }

  /// Every vertex's image of the targets (flat x0, y0, x1, ..., Points()
  /// pairs) into its current position m_fX, m_fY (vertices must have
  /// Vertices() entries). The sums run over j in order from 0, at the full
  /// vector width; oneByOne runs the one-vertex loop instead, which gives the
  /// same bits on every target.
  void Apply(const double* targets, std::vector<Warpixator::ImgVertex>& vertices,
             bool oneByOne = false) const;
  /// The same for the count vertices at vertices (count must be Vertices()):
  /// a table of one stretch of a larger mesh.
  void Apply(const double* targets, Warpixator::ImgVertex* vertices, int count,
             bool oneByOne = false) const;

  /// The one-vertex arithmetic of Apply for one point whose coefficients are
  /// given directly (re[j], and im[j] unless im is null: real coefficients),
  /// so that a point map computed on the fly equals the table's result for
  /// the same coefficients bit for bit.
  static void Combine(int points, const double* re, const double* im, const double* targets,
                      double& outX, double& outY);

 private:
  int m_iVertices = 0;
  int m_iPoints = 0;
  Kind m_Kind = Kind::kReal;
  std::vector<double> m_Re;  // point-major: m_Re[j * vertices + v]
  std::vector<double> m_Im;  // complex tables only
};

}  // namespace warpix
