// libFuzzer target for the deformator factory over a fuzzed parameter file:
// GetDeformator for every name in General's Deformators, and again for the
// first of them (or module FuzzCell) with its Type, MLSType, InterOp,
// Rescale and QuasiConf forced by command-line overrides to each known
// combination, so that every class is built under the fuzzed settings,
// starting points and history. Each deformator built then deforms and maps
// its mesh once, as a frame does, and is deleted. The picture is a 16 x 12
// RGB or RGBA one held in memory.
//
// The documented fatal stops of the factory (missing Type, invalid MLSType
// or DeformType, malformed control-point lists or History) and of the parser
// are expected outcomes; they unwind, and the factory owns the deformator it
// is building until it returns it, so nothing is left behind. Any other stop,
// crash, sanitizer report, leak, hang or memory blow-up is a finding.
//
// Bounds of the harness (inputs beyond them are skipped, not run): at most
// kMaxNames names, settings modules with meshes of at most kMaxVertices
// vertices, at most kMaxPoints starting points and kMaxHistoryTokens history
// tokens. Larger configurations are legitimately slow (a 1000 x 1000 mesh
// under as-rigid-as-possible, hundreds of points under operator 4), which
// says nothing about faults; their memory is bounded by the methods' table
// limit, lowered here to kTableBytes so the fuzzer reaches the refusals.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "shell/Warpix.h"
#include "support/ParamParser.h"
#include "support/WarpixAssert.h"

namespace {

constexpr int kMaxNames = 6;
constexpr long long kMaxVertices = 1600;
constexpr int kMaxPoints = 16;
constexpr int kMaxHistoryTokens = 100;
constexpr long long kTableBytes = 16LL << 20;

// The mesh the factory would build for the settings module of `name` is
// within the harness bound (no mesh, or one the factory replaces by 10 x 10,
// counts as small).
bool SmallMesh(const ParamParser& params, const ZelString& name) {
  bool valid = false;
  ZelString settings = params.GetStrValue(name, "DeformSetting", valid);
  if (!valid) settings = params.GetStrValue("General", "DeformSetting", valid);
  if (!valid) return true;
  const std::vector<int> r = params.GetIntValues(settings, "MeshResolution", valid);
  if (!valid || r.size() < 2 || r[0] < 1 || r[1] < 1 || r[0] > 1000 || r[1] > 1000) return true;
  return (r[0] + 1LL) * (r[1] + 1LL) <= kMaxVertices;
}

// Builds module `name` and runs one frame's deformation; documented stops
// end the build.
void BuildAndDeform(ParamParser& params, const ZelString& name, R2Image& image) {
  try {
    std::unique_ptr<Warpixator> deformator(GetDeformator(params, name, image));
    if (deformator != nullptr) warpix_fuzz::DeformFrame(*deformator);  // null: an unknown Type, skipped
  } catch (const warpix::AssertUnwind& stop) {
    if (!warpix_fuzz::IsDocumentedStop(stop, {"GetDeformator", "DeformUsingHistory"}))
      warpix_fuzz::UndocumentedStop(stop);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = warpix_fuzz::ScratchPath(".params");
  static R2Image pictures[2] = {warpix_fuzz::MakePicture(3), warpix_fuzz::MakePicture(4)};
  Warpixator::SetTableByteLimit(kTableBytes);
  if (!warpix_fuzz::WriteFile(path, reinterpret_cast<const char*>(data), size)) return 0;
  R2Image& image = pictures[size % 2];
  warpix_fuzz::QuietOutput quiet;

  try {
    ParamParser params(path, nullptr, 0);
    bool valid = false;
    std::vector<ZelString> names;
    for (const ZelString& name : params.GetStrValues("General", "Deformators", valid)) {
      if (static_cast<int>(names.size()) == kMaxNames) break;
      names.push_back(name);
    }
    const ZelString forced = names.empty() ? ZelString("FuzzCell") : names[0];

    // The harness bounds (see the file comment).
    if (params.GetStrValues("General", "InitCtrlPnts", valid).count() > 2 * kMaxPoints ||
        params.GetStrValues("General", "History", valid).count() > kMaxHistoryTokens) {
      return 0;
    }
    for (const ZelString& name : names)
      if (!SmallMesh(params, name)) return 0;
    if (!SmallMesh(params, forced)) return 0;

    for (const ZelString& name : names) BuildAndDeform(params, name, image);
    // The module's keys replaced by overrides: "-<module>" opens it again.
    const std::string header = "-" + forced.toStdString();
    for (const std::vector<const char*>& keys : warpix_fuzz::EveryMethod()) {
      std::vector<const char*> argv{header.c_str()};
      argv.insert(argv.end(), keys.begin(), keys.end());
      ParamParser overridden(path, argv.data(), static_cast<int>(argv.size()));
      BuildAndDeform(overridden, forced, image);
    }
  } catch (const warpix::AssertUnwind& stop) {
    // A stop of the parser itself (a key as the last token).
    if (!warpix_fuzz::IsDocumentedStop(stop, {"ParamParser"})) warpix_fuzz::UndocumentedStop(stop);
  }
  remove(path.c_str());
  return 0;
}
