#pragma once

// The per-vertex kernel of the moving-least-squares deformator, at the full
// vector width of the processor it runs on.
#include <vector>

#include "deform/CoordinateTable.h"
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

/// Below this det(M) / trace(M)^2 of the weighted second moments M of the
/// originals about p* the affine fit is undetermined at a vertex: seen from
/// there the points lie on one line (within a relative width of 1e-6), or
/// there are fewer than three. Such a vertex takes the similarity fit.
inline constexpr double kMinAffineAspect2 = 1e-12;

/// The affine fit is linear in the targets: the rest position v of a vertex
/// maps to sum_j c(v, j) q_j with c(v, j) = w_j ((v - p*)^T M^-1 p^_j + 1 / sum_k w_k),
/// where p^_j = p_j - p*. Writes c of the count vertices at vertices (their
/// rest positions) for the originals orig (flat, at least one point) into
/// table, which must have count vertices and orig.size() / 2 points. The
/// indices (firstIndex + position among the count) of the vertices whose fit
/// is undetermined, or whose weights all underflowed, are appended to
/// undetermined; their coefficients are 0. oneByOne runs the one-vertex loop the vector lanes reproduce bit
/// for bit.
void MLSAffineTable(const std::vector<double>& orig, const Warpixator::ImgVertex* vertices,
                    int count, int firstIndex, CoordinateTable& table,
                    std::vector<int>& undetermined, bool oneByOne = false);

}  // namespace warpix
