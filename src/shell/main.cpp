#include <iostream>
#include <vector>

#include "shell/ParamParser.h"
#include "support/WarpixAssert.h"

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
  (void)deformators;

  parameters.PrintParams();
  return 0;
}
