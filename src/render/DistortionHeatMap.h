#pragma once

// Colours for a cell's distortion: each face filled by its conformal
// distortion K on a perceptual dark-blue-to-yellow scale of log K, from K = 1
// (dark) to K = 4 and above (yellow), and folded faces in magenta.
#include <vector>

#include "image/R2Image.h"
#include "render/DistortionMetrics.h"
#include "render/MeshRasterizer.h"

class DistortionHeatMap {
 public:
  /// Where K = 4 and above lie on the scale (log K / log 4 clamped to [0, 1]).
  static constexpr double kTopOfScale = 4.0;

  /// The scale's colour at t in [0, 1] (clamped; not a number: 0).
  static void ScaleColour(double t, unsigned char rgb[3]);
  /// A face's colour: magenta when flipped, else the scale at log K / log 4.
  static void FaceColour(const FaceDistortion& face, unsigned char rgb[3]);

  /// The heat map of the cell measured by metrics (faces from its last
  /// Measure, one per face), width x height RGBA over background; faces left
  /// out as wholly transparent stay background. False for an empty size or
  /// a faces list of the wrong length.
  static bool Render(const DistortionMetrics& metrics, const std::vector<FaceDistortion>& faces,
                     int width, int height, const MeshRasterizer::Background& background,
                     R2Image& out);
};
