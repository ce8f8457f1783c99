#pragma once

class ParamParser;
class R2Image;
class Warpixator;
class ZelString;

/// Builds the deformator described by module `name` of the parameters: its
/// class from `Type`, its mode and mesh from the settings module (`DeformSetting`
/// of the module, else of `General`), then the `General` starting control points
/// (`InitCtrlPnts`, `DeformCtrlPnts`) and the replay of `General`'s `History`.
/// Returns a new deformator owned by the caller, or nullptr (with a warning) for
/// an unknown `Type`. A missing `Type`, an invalid `DeformType` and malformed
/// control-point lists or histories are fatal start-up errors.
Warpixator* GetDeformator(ParamParser& parameters, const ZelString& name, R2Image& image);
