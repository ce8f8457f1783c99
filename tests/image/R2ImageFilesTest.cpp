// Round trips and the exact layouts of every file format.
#include <cmath>
#include <functional>
#include <limits>

#include "ImageTestFiles.h"
#include "TestCommon.h"
#include "image/R2ImageDetail.h"

using image_test::At;
using image_test::Bytes;
using image_test::RandomImage;
using warpix_test::TempFile;

namespace {

/// Same size and, pixel by pixel, the same colour (grey as (g, g, g), alpha
/// ignored): what a BMP, PPM or JPEG file keeps of an image.
bool SameColours(const R2Image& a, const R2Image& b) {
  bool same = a.Width() == b.Width() && a.Height() == b.Height();
  for (int i = 0; same && i < a.Width() * a.Height(); ++i) same = a.PixelRGB(i % a.Width(), i / a.Width()) == b.PixelRGB(i % a.Width(), i / a.Width());
  return same;
}

/// Reads the file into image, expecting the result `expected`.
void ReadBack(const TempFile& file, R2Image& image, int expected = 1) { ASSERT_EQ(image.Read(file.c_str()), expected); }

}  // namespace

TEST(R2ImageFiles, EveryWritableFormatRoundTripsWidthsOneToFive) {
  for (const std::string name : {"rt.bmp", "rt.ppm", "rt.P6.ppm", "rt.raw"}) {
    TempFile file(name);
    const bool raw = name == "rt.raw";
    for (int nc = 1; nc <= 4; ++nc) {
      for (int w = 1; w <= 5; ++w) {
        SCOPED_TRACE(name + ", width " + std::to_string(w) + ", components " + std::to_string(nc));
        const R2Image image = RandomImage(w, 3, nc, 10 * w + nc);
        const int count = name == "rt.bmp" ? 1 : w * 3 * nc * (raw ? 4 : 1);
        ASSERT_EQ(name[3] == 'P' ? image.WritePPM(file.c_str(), 0) : image.Write(file.c_str()), count);
        EXPECT_EQ(file.read().substr(0, 2), name == "rt.ppm" ? "P3" : name == "rt.P6.ppm" ? "P6" : file.read().substr(0, 2));
        R2Image back;
        ReadBack(file, back, raw ? count : 1);
        EXPECT_TRUE(SameColours(back, image));
        EXPECT_EQ(back.NComponents(), raw ? nc : 3);
        EXPECT_TRUE(!raw || memcmp(back.Pixels(), image.Pixels(), 3 * image.RowSize()) == 0);
      }
    }
  }
}

TEST(R2ImageFiles, BmpLayoutAndRowOrder) {
  R2Image image(5, 2, 3);
  image.SetPixelRGB(0, 0, RNred_rgb);
  TempFile file("layout.bmp");
  ASSERT_EQ(image.WriteBMP(file.c_str()), 1);
  const std::string bytes = file.read();
  ASSERT_EQ(bytes.size(), 54u + 16 * 2);
  EXPECT_EQ(bytes.substr(0, 54), image_test::BmpHeader(5, 2, 32).data());
  EXPECT_EQ(bytes.substr(54, 4), std::string("\0\0\xff\0", 4));  // blue, green, red; stride 3
  EXPECT_EQ(bytes[54 + 15], '\0');                                 // row padding
  // Bottom-up rows stay as they are, top-down (negative height) rows are turned
  // over; an image-size field of 0 is accepted; padding byte 9 is not kept.
  const std::string rows = Bytes().u8(1).u8(2).u8(3).u8(9).u8(4).u8(5).u8(6).u8(9);
  for (const int32_t height : {2, -2}) {
    file.write(image_test::BmpHeader(1, height, height > 0 ? 8 : 0).data() + rows);
    ReadBack(file, image);
    EXPECT_EQ(image.PixelRGB(0, height > 0 ? 0 : 1), RNRgb(3 / 255.0, 2 / 255.0, 1 / 255.0)) << height;
    EXPECT_EQ(image.PixelRGB(0, height > 0 ? 1 : 0), RNRgb(6 / 255.0, 5 / 255.0, 4 / 255.0)) << height;
    EXPECT_EQ(At(image, 0, 0, 3), 0);
  }
}

