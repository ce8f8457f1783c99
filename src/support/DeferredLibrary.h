#pragma once

// A shared library the program opens itself (dlopen) instead of through the
// dynamic linker. Highway's library, which the vector kernels need to choose
// their instruction set, calibrates a timer for its benchmarking tools when it
// is loaded: about 4 ms here, before main on every start. Opened on a thread
// of its own (StartLoading), that work overlaps reading the inputs. The
// program reaches the library's functions through small forwarding
// definitions of the same names, which call Function(k); the first such call
// waits for the load, or does it when no thread started it.
#include <atomic>
#include <cstddef>
#include <initializer_list>
#include <mutex>

namespace warpix {

class DeferredLibrary {
 public:
  static constexpr size_t kMaxFunctions = 32;

  /// file: the name the dynamic loader looks up (the library's soname);
  /// names: count (at most kMaxFunctions) function names, looked up in
  /// order. Both must outlive the object. Constant-initialised, so usable
  /// from any static initialiser.
  constexpr DeferredLibrary(const char* file, const char* const* names, size_t count)
      : m_File(file), m_Names(names), m_Count(count) {}
  DeferredLibrary(const DeferredLibrary&) = delete;
  DeferredLibrary& operator=(const DeferredLibrary&) = delete;

  /// The address of function k (the order of names), loading the library
  /// first if needed. After the load: one atomic load and a branch.
  void* Function(size_t k) {
    if (!m_Loaded.load(std::memory_order_acquire)) Load();
    return m_Functions[k];
  }

  /// Loads the library and looks up every function, once; concurrent callers
  /// wait for the first. A library or function that cannot be found is a
  /// broken installation: the program stops with a report naming it.
  void Load();

  bool Loaded() const { return m_Loaded.load(std::memory_order_acquire); }
  const char* File() const { return m_File; }

 private:
  void Open();

  const char* m_File;
  const char* const* m_Names;
  size_t m_Count;
  void* m_Functions[kMaxFunctions] = {};
  std::once_flag m_Once;
  std::atomic<bool> m_Loaded{false};
};

/// Loads the libraries, in order, on one thread of its own and returns at
/// once. The programs call it first thing. Without a thread to spare, each
/// library is loaded by its first function call instead.
void StartLoading(std::initializer_list<DeferredLibrary*> libraries);

}  // namespace warpix
