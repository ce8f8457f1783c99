#pragma once

// The interface of one operator group of the quasi-conformal deformator.

class DeformQuasiConf;
class WarpixatorCanvas;

/// One operator group of DeformQuasiConf (the global maps 0 to 3, the
/// per-vertex fit 4, the line modes 5 and 6) with its own state and math.
/// The deformator picks the object of its running operator and hands itself
/// in for the control points, the mesh, the profiler and the shared warnings.
class QuasiConfOperator {
 public:
  virtual ~QuasiConfOperator() = default;

  /// Fewest points the operator needs before it fits anything.
  virtual int MinimumPoints(const DeformQuasiConf& q) const = 0;
  /// True when the fitted vertices are the operator's whole state, so a
  /// re-run with enough points keeps them until a fit replaces them.
  virtual bool KeepsVertices() const { return false; }
  /// Back to the identity maps (the mesh is then drawn at rest).
  virtual void Reset() = 0;
  /// Everything that depends on the original points; true when prepared.
  virtual bool Prepare(DeformQuasiConf& q) = 0;
  /// The target-side work for at least one point; false when it stopped
  /// before fitting (no timing line is due then).
  virtual bool Deform(DeformQuasiConf& q) = 0;
  /// The map of one point (see DeformQuasiConf::MapPoint).
  virtual void MapPoint(DeformQuasiConf& q, double x, double y, double& outX, double& outY) = 0;
  /// Whether MapPoint maps any point in the deformator's current mode.
  virtual bool MapsPoints(const DeformQuasiConf& q) const = 0;
  /// Every vertex's rest position into its current one.
  virtual void MapMeshVertices(DeformQuasiConf& q) = 0;
  /// Draws the operator's own markers over the mesh; false when the
  /// deformator draws the control points as usual.
  virtual bool DrawMarkers(DeformQuasiConf&, WarpixatorCanvas*) { return false; }
};