TEST(R2ImageFiles, TextPpmLayout) {
  R2Image image(6, 1, 3);
  for (int x = 0; x < 6; ++x) {
    for (int k = 0; k < 3; ++k) image.Pixels()[3 * x + k] = static_cast<unsigned char>(k == 0 ? x : k == 1 ? 11 * x : 95 + x);
  }
  TempFile file("layout.ppm");
  ASSERT_EQ(image.WritePPM(file.c_str(), 1), 18);
  EXPECT_EQ(file.read(),
            "P3\n6 1\n255\n"
            "0   0   95   1   11  96   2   22  97   3   33  98   \n"
            "4   44  99   5   55  100  \n\n");
}

TEST(R2ImageFiles, PpmMagicMaxValueScalingRowOrderAndComments) {
  TempFile file("scaled.ppm");
  R2Image image;
  file.write(Bytes().str("P6\n1 2\n100\n").u8(50).u8(100).u8(0).u8(1).u8(2).u8(3));
  ReadBack(file, image);
  EXPECT_EQ(At(image, 0, 1, 0), 127);  // 50 * 255 / 100, first file row on top
  EXPECT_EQ(At(image, 0, 1, 1), 255);
  EXPECT_EQ(At(image, 0, 0, 2), 7);    // 3 * 255 / 100 = 7.65
  // Only a magic line of exactly "P6" is binary; any other one is read as text.
  for (const char* text : {"P3\n# a\n2 # b\n# c\n1\n255 # d\n0 0 0 # e\n4\n5 6\n# end", "P6 \n2 1\n255\n0 0 0 4 5 6\n",
                           "P5\n2 1\n255\n0 0 0 4 5 6\n"}) {
    file.write(text);
    ReadBack(file, image);
    EXPECT_EQ(image.PixelRGB(1, 0), RNRgb(4 / 255.0, 5 / 255.0, 6 / 255.0)) << text;
  }
}

TEST(R2ImageFiles, RawStoresPlanesOfFloatsAndClampsHostileSamples) {
  TempFile file("planes.raw");
  const unsigned char data[4] = {0, 51, 255, 0};  // 1 x 1, 4 components
  ASSERT_EQ(R2Image(1, 1, 4, data).WriteRAW(file.c_str()), 16);
  EXPECT_EQ(file.read(), Bytes().i32(54321).i32(1).i32(1).i32(4).f32(0).f32(0.2f).f32(1).f32(0).data());
  const float inf = std::numeric_limits<float>::infinity();
  file.write(Bytes().i32(54321).i32(6).i32(1).i32(1).f32(NAN).f32(inf).f32(-inf).f32(1e38f).f32(-1e38f).f32(0.5f));
  R2Image image;
  ReadBack(file, image, 24);
  const int expected[6] = {0, 255, 0, 255, 0, 127};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(At(image, x, 0, 0), expected[x]) << "x = " << x;
}

