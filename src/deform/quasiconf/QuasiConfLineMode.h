#pragma once

// Operators 5 and 6 of the quasi-conformal family: the sides of the
// quadrilateral of four control points stay straight.
#include <memory>
#include <vector>

#include "deform/quasiconf/QuasiConfLines.h"
#include "deform/quasiconf/QuasiConfOperator.h"
#include "linalg/LinAlgMatrixComplex.h"

/// The line modes: a QuasiConfLines set over the four originals, with the
/// deformator's deltas and side switches, updated to the targets; operator 5
/// fits it in parallelogram-normalised coordinates, operator 6 in the plane.
class QuasiConfLineMode : public QuasiConfOperator {
 public:
  QuasiConfLineMode();

  // === Operator interface
  int MinimumPoints(const DeformQuasiConf&) const override { return 4; }
  /// The normalisations back to the identity; the set stays until the next
  /// preparation.
  void Reset() override;
  /// With exactly four points in mesh mode: a new set ("delta=", "Created
  /// Line pair"); more points print an error and build none.
  bool Prepare(DeformQuasiConf& q) override;
  /// The set updated to the targets; refused targets keep it and warn once.
  bool Deform(DeformQuasiConf& q) override;
  /// Through the set (the point's side of the lines picks the section);
  /// without a set, the identity.
  void MapPoint(DeformQuasiConf& q, double x, double y, double& outX, double& outY) override;
  /// The sections come from the mesh: points are mapped in mesh mode only.
  bool MapsPoints(const DeformQuasiConf& q) const override;
  /// Through the set, or the rest mesh without one.
  void MapMeshVertices(DeformQuasiConf& q) override;
  /// The set's lines and sections and the targets in blue, when there is a set.
  bool DrawMarkers(DeformQuasiConf& q, WarpixatorCanvas* window) override;

  /// Whether the line mode may take this delta and these side switches: true
  /// unless it is running, a set is on show and a trial set built with them
  /// refuses the originals or the current targets. Changes nothing.
  bool Accepts(const DeformQuasiConf& q, double delta, const bool* sides) const;

  // === State
  /// The line-constraint set (at most one), owned.
  std::vector<std::unique_ptr<QuasiConfLines>> m_Sets;
  LinAlgMatrixComplex m_MobiusOrig;  // the originals' normalisation of the set
  LinAlgMatrixComplex m_MobiusNew;   // the targets' normalisation of the last accepted update

 private:
  /// With four points: the constraint quadrilateral and its set; false (no
  /// set) when it is singular.
  bool Build(DeformQuasiConf& q);
  /// A set over the four originals with the given offset factor and side
  /// switches, and the originals' normalisation into mobiusOrig (the
  /// identity for operator 6); nullptr, with the reason in problem, when a
  /// side has no length or no parallelogram fits. report: print the set's
  /// "delta=" and "Created Line pair" lines.
  static std::unique_ptr<QuasiConfLines> NewSet(const DeformQuasiConf& q, double delta,
                                                const bool* sides, LinAlgMatrixComplex& mobiusOrig,
                                                bool report, const char*& problem);
  /// Deform's step of a set: the targets' normalisation into mobiusNew and
  /// the set updated to the targets; false when refused.
  static bool UpdateSet(const DeformQuasiConf& q, QuasiConfLines& set,
                        LinAlgMatrixComplex& mobiusNew);
};
