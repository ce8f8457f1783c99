// Round trips and the exact layouts of every file format.
#include <cmath>
#include <cstdio>
#include <limits>

#include <jpeglib.h>

#include "ImageTestFiles.h"
#include "TestCommon.h"
#include "image/R2Image.h"
#include "image/R2ImageGrey.h"

using image_test::At;
using image_test::Bytes;
using image_test::RandomImage;
using image_test::StderrOf;
using warpix_test::TempFile;

namespace {

/// The 3-component picture a BMP, PPM or JPEG file of `image` holds: grey
/// repeated into red, green and blue, alpha dropped.
R2Image AsRgb(const R2Image& image) {
  R2Image rgb(image.Width(), image.Height(), 3);
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      for (int k = 0; k < 3; ++k) {
        rgb.Pixels()[y * rgb.RowSize() + 3 * x + k] =
            static_cast<unsigned char>(At(image, x, y, image.NComponents() >= 3 ? k : 0));
      }
    }
  }
  return rgb;
}

bool SameBytes(const R2Image& a, const R2Image& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && a.NComponents() == b.NComponents() &&
         a.RowSize() == b.RowSize() && memcmp(a.Pixels(), b.Pixels(), a.RowSize() * a.Height()) == 0;
}

/// Decodes JPEG bytes with libjpeg directly: the scanlines in file order.
std::vector<std::vector<unsigned char>> DecodeScanlines(const std::string& jpeg) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  std::vector<std::vector<unsigned char>> lines;
  while (cinfo.output_scanline < cinfo.output_height) {
    lines.emplace_back(cinfo.output_width * cinfo.output_components);
    JSAMPROW row = lines.back().data();
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return lines;
}

}  // namespace

TEST(R2ImageFiles, EveryWritableFormatRoundTripsWidthsOneToFive) {
  TempFile bmp("rt.bmp"), p6("rt6.ppm"), p3("rt3.ppm"), raw("rt.raw");
  for (int nc : {1, 2, 3, 4}) {
    for (int w = 1; w <= 5; ++w) {
      SCOPED_TRACE("width " + std::to_string(w) + ", components " + std::to_string(nc));
      const R2Image image = RandomImage(w, 3, nc, 10 * w + nc);
      R2Image back;
      ASSERT_EQ(image.WriteBMP(bmp.c_str()), 1);
      ASSERT_EQ(back.Read(bmp.c_str()), 1);
      EXPECT_TRUE(SameBytes(back, AsRgb(image)));  // padding comes back as zeros
      ASSERT_EQ(image.WritePPM(p6.c_str(), 0), w * 3 * nc);
      ASSERT_EQ(back.Read(p6.c_str()), 1);
      EXPECT_TRUE(SameBytes(back, AsRgb(image)));
      ASSERT_EQ(image.Write(p3.c_str()), w * 3 * nc);
      EXPECT_EQ(p3.read().substr(0, 3), "P3\n");
      ASSERT_EQ(back.Read(p3.c_str()), 1);
      EXPECT_TRUE(SameBytes(back, AsRgb(image)));
      ASSERT_EQ(image.Write(raw.c_str()), w * 3 * nc * 4);
      ASSERT_EQ(back.Read(raw.c_str()), w * 3 * nc * 4);
      EXPECT_TRUE(SameBytes(back, image));
    }
  }
}

TEST(R2ImageFiles, BmpHeaderAndPixelLayout) {
  R2Image image(5, 2, 3);
  image.SetPixelRGB(0, 0, RNRgb(1.0, 0.0, 0.0));
  TempFile file("layout.bmp");
  ASSERT_EQ(image.WriteBMP(file.c_str()), 1);
  const std::string bytes = file.read();
  ASSERT_EQ(bytes.size(), 54u + 16 * 2);
  EXPECT_EQ(bytes.substr(0, 54), image_test::BmpHeader(5, 2, 32).data());
  EXPECT_EQ(bytes.substr(54, 4), std::string("\0\0\xff\0", 4));  // blue, green, red; stride 3
  EXPECT_EQ(bytes[54 + 15], '\0');                                 // row padding
}

