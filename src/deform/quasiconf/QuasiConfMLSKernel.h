#pragma once

// The per-vertex weighted n-gon fits of operator 4 at the full vector width
// of the processor it runs on. Each vertex's least-squares null space comes
// from the Hermitian 6 x 6 normal matrix of its weighted system, diagonalised
// by cyclic Jacobi rotations (no library call per vertex). Every lane
// performs the operations of the one-vertex loop in the same order, so a
// vertex's result does not depend on the target or on its neighbours.

#include <vector>

namespace warpix {

/// Vertices per group of the lane-major layout MLSFitVertices reads its
/// per-vertex values in: a multiple of every target's vector block.
constexpr int kVertexGroup = 16;

/// per values of each of count vertices (vertex k at values + per k) in the
/// lane-major layout: groups of kVertexGroup vertices, value e of vertex k at
/// (k / G) per G + e G + k % G. The last group is filled up with copies of
/// the last vertex.
std::vector<double> GroupByVertex(const double* values, int per, int count);

/// The weighted regular n-gon fit of the n points z = (zxy[2j], zxy[2j+1])
/// for each of count vertices, vertex k with the n weights at weights + k n:
/// its Mobius elements {a, b, c, d} as 8 doubles at zm + 8 k, and ok[k] = 1,
/// or ok[k] = 0 when the fit is singular or not finite. n >= 4.
void NgonFitVertices(const double* zxy, int n, const double* weights, int count, double* zm,
                     unsigned char* ok);

/// Operator 4's map of count vertices to the targets t (2 n doubles): for
/// vertex k (its n weights and 3 n complex fit coefficients grouped by
/// GroupByVertex) its weighted fit zm of the targets, the targets normalised
/// by it, the fit coefficients c_r = sum_j coeff(k, r + 3j) times them, c0 + c1 z + c2 conj(z) at the local vertex
/// z = local[2k], local[2k+1], and the inverse of zm, into out[2k],
/// out[2k+1]. ok[k] = 0 where the fit is singular, the normalised targets are
/// flat or the result is not finite (out is then not written). n >= 4.
void MLSFitVertices(const double* t, int n, const double* weights, const double* local,
                    const double* coeffs, int count, double* out, unsigned char* ok);

}  // namespace warpix