TEST(R2ImageFiles, PfmAndGridNormaliseSamplesToGrey) {
  const double samples[4] = {0, 1, 2, -321};  // the mean divides by every cell, no-data included
  const auto range = r2image_detail::ComputeGreyRange(samples, 4), none = r2image_detail::ComputeGreyRange(samples, 0);
  EXPECT_DOUBLE_EQ(range.mean, 0.75);
  EXPECT_DOUBLE_EQ(range.spread, std::sqrt(0.75 * 0.75 + 0.25 * 0.25 + 1.25 * 1.25));
  EXPECT_TRUE(range.lo == 0.0 && range.scale == 0.5);  // lo = max(min 0, 0.75 - 3 spread), hi = max 2
  EXPECT_TRUE(none.lo == 0.0 && none.scale == 1.0);
  // Pixel bytes, rows bottom-up (the first file row is the bottom row), 3 components.
  struct Case { const char* ext; std::string file; int result; std::vector<int> bytes; };
  const Case cases[] = {  // equal samples: range 0 resets lo to 0 and scale to 1
      {".pfm", Bytes().str("Pf\n2 2\n-1.0\n").f32(0.5f).f32(0.5f).f32(0.5f).f32(0.5f), 1, {127, 127, 127, 127, 127, 127, 0, 0, 127, 127, 127, 127, 127, 127, 0, 0}},
      {".pfm", Bytes().str("Pf\n2   2 -1.0\n").f32(0).f32(1).f32(-321).f32(2), 1, {0, 0, 0, 127, 127, 127, 0, 0, 64, 32, 0, 255, 255, 255, 0, 0}},
      {".grd", Bytes().i32(2).i32(2).zeros(72).f64(0).f64(1).f64(2).f64(-321), 16, {0, 0, 0, 127, 127, 127, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0}},
      {".grd", Bytes().i32(3).i32(1).zeros(72).f64(0.2).f64(0.2).f64(0.2), 12, {51, 51, 51, 51, 51, 51, 51, 51, 51, 0, 0, 0}},
      {".pfm", Bytes().str("Pf\n3 1\n1\n").f32(NAN).f32(1e38f).f32(-INFINITY), 1, {}},  // defined under UBSan: clamped
  };
  for (const Case& c : cases) {
    TempFile file(std::string("samples") + c.ext);
    file.write(c.file);
    R2Image image;
    ReadBack(file, image, c.result);
    EXPECT_EQ(image.NComponents(), 3);
    const std::vector<int> bytes(image.Pixels(), image.Pixels() + image.RowSize() * image.Height());
    EXPECT_TRUE(c.bytes.empty() || bytes == c.bytes) << c.file.substr(0, 16);
  }
}

TEST(R2ImageFiles, JpegReadsUprightAndDecodesWhatItEncodes) {
  // Seed file made with the library directly: grey, progressive, 5 x 3, scanline
  // s (from the top) holds 40 x + 10 s; it fixes the row order of reading.
  R2Image image, back;
  ASSERT_EQ(image.Read(WARPIX_SOURCE_DIR "/tests/fuzz/corpus/seed_grey_progressive.jpg"), 1);
  ASSERT_TRUE(image.NComponents() == 1 && image.RowSize() == 8);
  for (int i = 0; i < 24; ++i) {
    const int x = i % 8, y = i / 8;
    EXPECT_NEAR(At(image, x, y, 0), x < 5 ? 40 * x + 10 * (2 - y) : 0, x < 5 ? 6 : 0) << x << "," << y;  // padding 0
  }
  // Written and read back: upright (a captured window's top row is the first
  // scanline), within the losses of quality 75.
  image = R2Image(40, 30, 3);
  for (int i = 0; i < 40 * 30; ++i) image.SetPixelRGB(i % 40, i / 40, RNRgb(i % 40 / 40.0, i / 40 / 30.0, 0.5));
  TempFile file("frame.jpg"), greyFile("grey.jpeg");
  ASSERT_EQ(image.Write(file.c_str()), 1);
  ReadBack(file, back);
  ASSERT_TRUE(back.Width() == 40 && back.Height() == 30 && back.NComponents() == 3);
  double error = 0;
  for (int i = 0; i < 30 * back.RowSize(); ++i) error += std::abs(back.Pixels()[i] - image.Pixels()[i]);
  EXPECT_LT(error / (30 * 40 * 3), 3.0);  // about 2 levels; upside down about 40
  // A grey image is written as RGB and reads back grey in every channel.
  ASSERT_EQ(RandomImage(5, 4, 1).Write(greyFile.c_str()), 1);
  ReadBack(greyFile, back);
  EXPECT_EQ(back.NComponents(), 3);
  EXPECT_NEAR(At(back, 2, 2, 0), At(back, 2, 2, 2), 3);
}
