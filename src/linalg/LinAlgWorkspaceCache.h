#pragma once

#include <map>
#include <vector>

/// LAPACK work buffers of element type T, one per exact (slot, size) pair.
/// A buffer is created on the first request for its pair (T's value
/// initialisation: 0 for numbers, 0 + 0i for LinAlgComplex), handed out again
/// unchanged to every later request for the same pair, and never shrunk or
/// freed before exit: once a size has been seen, the solvers allocate nothing.
/// A larger buffer is never lent for a smaller request; a caller that needs
/// two buffers alive at once asks under different slots. Not synchronised:
/// all linear algebra runs on the program's single thread.
template <class T>
class LinAlgWorkspaceCache {
 public:
  /// A buffer of size elements (at least one) for this (slot, size).
  T* Get(int size, int slot) {
    std::vector<T>& buffer = m_Buffers[slot][size];
    if (buffer.empty()) buffer.resize(size > 0 ? size : 1);
    return buffer.data();
  }

 private:
  // Map nodes never move, and a buffer is never resized after creation, so
  // the pointers handed out stay valid for the whole run.
  std::map<int, std::map<int, std::vector<T>>> m_Buffers;
};
