#pragma once

// The LAPACK routines the matrix classes call, through their Fortran symbols:
// every scalar by address; the trailing size_t arguments are the hidden
// lengths of the character options. Declared once here, so that the calls
// and LinAlgLibrary's forwarding definitions are checked against one list.
#include <cstddef>

#include "linalg/LinAlgComplex.h"

extern "C" {
void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b,
            const int* ldb, int* info);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgetri_(const int* n, double* a, const int* lda, const int* ipiv, double* work,
             const int* lwork, int* info);
void dgetrs_(const char* trans, const int* n, const int* nrhs, const double* a, const int* lda,
             const int* ipiv, double* b, const int* ldb, int* info, size_t transLen);
void dgels_(const char* trans, const int* m, const int* n, const int* nrhs, double* a,
            const int* lda, double* b, const int* ldb, double* work, const int* lwork, int* info,
            size_t transLen);
void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a,
             const int* lda, double* s, double* u, const int* ldu, double* vt, const int* ldvt,
             double* work, const int* lwork, int* info, size_t jobuLen, size_t jobvtLen);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, size_t jobzLen, size_t uploLen);
void zgesv_(const int* n, const int* nrhs, LinAlgComplex* a, const int* lda, int* ipiv,
            LinAlgComplex* b, const int* ldb, int* info);
void zgetrf_(const int* m, const int* n, LinAlgComplex* a, const int* lda, int* ipiv, int* info);
void zgetri_(const int* n, LinAlgComplex* a, const int* lda, const int* ipiv, LinAlgComplex* work,
             const int* lwork, int* info);
void zgels_(const char* trans, const int* m, const int* n, const int* nrhs, LinAlgComplex* a,
            const int* lda, LinAlgComplex* b, const int* ldb, LinAlgComplex* work,
            const int* lwork, int* info, size_t transLen);
void zgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, LinAlgComplex* a,
             const int* lda, double* s, LinAlgComplex* u, const int* ldu, LinAlgComplex* vt,
             const int* ldvt, LinAlgComplex* work, const int* lwork, double* rwork, int* info,
             size_t jobuLen, size_t jobvtLen);
}
