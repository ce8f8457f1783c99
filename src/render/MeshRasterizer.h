#pragma once

// A CPU rasteriser that draws a deformator's cell at any resolution without
// a window: each face of the deformed mesh, in the window's order, textured
// with the picture. Pixel centres lie at (i + 0.5, j + 0.5) in output pixels,
// where the unit square of the cell covers the whole output and row 0 is the
// picture's row 0 (so an undeformed mesh renders the picture itself). A pixel
// on an edge shared by two faces belongs to exactly one of them (top-left
// rule); a later face overwrites an earlier one. Texture coordinates are
// interpolated barycentrically and the picture is sampled bilinearly,
// clamped at its border; alpha follows the deformator's transparency rule.
#include <vector>

#include "deform/Warpixator.h"
#include "image/R2Image.h"

namespace warpix {
struct RasterTexture;
}

class MeshRasterizer {
 public:
  /// Uncovered pixels: transparent (alpha 0) or an opaque colour.
  struct Background {
    bool transparent = true;
    unsigned char rgb[3] = {255, 255, 255};
  };

  /// Where the texture comes from. kAuto samples an RGB picture in place
  /// when no pixel can be transparent (no alpha channel, the deformator's
  /// colour transparency off), which costs nothing to set up; otherwise, and
  /// always with kCopy, it copies the picture as RGBA floats (16 bytes a
  /// pixel), which renders a frame about a tenth faster. Both give the same
  /// pixels.
  enum class TextureSource { kAuto, kCopy };

  /// The texture of the deformator's picture: its colours, alpha 0 where the
  /// deformator calls a pixel transparent and 255 elsewhere (default source:
  /// kAuto). A picture sampled in place must keep its pixels meanwhile.
  explicit MeshRasterizer(Warpixator& deformator, TextureSource source = TextureSource::kAuto);

  /// What the deformator's cell shows, as an RGBA image of width x height
  /// (both at least 1): the deformed mesh in mesh mode, the picture itself in
  /// pixel mode. out's buffer is reused when it has that shape. False (out
  /// untouched) for an empty picture or size.
  bool Render(int width, int height, const Background& background, R2Image& out);

  /// Draws faces over vertices (positions m_fX, m_fY in cell units; texture
  /// coordinates m_fTexU, m_fTexV) into rgba, width x height x 4 bytes, rows
  /// bottom first. Returns the number of pixels written (a pixel drawn by two
  /// overlapping faces counts twice).
  long long RasterizeFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                           const std::vector<Warpixator::ImgFace>& faces, int width, int height,
                           unsigned char* rgba) const;

  /// The same scan with one colour per face instead of the texture: colours
  /// holds RGBA bytes for every face in face order (a face of alpha 0 is still
  /// written, as any other). Returns the number of pixels written; 0 when
  /// colours is too short.
  static long long RasterizeFlatFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                                      const std::vector<Warpixator::ImgFace>& faces,
                                      const std::vector<unsigned char>& colours, int width,
                                      int height, unsigned char* rgba);

 private:
  /// The texture as the span kernel reads it: m_Texels, or the picture
  /// itself. False when there is none (an empty picture).
  bool Texture(warpix::RasterTexture& texture) const;

  int m_iWidth;
  int m_iHeight;
  bool m_bMesh;
  bool m_bInPlace;  // the picture is sampled as it is: every texel opaque
  const Warpixator& m_Deformator;
  std::vector<float> m_Texels;  // RGBA per picture pixel, row 0 first (a copy)
};
