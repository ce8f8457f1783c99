#pragma once

// The span kernel of the CPU rasteriser: the pixels of one row of one face,
// at the full vector width of the processor it runs on.

namespace warpix {

/// One face as the rasteriser scans it. Edge k (opposite corner k) has the
/// value e = row[k] - dy[k] * (x - ax[k]) at pixel centre x of a row, where
/// row[k] is the part that depends on the row only, negated when reversed[k];
/// the centre is covered when e > 0, or e == 0 and owns[k], for all three.
/// Its barycentric weights are e_k * inverse (inverse: one over twice the
/// area); texU, texV are the corners' texture coordinates.
struct RasterFace {
  double ax[3], dy[3];
  bool reversed[3], owns[3];
  double inverse;
  double texU[3], texV[3];
};

/// The picture the textured route samples, width x height pixels (both at
/// least 1), row 0 first: RGBA floats in [0, 255], width x 4 per row; or,
/// when texels is null, the RGB bytes of a picture (alpha 255), rows
/// rgbRowBytes apart.
struct RasterTexture {
  const float* texels;
  int width, height;
  const unsigned char* rgb;
  long long rgbRowBytes;
};

/// Writes colour (4 bytes) to each covered pixel centre x = i + 0.5,
/// i0 <= i <= i1, of a row (row: the three edges' row parts) at
/// rgbaRow + 4 i. Returns the number of pixels written.
int RasterFlatSpan(const RasterFace& face, const double* row, int i0, int i1,
                   const unsigned char* colour, unsigned char* rgbaRow);

/// The same span textured: each covered pixel gets the bilinear sample of
/// texture (clamped at its border) at the texture coordinates
/// u = w0 texU[0] + w1 texU[1] + w2 texU[2], likewise v, each clamped to
/// [0, 1]; u = 0 is the left edge of texel 0, v = 0 the bottom of row 0.
int RasterTexturedSpan(const RasterFace& face, const double* row, int i0, int i1,
                       const RasterTexture& texture, unsigned char* rgbaRow);

}  // namespace warpix
