#include "render/MeshRasterizer.h"

#include <cmath>
#include <random>
#include <vector>

#include "../deform/DeformTesting.h"
#include "../image/ImageTestFiles.h"
#include "TestCommon.h"

namespace {

// A picture of random colours.
R2Image Random(int width, int height, unsigned seed) { return image_test::RandomImage(width, height, 3, seed); }

// Pixel (x, y) of an RGBA render, row 0 first.
const unsigned char* At(const R2Image& out, int x, int y) {
  return out.Pixels() + static_cast<size_t>(y) * out.RowSize() + 4 * x;
}

const unsigned char* At3(const R2Image& in, int x, int y) {
  return in.Pixels() + static_cast<size_t>(y) * in.RowSize() + 3 * x;
}

MeshRasterizer::Background Transparent() { return MeshRasterizer::Background(); }

}  // namespace

TEST(MeshRasterizer, UndeformedMeshRendersThePictureExactly) {
  for (const auto& size : {std::pair<int, int>{1, 1}, {7, 5}, {640, 480}}) {
    R2Image picture = Random(size.first, size.second, 3);
    for (int cells : {1, 7, 20}) {
      Warpixator d(picture, "d");
      deform_test::Mesh(d, cells, cells);
      MeshRasterizer rasterizer(d);
      R2Image out;
      ASSERT_TRUE(rasterizer.Render(size.first, size.second, Transparent(), out));
      EXPECT_TRUE(image_test::SameColours(out, picture)) << cells;
      for (int k = 0; k < size.first * size.second; ++k) ASSERT_EQ(At(out, k % size.first, k / size.first)[3], 255);
    }
    // Pixel mode shows the same picture.
    Warpixator pixel(picture, "p");
    MeshRasterizer rasterizer(pixel);
    R2Image out;
    ASSERT_TRUE(rasterizer.Render(size.first, size.second, Transparent(), out));
    EXPECT_TRUE(image_test::SameColours(out, picture));
  }
}

TEST(MeshRasterizer, ScaleGivesHandComputedBilinearPixels) {
  // (Whole-pixel shifts: WarpixRender's WholePixelTranslationShiftsThePicture.)
  const int W = 40, H = 30;
  R2Image picture = Random(W, H, 5);
  Warpixator d(picture, "d");
  deform_test::Mesh(d, 9, 6);
  MeshRasterizer rasterizer(d);
  R2Image out;
  // Scaled by 2 about the centre: output pixel (i, j) samples the picture at
  // texel coordinate ((i + 0.5 - W/2) / 2 + W/2 - 0.5, likewise in y).
  for (auto& v : d.m_Vertices) {
    v.m_fX = 0.5 + 2 * (v.m_fRestX - 0.5);
    v.m_fY = 0.5 + 2 * (v.m_fRestY - 0.5);
  }
  ASSERT_TRUE(rasterizer.Render(W, H, Transparent(), out));
  for (const auto& ij : {std::pair<int, int>{20, 15}, {13, 9}, {27, 22}, {0, 0}}) {
    const double tx = (ij.first + 0.5 - W / 2.0) / 2 + W / 2.0 - 0.5;
    const double ty = (ij.second + 0.5 - H / 2.0) / 2 + H / 2.0 - 0.5;
    const int x0 = static_cast<int>(std::floor(tx)), y0 = static_cast<int>(std::floor(ty));
    const double ax = tx - x0, ay = ty - y0;
    for (int c = 0; c < 3; ++c) {
      const double value = (1 - ay) * ((1 - ax) * At3(picture, x0, y0)[c] + ax * At3(picture, x0 + 1, y0)[c]) +
                           ay * ((1 - ax) * At3(picture, x0, y0 + 1)[c] + ax * At3(picture, x0 + 1, y0 + 1)[c]);
      EXPECT_NEAR(At(out, ij.first, ij.second)[c], value, 0.51) << ij.first << " " << ij.second;
    }
  }
}

// (Later faces winning and transparent texels giving alpha 0: the kernel
// test's folded meshes over a picture with transparent texels.)
TEST(MeshRasterizer, TransparentTexelsShowAnOpaqueBackground) {
  R2Image picture(2, 1, 3);
  picture.SetPixelRGB(0, 0, RNRgb(1, 0, 0));
  picture.SetPixelRGB(1, 0, RNRgb(1, 1, 1));  // white, made transparent below
  Warpixator d(picture, "d");
  {
    warpix_test::CoutCapture quiet;
    d.SwitchMeshBasedDeformation(1, 1, false, true, RNRgb(1, 1, 1), 0.1, 0, 1, 0, 1);
  }
  MeshRasterizer::Background white;
  white.transparent = false;
  R2Image clear, opaque;
  ASSERT_TRUE(MeshRasterizer(d).Render(8, 2, Transparent(), clear) && MeshRasterizer(d).Render(8, 2, white, opaque));
  EXPECT_EQ(std::vector<int>({At(clear, 7, 1)[3], At(opaque, 7, 1)[1], At(opaque, 7, 1)[3], At(opaque, 0, 0)[1], At(opaque, 0, 0)[3]}),
            std::vector<int>({0, 255, 255, 0, 255}));
}

TEST(MeshRasterizer, WorkIsBoundedByTheOutputWhateverTheCornersHold) {
  // Faces wholly beyond each side of the output at 1e200, faces with an
  // infinite or not-a-number corner, one far larger than the output and one
  // whose corners are too far apart for their area to be finite: each is
  // clipped to the output or left out, and nothing outside is written.
  R2Image picture = Random(4, 4, 5);
  Warpixator d(picture, "d");
  MeshRasterizer rasterizer(d);
  const double far = 1e200, inf = INFINITY, nan = NAN;
  const double corners[][6] = {{far, 0.1, 2 * far, 0.1, far, 0.9},      // right
                               {-2 * far, 0.1, -far, 0.1, -far, 0.9},   // left
                               {0.1, far, 0.9, far, 0.1, 2 * far},      // above
                               {0.1, -2 * far, 0.9, -far, 0.1, -far},   // below
                               {inf, 0.1, 0.9, 0.1, 0.1, 0.9},          // infinite
                               {nan, 0.1, 0.9, 0.1, 0.1, 0.9},          // not a number
                               {-1e300, -1e300, 1e300, -1e300, 0, 1e300},  // area overflows
                               {-1e9, -1e9, 1e9, -1e9, 0, 1e9}};        // covers everything
  const int W = 37, H = 23;
  const long long expected[] = {0, 0, 0, 0, 0, 0, 0, W * H};
  for (size_t f = 0; f < sizeof(corners) / sizeof(corners[0]); ++f) {
    std::vector<Warpixator::ImgVertex> v(3);
    for (int k = 0; k < 3; ++k) {
      v[k].m_fX = corners[f][2 * k];
      v[k].m_fY = corners[f][2 * k + 1];
      v[k].m_fTexU = v[k].m_fTexV = 0.5;
    }
    std::vector<unsigned char> rgba(4 * W * H + 64, 7);  // 64 guard bytes past the end
    EXPECT_EQ(rasterizer.RasterizeFaces(v, {{0, 1, 2}}, W, H, rgba.data()), expected[f]) << f;
    for (size_t k = 4 * W * H; k < rgba.size(); ++k) ASSERT_EQ(rgba[k], 7) << f;
  }
}
