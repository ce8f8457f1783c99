#include "support/DeferredLibrary.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/SideThread.h"

namespace warpix {

namespace {

// The programs cannot run without the library: say which and why, and stop.
[[noreturn]] void CannotLoad(const char* file, const char* what) {
  std::fprintf(stderr, "[ERROR] Unable to load the shared library %s: %s\n", file,
               what != nullptr ? what : "unknown error");
  std::fflush(nullptr);
  std::abort();
}

}  // namespace

void DeferredLibrary::Open() {
  if (m_Count > kMaxFunctions) CannotLoad(m_File, "too many functions requested");
  // Never closed: the program keeps the functions' addresses to the end.
  void* library = dlopen(m_File, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) CannotLoad(m_File, dlerror());
  for (size_t k = 0; k < m_Count; ++k) {
    m_Functions[k] = dlsym(library, m_Names[k]);
    if (m_Functions[k] == nullptr) CannotLoad(m_File, dlerror());
  }
  m_Loaded.store(true, std::memory_order_release);
}

void DeferredLibrary::Load() {
  std::call_once(m_Once, [this] { Open(); });
}

void StartLoading(std::initializer_list<DeferredLibrary*> libraries) {
  std::vector<DeferredLibrary*> pending;
  for (DeferredLibrary* library : libraries) {
    if (library != nullptr && !library->Loaded()) pending.push_back(library);
  }
  if (pending.empty()) return;
  // Detached: a program that ends before it needs a library does not wait
  // for it (the dynamic loader completes a load under way before the exit).
  // Without a thread to spare, each library loads at its first function call.
  SideThread loader;
  if (loader.Start([pending] {
        for (DeferredLibrary* library : pending) library->Load();
      })) {
    loader.Detach();
  }
}

}  // namespace warpix
