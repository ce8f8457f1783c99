// libFuzzer target for the animation script: the input is the script,
// played as the window plays it on a fixed set of small deformators of every
// class (built by the factory from the parameter text below, on a 16 x 12
// picture): lines 1 and 2 read and checked, the points handed to every
// deformator, then each later line read and applied, with one frame's
// deformation (Deform and the mesh mapping) after every applied line.
//
// A malformed start (lines 1 and 2) is the window's documented fatal stop:
// here the input simply ends there. No assertion may fire on any other path,
// so any unwound stop is a finding, as are crashes, sanitizer reports, leaks
// (leak detection stays on), hangs and memory blow-ups.
//
// Bounds of the harness: scripts with more than kMaxPoints points are
// skipped, and at most kMaxLines frame lines are read. The work per line
// grows with the points and the lines, which says nothing about faults.
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "deform/Warpixator.h"
#include "shell/Warpix.h"
#include "support/ParamParser.h"
#include "support/WarpixAssert.h"
#include "render/AnimationScript.h"

namespace {

constexpr size_t kMaxPoints = 16;
constexpr int kMaxLines = 48;

// One module of every class and operator on a 6 x 6 mesh, and one in pixel mode.
std::string Parameters() {
  std::string names = "Pixel", modules = "Pixel: Type DeformMeanValueCoords DeformSetting PixelMode\n";
  for (size_t k = 0; k < warpix_fuzz::EveryMethod().size(); ++k) {
    names += " M" + std::to_string(k);
    modules += "M" + std::to_string(k) + ":";
    for (const char* word : warpix_fuzz::EveryMethod()[k]) modules += std::string(" ") + word;
    modules += "\n";
  }
  return "General:\n  Deformators [ " + names + " ]\n  DeformSetting Mesh\n" + modules +
         "PixelMode: DeformType DEFORM_PIXEL\nMesh:\n  DeformType DEFORM_REGULAR_MESH\n  MeshResolution [ 6 6 ]\n"
         "  DefaultRect [ 0 1 0 1 ]\n  WhiteToTransparent true\n  TransparencyThreshold 0.1\n";
}

// One frame of every cell.
void Frame(const std::vector<std::unique_ptr<Warpixator>>& cells) {
  for (const auto& cell : cells) warpix_fuzz::DeformFrame(*cell);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static R2Image image = warpix_fuzz::MakePicture(3);
  static ParamParser* params = [] {
    const std::string path = warpix_fuzz::ScratchPath(".anim.params");
    const std::string text = Parameters();
    warpix_fuzz::WriteFile(path, text.data(), text.size());
    auto* parsed = new ParamParser(path, nullptr, 0);
    remove(path.c_str());
    return parsed;
  }();

  std::istringstream script(std::string(reinterpret_cast<const char*>(data), size));
  warpix_fuzz::QuietOutput quiet;
  try {
    ZelStringList oldPoints, newPoints;
    AnimationScript::ReadStartLines(script, oldPoints, newPoints);
    std::vector<double> originals, targets;
    if (AnimationScript::ParseStart(oldPoints, newPoints, "fuzz.anim", originals, targets) !=
        AnimationScript::StartCheck::kOk) {
      return 0;  // the window stops here with its fatal report
    }
    if (originals.size() > 2 * kMaxPoints) return 0;

    std::vector<std::unique_ptr<Warpixator>> cells;
    std::vector<Warpixator*> deformators;
    bool valid = false;
    for (const ZelString& name : params->GetStrValues("General", "Deformators", valid)) {
      cells.emplace_back(GetDeformator(*params, name, image));
      deformators.push_back(cells.back().get());
    }
    AnimationScript::Start(deformators, originals, targets);
    Frame(cells);
    const int valuesPerLine = static_cast<int>(originals.size());
    std::vector<double> values;
    for (int line = 0; line < kMaxLines && !AnimationScript::Exhausted(script); ++line) {
      const AnimationScript::FrameLine kind = AnimationScript::ReadFrame(script, valuesPerLine, values);
      if (kind == AnimationScript::FrameLine::kEnd) break;
      if (kind != AnimationScript::FrameLine::kFrame) continue;
      AnimationScript::Apply(deformators, values);
      Frame(cells);
    }
  } catch (const warpix::AssertUnwind& stop) {
    warpix_fuzz::UndocumentedStop(stop);
  }
  return 0;
}
