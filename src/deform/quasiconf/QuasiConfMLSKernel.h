#pragma once

// The per-vertex weighted n-gon fits of operator 4 at the full vector width
// of the processor it runs on. Each vertex's least-squares null space comes
// from the Hermitian 6 x 6 normal matrix of its weighted system, diagonalised
// by cyclic Jacobi rotations (no library call per vertex). Every lane
// performs the operations of the one-vertex loop in the same order, so a
// vertex's result does not depend on the target or on its neighbours.

namespace warpix {

/// The weighted regular n-gon fit of the n points z = (zxy[2j], zxy[2j+1])
/// for each of count vertices, vertex k with the n weights at weights + k n:
/// its Mobius elements {a, b, c, d} as 8 doubles at zm + 8 k, and ok[k] = 1,
/// or ok[k] = 0 when the fit is singular or not finite. n >= 4.
void NgonFitVertices(const double* zxy, int n, const double* weights, int count, double* zm,
                     unsigned char* ok);

/// Operator 4's map of count vertices to the targets t (2 n doubles): for
/// vertex k its weighted fit zm of the targets, the targets normalised by
/// it, the fit coefficients c_r = sum_j coeffs[k 6n + 2(r + 3j)] (complex,
/// 3 n per vertex) times them, c0 + c1 z + c2 conj(z) at the local vertex
/// z = local[2k], local[2k+1], and the inverse of zm, into out[2k],
/// out[2k+1]. ok[k] = 0 where the fit is singular, the normalised targets are
/// flat or the result is not finite (out is then not written). n >= 4.
void MLSFitVertices(const double* t, int n, const double* weights, const double* local,
                    const double* coeffs, int count, double* out, unsigned char* ok);

}  // namespace warpix
