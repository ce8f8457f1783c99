#include "shell/Warpix.h"

#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

#include "deform/DeformAsRigidAsPossible.h"
#include "deform/DeformGreenCoords.h"
#include "deform/DeformMLS.h"
#include "deform/DeformMeanValueCoords.h"
#include "deform/DeformThinPlateSplineWarp.h"
#include "deform/Warpixator.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "image/R2Image.h"
#include "image/RNRgb.h"
#include "support/ParamParser.h"
#include "support/ZelString.h"
#include "support/ZelStringList.h"
#include "support/WarpixAssert.h"

namespace {

// Mesh resolutions above this many cells per side are refused (the default is
// used instead): the mesh would not fit in memory or in int indices.
constexpr int kMaxMeshResolution = 1000;

// A settings word that is true only when present and exactly "true"; an absent
// key gives defaultValue.
bool ReadFlag(const ParamParser& parameters, const ZelString& module, const char* key,
              bool defaultValue) {
  bool valid = false;
  const ZelString value = parameters.GetStrValue(module, key, valid);
  return valid ? value == "true" : defaultValue;
}

// Reads the mesh keys of the settings module and switches the deformator to
// mesh mode with them.
void SwitchToMesh(const ParamParser& parameters, const ZelString& settings,
                  Warpixator* deformator) {
  bool valid = false;
  std::vector<int> resolution = parameters.GetIntValues(settings, "MeshResolution", valid);
  if (!valid || resolution.size() < 2) {
    std::cout << "[WARNING] Mesh Resolution is not give. Set to default=10x10" << std::endl;
    resolution = {10, 10};
  } else if (resolution[0] < 1 || resolution[1] < 1 || resolution[0] > kMaxMeshResolution ||
             resolution[1] > kMaxMeshResolution) {
    std::cout << "[WARNING] Mesh Resolution " << resolution[0] << "x" << resolution[1]
              << " is outside 1.." << kMaxMeshResolution << ". Set to default=10x10"
              << std::endl;
    resolution = {10, 10};
  }

  const bool drawMesh = ReadFlag(parameters, settings, "DrawMesh", true);

  std::vector<double> rect = parameters.GetDoubleValues(settings, "DefaultRect", valid);
  if (!valid || rect.size() < 4) {
    std::cout << "[WARNING] Mesh Rectangle is not give. Set to default=[0,1]x[0,1]"
              << std::endl;
    rect = {0.0, 1.0, 0.0, 1.0};
  }

  const bool whiteToTransparent = ReadFlag(parameters, settings, "WhiteToTransparent", true);
  const std::vector<double> colour =
      parameters.GetDoubleValues(settings, "TransparentColor", valid);
  const RNRgb transparentColor =
      colour.size() == 3 ? RNRgb(colour[0], colour[1], colour[2]) : RNblack_rgb;
  // Absent: -1 (nothing is transparent); present but not a number: 0.
  const double threshold = parameters.GetDoubleValue(settings, "TransparencyThreshold", valid);

  deformator->SwitchMeshBasedDeformation(resolution[0], resolution[1], drawMesh,
                                         whiteToTransparent, transparentColor, threshold,
                                         rect[0], rect[1], rect[2], rect[3]);
}

// InterOp names the operator between the two normalisations; any other word
// (or none) gives operator 0, which maps like ThinPlateSplines (with a warning).
DeformQuasiConf::IntermediateOperator ReadInterOp(const ParamParser& parameters,
                                                  const ZelString& name) {
  bool valid = false;
  const ZelString word = parameters.GetStrValue(name, "InterOp", valid);
  const DeformQuasiConf::IntermediateOperator op =
      DeformQuasiConf::StrToIntermediateOp(valid ? word.c_str() : "");
  if (op == DeformQuasiConf::OP_NONE) {
    std::cout << "[WARNING] " << name << ": InterOp '" << (valid ? word : ZelString(""))
              << "' is not an operator (AffineQuad, MeanValCoords, ThinPlateSplines, "
                 "MovingLeastSquares, FixedLinesTPS, FixedLinesTPSNoQuasiConf); operator 0 "
                 "maps like ThinPlateSplines"
              << std::endl;
  }
  return op;
}

// MLSType, which is required: MLS_FIT_SIMILARITY, MLS_RIGID or MLS_AFFINE;
// any other word (or none) is returned after the error line.
ZelString ReadMLSType(const ParamParser& parameters, const ZelString& name) {
  bool valid = false;
  const ZelString mlsType = parameters.GetStrValue(name, "MLSType", valid);
  if (mlsType != "MLS_FIT_SIMILARITY" && mlsType != "MLS_RIGID" && mlsType != "MLS_AFFINE") {
    std::cout << "[ERROR] " << name
              << ": MLSType must be MLS_FIT_SIMILARITY, MLS_RIGID or MLS_AFFINE" << std::endl;
  }
  return mlsType;
}

// ScaleRule of the rigid method's step 2: Fitted (the default) or Rest. Rest
// takes effect with Rescale true only; without it, and for any other word,
// one warning.
DeformAsRigidAsPossible::ScaleRule ReadScaleRule(const ParamParser& parameters,
                                                 const ZelString& name, bool rescale) {
  bool valid = false;
  const ZelString word = parameters.GetStrValue(name, "ScaleRule", valid);
  if (!valid || word == "Fitted") return DeformAsRigidAsPossible::ScaleRule::kFitted;
  if (word != "Rest") {
    std::cout << "[WARNING] " << name << ": ScaleRule '" << word
              << "' is not Fitted or Rest; Fitted is used" << std::endl;
    return DeformAsRigidAsPossible::ScaleRule::kFitted;
  }
  if (!rescale) {
    std::cout << "[WARNING] " << name
              << ": ScaleRule Rest applies to the rescaling step only (Rescale true); "
                 "it changes nothing here"
              << std::endl;
  }
  return DeformAsRigidAsPossible::ScaleRule::kRest;
}

// Smoothing of the thin-plate-spline warp: a number >= 0 (absent: 0, exact
// interpolation); anything else gives one warning and 0.
double ReadSmoothing(const ParamParser& parameters, const ZelString& name) {
  bool valid = false;
  const ZelString word = parameters.GetStrValue(name, "Smoothing", valid);
  if (!valid) return 0.0;
  const double smoothing = parameters.GetDoubleValue(name, "Smoothing", valid);
  if (valid && std::isfinite(smoothing) && smoothing >= 0.0) return smoothing;
  std::cout << "[WARNING] " << name << ": Smoothing '" << word
            << "' is not a number >= 0; 0 is used (exact interpolation)" << std::endl;
  return 0.0;
}

// Applies the settings module (the deformator's own DeformSetting, else
// General's, else none): its DeformType picks pixel or mesh mode. False,
// after the error line, when DeformType names neither.
bool ApplyDeformSetting(const ParamParser& parameters, const ZelString& name,
                        Warpixator* deformator) {
  bool valid = false;
  ZelString settings = parameters.GetStrValue(name, "DeformSetting", valid);
  if (!valid) settings = parameters.GetStrValue("General", "DeformSetting", valid);
  if (!valid) return true;
  const ZelString deformType = parameters.GetStrValue(settings, "DeformType", valid);
  if (!valid) return true;
  if (deformType == "DEFORM_PIXEL") {
    deformator->SwitchPixelBasedDeformation();
  } else if (deformType == "DEFORM_REGULAR_MESH") {
    SwitchToMesh(parameters, settings, deformator);
  } else {
    std::cout << "[ERROR] Unknown Deformation type "
              << "(valid=[DEFORM_PIXEL, DEFORM_REGULAR_MESH])" << std::endl;
    return false;
  }
  return true;
}

// These methods move mesh vertices only; without a mesh the image is shown
// undeformed, which is said once.
void WarnWhenUndeformed(const ZelString& type, const ZelString& displayName,
                        const Warpixator& deformator) {
  if ((type == "DeformMLS" || type == "DeformQuasiConf" || type == "DeformAsRigidAsPossible") &&
      deformator.m_DeformationType != Warpixator::DEFORM_REGULAR_MESH) {
    std::cout << "[WARNING] " << displayName << ": " << type
              << " needs DeformType DEFORM_REGULAR_MESH; the image is shown undeformed"
              << std::endl;
  }
}

// The error line of a General control-point list that has an odd number of values.
void ReportOddCount(const char* key, const std::vector<double>& values) {
  if (values.size() % 2 == 0) return;
  std::cout << "[ERROR] General " << key << " has an odd number of values (" << values.size()
            << "); control points need whole (x, y) pairs" << std::endl;
}

// The error line of more targets than control points.
void ReportMoreTargets(const std::vector<double>& origVals, const std::vector<double>& newVals) {
  if (newVals.size() <= origVals.size()) return;
  std::cout << "[ERROR] General DeformCtrlPnts has more values (" << newVals.size()
            << ") than InitCtrlPnts (" << origVals.size() << ")" << std::endl;
}

}  // namespace

