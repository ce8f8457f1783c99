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
#include <functional>
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

  /// True when Render and RenderBands can draw a width x height picture:
  /// both at least 1, and the picture not empty (nor, sampled in place,
  /// changed in size since this rasteriser was built).
  bool CanRender(int width, int height) const;

  /// Receives rows [first, first + count) of a render: count rows of 4 x
  /// width bytes, row first at rgba, the next rows after it. False stops the
  /// render.
  using BandSink = std::function<bool(int first, int count, const unsigned char* rgba)>;

  /// Render's picture a band of at most bandRows rows at a time (at least
  /// one), the top band first, each handed to sink: the same bytes as Render,
  /// with one band's buffer instead of the whole picture's, so that a writer
  /// can take the rows while they are still in the cache. False (sink not
  /// called) for an empty picture or size, or when sink returned false.
  bool RenderBands(int width, int height, const Background& background, int bandRows,
                   const BandSink& sink);

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
  /// The background under the mesh, on rows of width x 4 bytes (pixel mode
  /// covers every pixel: nothing to do).
  void FillBackground(const Background& background, int width, int rows, unsigned char* rgba) const;
  /// Transparent texels over an opaque background: composited, alpha 255.
  void Composite(const Background& background, int width, int rows, unsigned char* rgba) const;

  int m_iWidth;
  int m_iHeight;
  bool m_bMesh;
  bool m_bInPlace;  // the picture is sampled as it is: every texel opaque
  const Warpixator& m_Deformator;
  std::vector<float> m_Texels;  // RGBA per picture pixel, row 0 first (a copy)
};