TEST(R2ImageFiles, BmpTopDownRowsAreTurnedOverAndZeroImageSizeIsAccepted) {
  TempFile file("topdown.bmp");
  const std::string rows = Bytes().u8(1).u8(2).u8(3).u8(9).u8(4).u8(5).u8(6).u8(9);
  R2Image image;
  file.write(image_test::BmpHeader(1, -2, 0).data() + rows);
  ASSERT_EQ(image.Read(file.c_str()), 1);
  EXPECT_EQ(image.PixelRGB(0, 1), RNRgb(3 / 255.0, 2 / 255.0, 1 / 255.0));  // first file row is the top
  EXPECT_EQ(image.PixelRGB(0, 0), RNRgb(6 / 255.0, 5 / 255.0, 4 / 255.0));
  EXPECT_EQ(At(image, 0, 0, 3), 0);  // padding byte 9 is not kept
  file.write(image_test::BmpHeader(1, 2, 8).data() + rows);
  ASSERT_EQ(image.Read(file.c_str()), 1);
  EXPECT_EQ(image.PixelRGB(0, 0), RNRgb(3 / 255.0, 2 / 255.0, 1 / 255.0));
}

TEST(R2ImageFiles, TextPpmLayout) {
  R2Image image(6, 1, 3);
  for (int x = 0; x < 6; ++x) {
    image.Pixels()[3 * x] = static_cast<unsigned char>(x);
    image.Pixels()[3 * x + 1] = static_cast<unsigned char>(11 * x);
    image.Pixels()[3 * x + 2] = static_cast<unsigned char>(95 + x);
  }
  TempFile file("layout.ppm");
  ASSERT_EQ(image.WritePPM(file.c_str(), 1), 18);
  EXPECT_EQ(file.read(),
            "P3\n6 1\n255\n"
            "0   0   95   1   11  96   2   22  97   3   33  98   \n"
            "4   44  99   5   55  100  \n\n");
}

TEST(R2ImageFiles, PpmMaxValueScalingRowOrderAndComments) {
  TempFile file("scaled.ppm");
  R2Image image;
  file.write(Bytes().str("P6\n1 2\n100\n").u8(50).u8(100).u8(0).u8(1).u8(2).u8(3));
  ASSERT_EQ(image.Read(file.c_str()), 1);
  EXPECT_EQ(At(image, 0, 1, 0), 127);  // 50 * 255 / 100, first file row on top
  EXPECT_EQ(At(image, 0, 1, 1), 255);
  EXPECT_EQ(At(image, 0, 0, 2), 7);    // 3 * 255 / 100 = 7.65
  file.write("P3\n# a\n2 # b\n# c\n1\n255 # d\n1 2 3 # e\n4\n5 6\n# end");
  ASSERT_EQ(image.Read(file.c_str()), 1);
  EXPECT_EQ(image.PixelRGB(1, 0), RNRgb(4 / 255.0, 5 / 255.0, 6 / 255.0));
}

TEST(R2ImageFiles, RawStoresPlanesOfFloatsAndClampsHostileSamples) {
  TempFile file("planes.raw");
  const unsigned char data[4] = {0, 51, 255, 0};  // 1 x 1, 4 components
  ASSERT_EQ(R2Image(1, 1, 4, data).WriteRAW(file.c_str()), 16);
  EXPECT_EQ(file.read(), Bytes().i32(54321).i32(1).i32(1).i32(4).f32(0).f32(0.2f).f32(1).f32(0).data());
  const float inf = std::numeric_limits<float>::infinity();
  file.write(Bytes().i32(54321).i32(6).i32(1).i32(1).f32(NAN).f32(inf).f32(-inf).f32(1e38f).f32(-1e38f).f32(0.5f));
  R2Image image;
  ASSERT_EQ(image.Read(file.c_str()), 24);
  const int expected[6] = {0, 255, 0, 255, 0, 127};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(At(image, x, 0, 0), expected[x]) << "x = " << x;
}

TEST(R2ImageFiles, PfmNormalisesToGreyWithNoDataCellsInBrown) {
  TempFile file("grey.pfm");
  R2Image image;
  file.write(Bytes().str("Pf\n2 2\n-1.0\n").f32(0.5f).f32(0.5f).f32(0.5f).f32(0.5f));
  ASSERT_EQ(image.Read(file.c_str()), 1);
  EXPECT_EQ(image.NComponents(), 3);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(At(image, i % 2, i / 2, i % 3), 127);  // range 0: lo 0, scale 1
  file.write(Bytes().str("Pf\n2   2 -1.0\n").f32(0).f32(1).f32(-321).f32(2));
  ASSERT_EQ(image.Read(file.c_str()), 1);
  EXPECT_EQ(At(image, 0, 0, 0), 0);
  EXPECT_EQ(At(image, 1, 0, 1), 127);  // first file row is the bottom row
  EXPECT_EQ(image.PixelRGB(0, 1), RNRgb(64 / 255.0, 32 / 255.0, 0));
  EXPECT_EQ(At(image, 1, 1, 2), 255);
  file.write(Bytes().str("Pf\n3 1\n1\n").f32(NAN).f32(1e38f).f32(-INFINITY));
  EXPECT_EQ(image.Read(file.c_str()), 1);  // well defined under UBSan: every byte clamped
}