ZelString DeformatorDisplayName(const ParamParser& parameters, const ZelString& module) {
  bool valid = false;
  const ZelStringList& words = parameters.GetStrValues(module, "Name", valid);
  return valid && words.count() > 0 ? words.join(" ") : module;
}

Warpixator* GetDeformator(ParamParser& parameters, const ZelString& name, R2Image& image) {
  // Starting state shared by every deformator of the run.
  bool valid = false;
  std::vector<double> newVals = parameters.GetDoubleValues("General", "DeformCtrlPnts", valid);
  std::vector<double> origVals = parameters.GetDoubleValues("General", "InitCtrlPnts", valid);
  const ZelStringList history = parameters.GetStrValues("General", "History", valid);

  const ZelString type = parameters.GetStrValue(name, "Type", valid);
  if (!valid) std::cout << "[ERROR] " << name << ": the key Type is missing" << std::endl;
  WARPIX_CONFIG_ASSERT(valid);

  const ZelString displayName = DeformatorDisplayName(parameters, name);

  // One row per deformator class; the stops of a configuration error stay in
  // this function, which the fatal report names. Owned here until it is
  // returned, so that a fatal stop that unwinds (the fuzz builds) leaves
  // nothing behind.
  std::unique_ptr<Warpixator> deformator;
  if (type == "NullDeformator") {
    // The identity deformator is always shown under its module name.
    deformator = std::make_unique<Warpixator>(image, name);
  } else if (type == "DeformQuasiConf") {
    deformator = std::make_unique<DeformQuasiConf>(image, displayName, ReadInterOp(parameters, name));
  } else if (type == "DeformMeanValueCoords") {
    deformator = std::make_unique<DeformMeanValueCoords>(image, displayName);
  } else if (type == "DeformGreenCoords") {
    deformator = std::make_unique<DeformGreenCoords>(image, displayName);
  } else if (type == "DeformThinPlateSplineWarp") {
    deformator = std::make_unique<DeformThinPlateSplineWarp>(image, displayName,
                                                             ReadSmoothing(parameters, name));
  } else if (type == "DeformMLS") {
    // A similarity, rigid or affine fit per mesh vertex.
    const ZelString mlsType = ReadMLSType(parameters, name);
    DeformMLS::MLSErrorType fit = DeformMLS::MLS_RIGID;
    if (mlsType == "MLS_FIT_SIMILARITY") {
      fit = DeformMLS::MLS_FIT_SIMILARITY;
    } else if (mlsType == "MLS_AFFINE") {
      fit = DeformMLS::MLS_AFFINE;
    } else {
      WARPIX_CONFIG_ASSERT((mlsType=="MLS_RIGID"));
    }
    deformator = std::make_unique<DeformMLS>(image, displayName, fit);
  } else if (type == "DeformAsRigidAsPossible") {
    const bool rescale = ReadFlag(parameters, name, "Rescale", false);
    const bool quasiConf = ReadFlag(parameters, name, "QuasiConf", false);
    deformator = std::make_unique<DeformAsRigidAsPossible>(
        quasiConf, rescale, image, displayName, ReadScaleRule(parameters, name, rescale));
  } else {
    std::cout << "[WARNING] Unknown Deformation type - " << type << std::endl;
    return nullptr;
  }
  deformator->m_ModuleName = name;

  if (!ApplyDeformSetting(parameters, name, deformator.get())) WARPIX_CONFIG_ASSERT(false);
  WarnWhenUndeformed(type, displayName, *deformator);

  // Starting control points: whole (x, y) pairs, no more targets than points.
  if (!origVals.empty()) {
    ReportOddCount("InitCtrlPnts", origVals);
    WARPIX_CONFIG_ASSERT(origVals.size() % 2 == 0);
    ReportOddCount("DeformCtrlPnts", newVals);
    WARPIX_CONFIG_ASSERT(newVals.size() % 2 == 0);
    ReportMoreTargets(origVals, newVals);
    WARPIX_CONFIG_ASSERT(newVals.size() <= origVals.size());
    deformator->InitializeCtrlPntState(origVals, newVals);
  }

  // A stored history is replayed; a single token is no history.
  if (history.count() > 1) {
    std::cout << "Loading History" << std::endl;
    deformator->m_History = history;
    deformator->DeformUsingHistory();
  }
  return deformator.release();
}
