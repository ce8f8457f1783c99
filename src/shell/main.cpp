#include <iostream>
#include <vector>

#include <cstdio>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "support/ParamParser.h"
#include "shell/Warpix.h"
#include "support/WarpixAssert.h"
#include "window/WarpixWindow.h"

namespace {

// A window size or a grid needs two values of at least 1.
void CheckPair(const std::vector<int>& values, bool& valid, const char* key) {
  if (valid && (values.size() < 2 || values[0] < 1 || values[1] < 1)) {
    std::cout << "[ERROR] General " << key << " needs two values of at least 1" << std::endl;
    valid = false;
  }
}

}  // namespace

int main(int argc, char const** argv) {
  // Console lines reach a reader (a terminal, a pipe, a test) as they are written.
  std::cout << std::unitbuf;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // Arguments: the parameter file, then override tokens.
  if (argc < 2) std::cout << "Usage: warpix <parameter file> [-Module Key Value ...]" << std::endl;
  WARPIX_ASSERT(argc>=2);

  // Parameters: the file and the overrides through one walk.
  ParamParser parameters(argv[1], argv + 2, argc - 2);
  bool valid = false;
  std::vector<int> windowDims = parameters.GetIntValues("General", "WindowDims", valid);
  CheckPair(windowDims, valid, "WindowDims");
  WARPIX_ASSERT(valid);
  std::vector<int> colsRows = parameters.GetIntValues("General", "ColsRows", valid);
  CheckPair(colsRows, valid, "ColsRows");
  WARPIX_ASSERT(valid);
  ZelString imagePath = parameters.GetStrValue("General", "Image", valid);
  WARPIX_ASSERT(valid);
  const ZelStringList& deformators = parameters.GetStrValues("General", "Deformators", valid);
  WARPIX_ASSERT(valid);
  ZelString animationFile = parameters.GetStrValue("General", "AnimationFile", valid);
  if (!valid) animationFile = "none";
  ZelString animationOutput = parameters.GetStrValue("General", "AnimationOutput", valid);
  if (!valid) animationOutput = "";

  // Window: sizes only, no window-system call yet.
  WarpixWindow window(windowDims[0], windowDims[1], colsRows[0], colsRows[1]);
  window.SetExportPrefix(animationOutput);

  // Image: the one picture every deformator shows.
  R2Image image(imagePath.c_str());
  if (!image.IsValid()) {
    std::cout << "[ERROR] Cannot read image " << imagePath << std::endl;
    return 1;
  }

  // Deformators, in cell order; an unknown type is skipped with a warning.
  for (const ZelString& name : deformators) {
    Warpixator* deformator = GetDeformator(parameters, name, image);
    if (deformator != nullptr) window.AddDeformator(deformator);
  }

  // Main loop, with the scripted animation when one is configured. Never returns.
  if (animationFile == "none") {
    window.EnterGlutLoop(argc, argv, nullptr, nullptr);
  }
  window.EnterGlutLoop(argc, argv, animationFile.c_str(), animationOutput.c_str());
}
