#pragma once

#include <memory>
#include <vector>

#include "deform/CoordinateTable.h"
#include "deform/DeformThinPlateSpline.h"
#include "deform/Warpixator.h"

class LinAlgDenseLU;

/// The thin-plate-spline warp: the map f(z) = a0 x + a1 y + a2 + sum_j w_j
/// U(|z - c_j|), U = s log s with s = r^2, that carries every original point
/// c_j onto its target q_j and bends the least of all such maps (side
/// conditions sum w = sum w x = sum w y = 0). Its x and y are two real
/// splines of one (m + 3) x (m + 3) system of the originals, factored once in
/// the preparation, so the map is linear in the targets: each mesh vertex
/// goes to a fixed combination of them, kept in a coordinate table, and a
/// dragged frame is one product of the table with the targets. MapPoint
/// (pixel mode) evaluates the spline of the current targets, solved from the
/// same factors; it equals the table's result to rounding.
///
/// Smoothing lambda > 0 adds 2 lambda to the kernel block's diagonal: the fit
/// no longer passes through the targets but trades closeness against bending,
/// and tends to the affine least-squares fit of the targets as lambda grows.
/// Because s log s = 2 r^2 log r, this is exactly the smoothed radial basis
/// interpolant with kernel r^2 log r, a degree-1 polynomial and lambda added
/// to its kernel matrix's diagonal, as the common scientific libraries define
/// it, for the same lambda.
///
/// The system needs three originals not on one line and, without smoothing,
/// no two on one spot. Other point sets (one or two points, collinear or
/// coincident originals, a failed factorisation, targets whose spline is not
/// finite) are refused with one warning until the points are good again;
/// the map stays the one of the last accepted originals and targets. With no
/// points the map is the identity.
class DeformThinPlateSplineWarp : public Warpixator {
 public:
  // === Constructor
  /// smoothing: lambda above (default: 0, exact interpolation); anything not
  /// a finite number >= 0 counts as 0.
  DeformThinPlateSplineWarp(R2Image& image, const ZelString& name, double smoothing = 0.0);
  ~DeformThinPlateSplineWarp() override;

  // === Methods
  /// Checks the originals, factors their system and, in mesh mode, fills the
  /// table of every rest vertex (within the table size limit; beyond it the
  /// vertices are mapped one by one); refuses a degenerate set (see the
  /// class comment).
  void PrepareDeformator() override;
  /// Solves the spline of the current targets with the prepared factors
  /// (prepares first when the originals changed behind the preparation).
  void Deform() override;
  /// The accepted spline at (x, y); the identity without accepted points.
  void MapPoint(double x, double y, double& outX, double& outY) override;
  /// Every rest vertex through the table (one product with the accepted
  /// targets), or through the spline when there is no table.
  void MapMeshVertices() override;

  /// The smoothing in use (after the check of the constructor's argument).
  double Smoothing() const { return m_fSmoothing; }
  /// True when mesh mode maps its vertices through the table.
  bool HasTable() const { return !m_Table.Empty(); }

 private:
  /// Accepts or refuses the current originals and targets.
  void Prepare();
  /// The table of the accepted originals' system for every rest vertex;
  /// false when an entry is not finite. An empty table outside mesh mode or
  /// beyond the size limit.
  bool BuildTable(const LinAlgDenseLU& factors, const std::vector<LinAlgComplex>& cen,
                  warpix::CoordinateTable& table);
  /// Prints the warning of a refused set unless this episode already did.
  void Refuse(const char* why);

  double m_fSmoothing;
  std::vector<double> m_Examined;         // the originals of the last preparation
  std::vector<double> m_ExaminedTargets;  // and their targets
  std::vector<double> m_MapOrig;     // the accepted originals (flat x, y)
  std::vector<double> m_MapTarget;   // their accepted targets
  std::vector<LinAlgComplex> m_Centres;       // the accepted originals as centres
  std::unique_ptr<LinAlgDenseLU> m_pFactors;  // their system's LU factors
  warpix::CoordinateTable m_Table;            // rest vertex x original -> coefficient
  DeformThinPlateSpline::Evaluator m_Spline;  // the spline of the accepted targets
  std::vector<double> m_Scratch;              // vertex positions when there is no table
  bool m_bRefused = false;         // the current originals are refused (warned once)
  bool m_bTargetsRefused = false;  // the current targets are refused (warned once)
};
