#include "render/DistortionHeatMap.h"

#include <cmath>

namespace {

// Nine evenly spaced stops of a perceptually uniform scale from dark blue
// through teal and green to yellow.
constexpr unsigned char kStops[9][3] = {
    {68, 1, 84},    {71, 44, 122},  {59, 81, 139},  {44, 113, 142}, {33, 144, 141},
    {39, 173, 129}, {92, 200, 99},  {170, 220, 50}, {253, 231, 37}};

}  // namespace

void DistortionHeatMap::ScaleColour(double t, unsigned char rgb[3]) {
  if (!(t > 0.0)) t = 0.0;  // also not a number
  if (t > 1.0) t = 1.0;
  const double position = t * 8.0;
  const int stop = position >= 8.0 ? 7 : static_cast<int>(position);
  const double a = position - stop;
  for (int c = 0; c < 3; ++c) {
    const double value = kStops[stop][c] + a * (kStops[stop + 1][c] - kStops[stop][c]);
    rgb[c] = static_cast<unsigned char>(value + 0.5);
  }
}

void DistortionHeatMap::FaceColour(const FaceDistortion& face, unsigned char rgb[3]) {
  if (face.m_bFlipped) {
    rgb[0] = 255, rgb[1] = 0, rgb[2] = 255;
    return;
  }
  // K = infinity lands on the top of the scale; K below 1 cannot occur.
  ScaleColour(std::log(face.m_fConformal) / std::log(kTopOfScale), rgb);
}

bool DistortionHeatMap::Render(const DistortionMetrics& metrics,
                               const std::vector<FaceDistortion>& faces, int width, int height,
                               const MeshRasterizer::Background& background, R2Image& out) {
  if (width < 1 || height < 1 || static_cast<int>(faces.size()) != metrics.NumFaces()) return false;
  R2Image image(width, height, 4);
  if (!image.IsValid()) return false;
  unsigned char* rgba = image.Pixels();
  const size_t bytes = static_cast<size_t>(width) * height * 4;
  for (size_t k = 0; k < bytes; k += 4) {
    for (int c = 0; c < 3; ++c) rgba[k + c] = background.rgb[c];
    rgba[k + 3] = background.transparent ? 0 : 255;
  }
  std::vector<Warpixator::ImgFace> shown;
  std::vector<unsigned char> colours;
  for (int f = 0; f < metrics.NumFaces(); ++f) {
    if (metrics.IsLeftOut(f)) continue;
    shown.push_back(metrics.Faces()[f]);
    unsigned char rgb[3];
    FaceColour(faces[f], rgb);
    colours.insert(colours.end(), {rgb[0], rgb[1], rgb[2], 255});
  }
  MeshRasterizer::RasterizeFlatFaces(metrics.Vertices(), shown, colours, width, height, rgba);
  out = image;
  return true;
}
