#include <cmath>
#include <memory>
#include <vector>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixComplex.h"

namespace {

using C = LinAlgComplex;

// An m x n matrix with entry (i, j) = f(i, j).
template <class F>
LinAlgMatrixComplex Filled(int m, int n, F f) {
  LinAlgMatrixComplex a(m, n);
  for (int k = 0; k < m * n; ++k) a(k % m, k / m) = f(k % m, k / m);
  return a;
}

// The modulus of row r of a (conjugated) times row s of b.
double RowDot(const LinAlgMatrixComplex& a, int r, const LinAlgMatrixComplex& b, int s) {
  C dot;
  for (int j = 0; j < a.Cols(); ++j) dot += a(r, j).Conjugate() * b(s, j);
  return dot.Power();
}

}  // namespace

TEST(LinAlgMatrixComplex, RightVectorsOnlyMatchTheFullSVD) {
  // Shapes of the per-vertex fits (n x 6) and a wide one; the same shape twice
  // so that the cached work size is used.
  for (const auto& [m, n] : {std::make_pair(4, 6), {9, 6}, {9, 6}, {3, 5}}) {
    const LinAlgMatrixComplex a = Filled(m, n, [](int i, int j) { return C(std::sin(1.0 + i * 7 + j), std::cos(2.0 * i - j)); });
    LinAlgMatrixComplex full(a), right(a), U(m, m), Vt(n, n), Vt2(n, n);
    const int k = std::min(m, n);
    LinAlgVectorComplex S(k), S2(k);
    ASSERT_TRUE(full.SVDDecomposeDestructive(U, S, Vt) && right.RightSingularVectorsDestructive(S2, Vt2));
    for (int i = 0; i < k; ++i) EXPECT_NEAR((S(i) - S2(i)).Power(), 0.0, 1e-12) << m << "x" << n;
    // Rows of Vt may differ by a unit factor; the projector of each row must
    // not, and the null-space rows span the same space as the full SVD's.
    for (int r = 0; r < n; ++r) {
      double inSpan = 0.0;
      for (int s = k; s < n; ++s) inSpan += RowDot(Vt, s, Vt2, r) * RowDot(Vt, s, Vt2, r);
      EXPECT_NEAR(r < k ? RowDot(Vt, r, Vt2, r) : inSpan, 1.0, 1e-10) << m << "x" << n << " row " << r;
    }
  }
}

TEST(LinAlgMatrixComplex, LeastSquaresWithManyRightHandSidesEqualsOneAtATime) {
  const LinAlgMatrixComplex a = Filled(5, 3, [](int i, int j) { return C(1.0 / (1 + i + j), 0.1 * (i - j)); });
  const LinAlgMatrixComplex B = Filled(5, 2, [](int i, int c) { return c == 0 ? C(i, 1) : C(-1, 0.5 * i); });
  LinAlgMatrixComplex qr(a), Bcopy(B), X(3, 2);
  ASSERT_TRUE(qr.LeastSquaresQRDestructive(Bcopy, X));
  for (int c = 0; c < 2; ++c) {
    LinAlgMatrixComplex one(a);
    LinAlgVectorComplex b(5), x(3);
    for (int i = 0; i < 5; ++i) b(i) = B(i, c);
    ASSERT_TRUE(one.LeastSquaresQRDestructive(b, x));
    for (int j = 0; j < 3; ++j) EXPECT_NEAR((X(j, c) - x(j)).Power(), 0.0, 1e-13) << c << j;
  }
  // Exactly rank-deficient (columns 0 and 2 equal, column 1 zero): refused, X unchanged.
  LinAlgMatrixComplex flat = Filled(5, 3, [](int i, int j) { return j == 1 ? C() : C(i, 1); }), B2(B), X2(3, 2);
  X2(0, 0) = C(7, 7);
  EXPECT_TRUE(!flat.LeastSquaresQRDestructive(B2, X2) && X2(0, 0) == C(7, 7));
}

TEST(LinAlgMatrixComplex, ManySmallWideSVDsStayInsideTheirArrays) {
  // The BLAS kernel behind zgesvd reads a little past the end of small wide
  // matrices; kept alive side by side, exact-size arrays eventually end on an
  // unmapped page (the sanitizer build's allocator packs them tightly).
  std::vector<std::unique_ptr<LinAlgMatrixComplex>> kept;
  for (int trial = 0; trial < 20000; ++trial) {
    const int m = trial % 2 == 0 ? 2 : 4, n = m + 2;
    kept.push_back(std::make_unique<LinAlgMatrixComplex>(
        Filled(m, n, [&](int i, int j) { return C(std::sin(trial + i + 3.0 * j), std::cos(i - j + 0.5 * trial)); })));
    kept.push_back(std::make_unique<LinAlgMatrixComplex>(m, m));
    kept.push_back(std::make_unique<LinAlgMatrixComplex>(n, n));
    LinAlgVectorComplex S(m);
    ASSERT_TRUE(kept[kept.size() - 3]->SVDDecomposeDestructive(*kept[kept.size() - 2], S, *kept.back())) << trial;
  }
}
