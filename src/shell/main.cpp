#include <iostream>
#include <vector>

#include <cstdio>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "support/ParamParser.h"
#include "support/VectorLibrary.h"
#include "shell/Warpix.h"
#include "support/WarpixAssert.h"
#include "window/WarpixWindow.h"

namespace {

// A required key of General that is missing is named before the stop.
void CheckPresent(bool valid, const char* key) {
  if (!valid) std::cout << "[ERROR] General: the key " << key << " is missing" << std::endl;
}

// A window size or a grid needs two whole numbers of at least 1.
void CheckPair(const ParamParser& parameters, const std::vector<int>& values, bool& valid,
               const char* key) {
  bool present = false;
  parameters.GetStrValues("General", key, present);
  CheckPresent(present, key);
  if (present && (!valid || values.size() < 2 || values[0] < 1 || values[1] < 1)) {
    std::cout << "[ERROR] General " << key << " needs two values of at least 1" << std::endl;
    valid = false;
  }
}

}  // namespace

int main(int argc, char const** argv) {
  // The vector library loads on another core while the inputs are read.
  warpix::StartLoading({&warpix::VectorLibrary()});
  // Console lines reach a reader (a terminal, a pipe, a test) as they are written.
  std::cout << std::unitbuf;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // Arguments: the parameter file, then override tokens.
  if (argc < 2) std::cout << "Usage: warpix <parameter file> [-Module Key Value ...]" << std::endl;
  WARPIX_CONFIG_ASSERT(argc>=2);

  // Parameters: the file and the overrides through one walk.
  ParamParser parameters(argv[1], argv + 2, argc - 2);
  bool valid = false;
  std::vector<int> windowDims = parameters.GetIntValues("General", "WindowDims", valid);
  CheckPair(parameters, windowDims, valid, "WindowDims");
  WARPIX_CONFIG_ASSERT(valid);
  std::vector<int> colsRows = parameters.GetIntValues("General", "ColsRows", valid);
  CheckPair(parameters, colsRows, valid, "ColsRows");
  WARPIX_CONFIG_ASSERT(valid);
  ZelString imagePath = parameters.GetStrValue("General", "Image", valid);
  CheckPresent(valid, "Image");
  WARPIX_CONFIG_ASSERT(valid);
  const ZelStringList& deformators = parameters.GetStrValues("General", "Deformators", valid);
  CheckPresent(valid, "Deformators");
  WARPIX_CONFIG_ASSERT(valid);
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
