#pragma once

#include "support/ZelString.h"

class ParamParser;
class R2Image;
class Warpixator;

/// The name shown for the deformator of `module`: its `Name` values joined
/// with one blank, or the module name when `Name` is absent or empty.
ZelString DeformatorDisplayName(const ParamParser& parameters, const ZelString& module);

/// Builds the deformator described by module `name` of the parameters: its
/// class from `Type`, its mode and mesh from the settings module (`DeformSetting`
/// of the module, else of `General`), then the `General` starting control points
/// (`InitCtrlPnts`, `DeformCtrlPnts`) and the replay of `General`'s `History`.
/// Returns a new deformator owned by the caller, or nullptr (with a warning) for
/// an unknown `Type`. A missing `Type`, an invalid `DeformType` and malformed
/// control-point lists or histories are fatal start-up errors.
Warpixator* GetDeformator(ParamParser& parameters, const ZelString& name, R2Image& image);