TEST(R2ImageFiles, GridMeanCountsNoDataCellsAndEqualSamplesResetTheRange) {
  const double samples[4] = {0, 1, 2, -321};
  const auto range = r2image_detail::ComputeGreyRange(samples, 4);
  EXPECT_DOUBLE_EQ(range.mean, 0.75);
  EXPECT_DOUBLE_EQ(range.spread, std::sqrt(0.75 * 0.75 + 0.25 * 0.25 + 1.25 * 1.25));
  EXPECT_EQ(range.lo, 0.0);  // max(min 0, 0.75 - 3 spread)
  EXPECT_EQ(range.scale, 0.5);
  TempFile file("values.grd");
  Bytes grid;
  grid.i32(2).i32(2).zeros(72);
  for (double s : samples) grid.f64(s);
  file.write(grid);
  R2Image image;
  ASSERT_EQ(image.Read(file.c_str()), 16);  // rowsize 8 x height 2
  EXPECT_EQ(At(image, 1, 0, 0), 127);
  EXPECT_EQ(At(image, 0, 1, 1), 255);
  EXPECT_EQ(At(image, 1, 1, 2), 0);  // no-data cell converted like the others
  file.write(Bytes().i32(3).i32(1).zeros(72).f64(0.2).f64(0.2).f64(0.2));
  ASSERT_EQ(image.Read(file.c_str()), 12);
  EXPECT_EQ(At(image, 2, 0, 0), 51);  // 0.2 x 255 with lo 0, scale 1
  const auto none = r2image_detail::ComputeGreyRange(samples, 0);
  EXPECT_EQ(none.lo, 0.0);
  EXPECT_EQ(none.scale, 1.0);
}

TEST(R2ImageFiles, JpegDecodesWhatItEncodesUpright) {
  R2Image image(40, 30, 3);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) image.SetPixelRGB(x, y, RNRgb(x / 40.0, y / 30.0, 0.5));
  }
  TempFile file("frame.jpg");
  ASSERT_EQ(image.Write(file.c_str()), 1);
  // The top row is the first scanline of the file.
  const auto lines = DecodeScanlines(file.read());
  ASSERT_EQ(lines.size(), 30u);
  EXPECT_GT(lines.front()[1], 235);  // green 29/30
  EXPECT_LT(lines.back()[1], 10);    // green 0
  R2Image back;
  ASSERT_EQ(back.Read(file.c_str()), 1);
  ASSERT_EQ(back.Width(), 40);
  ASSERT_EQ(back.Height(), 30);
  ASSERT_EQ(back.NComponents(), 3);
  double error = 0;
  for (int i = 0; i < 30 * back.RowSize(); ++i) error += std::abs(back.Pixels()[i] - image.Pixels()[i]);
  EXPECT_LT(error / (30 * 40 * 3), 3.0);  // quality 75: about 2 levels
  // A grey image is written as RGB and reads back grey in every channel.
  const R2Image grey = RandomImage(5, 4, 1);
  TempFile greyFile("grey.jpeg");
  ASSERT_EQ(grey.Write(greyFile.c_str()), 1);
  ASSERT_EQ(back.Read(greyFile.c_str()), 1);
  EXPECT_EQ(back.NComponents(), 3);
  EXPECT_NEAR(At(back, 2, 2, 0), At(back, 2, 2, 2), 3);
}

TEST(R2ImageFiles, GreyProgressiveJpegReadsOneComponentWithZeroPadding) {
  // Seed file made with the library directly: 5 x 3, scanline s holds 40 x + 10 s.
  R2Image image;
  ASSERT_EQ(image.Read(WARPIX_SOURCE_DIR "/tests/fuzz/corpus/seed_grey_progressive.jpg"), 1);
  ASSERT_EQ(image.NComponents(), 1);
  ASSERT_EQ(image.RowSize(), 8);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_NEAR(At(image, x, y, 0), 40 * x + 10 * (2 - y), 6) << x << "," << y;
    for (int k = 5; k < 8; ++k) EXPECT_EQ(image.Pixels()[y * 8 + k], 0);
  }
}
