#pragma once

// The per-vertex kernel of the moving-least-squares deformator, at the full
// vector width of the processor it runs on.
#include <vector>

#include "deform/Warpixator.h"

namespace warpix {

// Keeps the weight finite for a point lying on a control point.
inline constexpr double kWeightEpsilon = 1e-6;

// Below this weighted variance of the original points about p* (squared
// unit-square lengths) they count as coincident: rounding noise would
// otherwise be fitted as a huge scale. Real spreads are many orders larger.
inline constexpr double kMinSpread = 1e-24;

// A fitted |a| below this leaves the rigid rotation undetermined (targets
// collapsed onto one point); the rotation is then kept at 1.
inline constexpr double kMinRigidScale = 1e-12;

/// Moves every vertex to the closed-form moving-least-squares fit (similarity,
/// or rigid when rigid) of its rest position from the originals orig to the
/// targets target (flat x0, y0, x1, ...; equal lengths, at least one point).
/// scratch is resized as needed. oneByOne runs the one-vertex loop the vector
/// lanes reproduce bit for bit (for tests and comparisons).
void MLSFitVertices(const std::vector<double>& orig, const std::vector<double>& target, bool rigid,
                    std::vector<double>& scratch, std::vector<Warpixator::ImgVertex>& vertices,
                    bool oneByOne = false);

}  // namespace warpix
