#include <cstdio>
#include <iostream>

#include "shell/WarpixRender.h"

int main(int argc, char const** argv) {
  // Console lines reach a reader (a terminal, a pipe, a test) as they are written.
  std::cout << std::unitbuf;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return WarpixRenderMain(argc, argv);
}
