#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "TestCommon.h"
#include "linalg/LinAlgMatrixComplex.h"

TEST(LinAlgMatrixComplex, RightVectorsOnlyMatchTheFullSVD) {
  // Shapes of the per-vertex fits (n x 6) and a wide one; the same shape twice
  // so that the cached work size is used.
  for (const auto& [m, n] : {std::make_pair(4, 6), std::make_pair(9, 6), std::make_pair(9, 6),
                             std::make_pair(3, 5)}) {
    LinAlgMatrixComplex a(m, n);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) a(i, j) = LinAlgComplex(std::sin(1.0 + i * 7 + j), std::cos(2.0 * i - j));
    LinAlgMatrixComplex full(a), right(a), U(m, m), Vt(n, n), Vt2(n, n);
    const int k = m < n ? m : n;
    LinAlgVectorComplex S(k), S2(k);
    ASSERT_TRUE(full.SVDDecomposeDestructive(U, S, Vt));
    ASSERT_TRUE(right.RightSingularVectorsDestructive(S2, Vt2));
    for (int i = 0; i < k; ++i) EXPECT_NEAR((S(i) - S2(i)).Power(), 0.0, 1e-12) << m << "x" << n;
    // Rows of Vt may differ by a unit factor; the projector of each row must not.
    for (int r = 0; r < n; ++r) {
      LinAlgComplex dot;
      for (int j = 0; j < n; ++j) dot += Vt(r, j).Conjugate() * Vt2(r, j);
      if (r < k) {
        EXPECT_NEAR(dot.Power(), 1.0, 1e-10) << m << "x" << n << " row " << r;
      }
    }
    // The null-space rows span the same space as the full SVD's.
    for (int r = k; r < n; ++r) {
      double inSpan = 0.0;
      for (int s = k; s < n; ++s) {
        LinAlgComplex dot;
        for (int j = 0; j < n; ++j) dot += Vt(s, j).Conjugate() * Vt2(r, j);
        inSpan += dot.Power() * dot.Power();
      }
      EXPECT_NEAR(inSpan, 1.0, 1e-10) << m << "x" << n << " row " << r;
    }
  }
}

TEST(LinAlgMatrixComplex, LeastSquaresWithManyRightHandSidesEqualsOneAtATime) {
  LinAlgMatrixComplex a(5, 3);
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 3; ++j) a(i, j) = LinAlgComplex(1.0 / (1 + i + j), 0.1 * (i - j));
  LinAlgMatrixComplex B(5, 2), X(3, 2);
  for (int i = 0; i < 5; ++i) {
    B(i, 0) = LinAlgComplex(i, 1);
    B(i, 1) = LinAlgComplex(-1, 0.5 * i);
  }
  LinAlgMatrixComplex qr(a), Bcopy(B);
  ASSERT_TRUE(qr.LeastSquaresQRDestructive(Bcopy, X));
  for (int c = 0; c < 2; ++c) {
    LinAlgMatrixComplex one(a);
    LinAlgVectorComplex b(5), x(3);
    for (int i = 0; i < 5; ++i) b(i) = B(i, c);
    ASSERT_TRUE(one.LeastSquaresQRDestructive(b, x));
    for (int j = 0; j < 3; ++j) EXPECT_NEAR((X(j, c) - x(j)).Power(), 0.0, 1e-13) << c << j;
  }
  // Exactly rank-deficient (a zero column): refused, X unchanged.
  LinAlgMatrixComplex flat(5, 3), B2(B), X2(3, 2);
  X2(0, 0) = LinAlgComplex(7, 7);
  for (int i = 0; i < 5; ++i) flat(i, 0) = flat(i, 2) = LinAlgComplex(i, 1);
  EXPECT_FALSE(flat.LeastSquaresQRDestructive(B2, X2));
  EXPECT_EQ(X2(0, 0), LinAlgComplex(7, 7));
}

TEST(LinAlgMatrixComplex, ManySmallWideSVDsStayInsideTheirArrays) {
  // The BLAS kernel behind zgesvd reads a little past the end of small wide
  // matrices; kept alive side by side, exact-size arrays eventually end on an
  // unmapped page (the sanitizer build's allocator packs them tightly).
  std::vector<std::unique_ptr<LinAlgMatrixComplex>> kept;
  for (int trial = 0; trial < 20000; ++trial) {
    const int m = trial % 2 == 0 ? 2 : 4, n = m == 2 ? 4 : 6;
    auto a = std::make_unique<LinAlgMatrixComplex>(m, n);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) (*a)(i, j) = LinAlgComplex(std::sin(trial + i + 3.0 * j), std::cos(i - j + 0.5 * trial));
    auto U = std::make_unique<LinAlgMatrixComplex>(m, m);
    auto Vt = std::make_unique<LinAlgMatrixComplex>(n, n);
    LinAlgVectorComplex S(m);
    ASSERT_TRUE(a->SVDDecomposeDestructive(*U, S, *Vt)) << trial;
    kept.push_back(std::move(a));
    kept.push_back(std::move(U));
    kept.push_back(std::move(Vt));
  }
}
