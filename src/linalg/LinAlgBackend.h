#pragma once

/// The BLAS/LAPACK backend's thread count. The matrices of this system are
/// small (at most a few thousand rows, mostly below 20), where OpenBLAS's
/// threads cost more than they save; the first linear-algebra call sets the
/// count to LinAlgDefaultThreads() unless LinAlgSetThreads was called first.
int LinAlgDefaultThreads();
/// Sets the backend's thread count now (used by the benchmarks to compare).
void LinAlgSetThreads(int threads);
/// Applies the default thread count once; cheap after the first call.
void LinAlgEnsureBackend();
