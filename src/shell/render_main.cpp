#include <cstdio>
#include <iostream>

#include "shell/WarpixRender.h"
#include "support/VectorLibrary.h"

int main(int argc, char const** argv) {
  // The vector library loads on another core while the inputs are read.
  warpix::StartLoading({&warpix::VectorLibrary()});
  // Console lines reach a reader (a terminal, a pipe, a test) as they are written.
  std::cout << std::unitbuf;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return WarpixRenderMain(argc, argv);
}
