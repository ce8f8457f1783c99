// Round trips and the exact layouts of every file format.
#include <cmath>

#include "ImageTestFiles.h"

using namespace image_test;

TEST(R2ImageFiles, EveryWritableFormatRoundTripsWidthsOneToFive) {
  const std::string names[4] = {"rt.bmp", "rt.ppm", "rt.P6.ppm", "rt.raw"}, magics[4] = {"BM", "P3", "P6", "1\xd4"};
  for (int i = 0; i < 80; ++i) {  // format, then components 1 to 4, then width 1 to 5
    const bool raw = i >= 60;
    const int nc = i / 5 % 4 + 1, w = i % 5 + 1, count = i < 20 ? 1 : w * 3 * nc * (raw ? 4 : 1);
    SCOPED_TRACE(names[i / 20] + ", width " + std::to_string(w) + ", components " + std::to_string(nc));
    const R2Image image = RandomImage(w, 3, nc, 10 * w + nc);
    TempFile file(names[i / 20]);
    R2Image back;
    ASSERT_EQ(i / 20 == 2 ? image.WritePPM(file.c_str(), 0) : image.Write(file.c_str()), count);
    ASSERT_EQ(back.Read(file.c_str()), raw ? count : 1);
    EXPECT_EQ(file.read().substr(0, 2), magics[i / 20]);
    EXPECT_TRUE(SameColours(back, image) && back.NComponents() == (raw ? nc : 3) && (!raw || memcmp(back.Pixels(), image.Pixels(), 3 * image.RowSize()) == 0));
  }
}

TEST(R2ImageFiles, BmpLayoutAndRowOrder) {
  R2Image image(5, 2, 3);
  image.SetPixelRGB(0, 0, RNred_rgb);
  TempFile file("layout.bmp");
  ASSERT_EQ(image.WriteBMP(file.c_str()), 1);
  // Blue, green, red with stride 3; rows padded with 0 to 16 bytes.
  EXPECT_EQ(file.read(), BmpHeader(5, 2, 32).data() + std::string("\0\0\xff", 3) + std::string(29, '\0'));
  // Bottom-up rows stay as they are, top-down (negative height) rows are turned
  // over; an image-size field of 0 is accepted; padding byte 9 is not kept.
  for (const int32_t height : {2, -2}) {
    ASSERT_EQ(ReadBytes(".bmp", BmpHeader(1, height, height > 0 ? 8 : 0).u8(1).u8(2).u8(3).u8(9).u8(4).u8(5).u8(6).u8(9), &image).first, 1);
    EXPECT_EQ(AllBytes(image), (height > 0 ? std::vector<int>{3, 2, 1, 0, 6, 5, 4, 0} : std::vector<int>{6, 5, 4, 0, 3, 2, 1, 0})) << height;
  }
}

TEST(R2ImageFiles, PpmTextLayoutMagicMaxValueScalingRowOrderAndComments) {
  R2Image image(6, 1, 3);
  for (int i = 0; i < 18; ++i) image.Pixels()[i] = static_cast<unsigned char>(i % 3 == 0 ? i / 3 : i % 3 == 1 ? 11 * (i / 3) : 95 + i / 3);
  TempFile file("layout.ppm");
  ASSERT_EQ(image.WritePPM(file.c_str(), 1), 18);
  EXPECT_EQ(file.read(), "P3\n6 1\n255\n"
                         "0   0   95   1   11  96   2   22  97   3   33  98   \n"
                         "4   44  99   5   55  100  \n\n");
  const std::pair<std::string, std::vector<int>> reads[] = {  // file, pixel bytes
      {Bytes().str("P6\n1 2\n100\n").u8(50).u8(100).u8(0).u8(1).u8(2).u8(3), {2, 5, 7, 0, 127, 255, 0, 0}},  // x 255 / 100, truncated; first file row on top
      // Only a magic line of exactly "P6" is binary; any other one is read as text.
      {"P3\n# a\n2 # b\n# c\n1\n255 # d\n0 0 0 # e\n4\n5 6\n# end", {0, 0, 0, 4, 5, 6, 0, 0}},
      {"P6 \n2 1\n255\n0 0 0 4 5 6\n", {0, 0, 0, 4, 5, 6, 0, 0}}, {"P5\n2 1\n255\n0 0 0 4 5 6\n", {0, 0, 0, 4, 5, 6, 0, 0}},
  };
  for (const auto& [text, bytes] : reads) {
    ASSERT_EQ(ReadBytes(".ppm", text, &image).first, 1) << text;
    EXPECT_EQ(AllBytes(image), bytes) << text;
  }
}

TEST(R2ImageFiles, RawStoresPlanesOfFloatsAndClampsHostileSamples) {
  TempFile file("planes.raw");
  const unsigned char data[4] = {0, 51, 255, 0};  // 1 x 1, 4 components
  ASSERT_EQ(R2Image(1, 1, 4, data).WriteRAW(file.c_str()), 16);
  EXPECT_EQ(file.read(), Bytes().i32(54321).i32(1).i32(1).i32(4).f32(0).f32(0.2f).f32(1).f32(0).data());
  R2Image image;
  ASSERT_EQ(ReadBytes(".raw", Bytes().i32(54321).i32(6).i32(1).i32(1).f32(NAN).f32(INFINITY).f32(-INFINITY).f32(1e38f).f32(-1e38f).f32(0.5f), &image).first, 24);
  EXPECT_EQ(AllBytes(image), std::vector<int>({0, 255, 0, 255, 0, 127, 0, 0}));
}

TEST(R2ImageFiles, PfmAndGridNormaliseSamplesToGrey) {
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
    R2Image image;
    ASSERT_EQ(ReadBytes(c.ext, c.file, &image).first, c.result) << c.file.substr(0, 16);
    EXPECT_EQ(std::pair(image.NComponents(), c.bytes.empty() ? c.bytes : AllBytes(image)), std::pair(3, c.bytes)) << c.file.substr(0, 16);
  }
}

TEST(R2ImageFiles, JpegReadsUprightAndDecodesWhatItEncodes) {
  // Seed file made with the library directly: grey, progressive, 5 x 3, scanline
  // s (from the top) holds 40 x + 10 s; it fixes the row order of reading.
  R2Image image, back;
  ASSERT_TRUE(image.Read(WARPIX_SOURCE_DIR "/tests/fuzz/corpus/seed_grey_progressive.jpg") == 1 && image.NComponents() == 1 && image.RowSize() == 8);
  for (int i = 0; i < 24; ++i) {  // x = i % 8, y = i / 8; padding 0
    EXPECT_NEAR(At(image, i % 8, i / 8, 0), i % 8 < 5 ? 40 * (i % 8) + 10 * (2 - i / 8) : 0, i % 8 < 5 ? 6 : 0) << "x, y = " << i % 8 << ", " << i / 8;
  }
  // Written and read back: upright (a captured window's top row is the first
  // scanline), within the losses of quality 75.
  image = R2Image(40, 30, 3);
  for (int i = 0; i < 40 * 30; ++i) image.SetPixelRGB(i % 40, i / 40, RNRgb(i % 40 / 40.0, i / 40 / 30.0, 0.5));
  TempFile file("frame.jpg"), greyFile("grey.jpeg");
  ASSERT_TRUE(image.Write(file.c_str()) == 1 && back.Read(file.c_str()) == 1 && back.Width() == 40 && back.Height() == 30 && back.NComponents() == 3);
  double error = 0;
  for (int i = 0; i < 30 * back.RowSize(); ++i) error += std::abs(back.Pixels()[i] - image.Pixels()[i]);
  EXPECT_LT(error / (30 * 40 * 3), 3.0);  // about 2 levels; upside down about 40
  // A grey image is written as RGB and reads back grey in every channel.
  ASSERT_TRUE(RandomImage(5, 4, 1).Write(greyFile.c_str()) == 1 && back.Read(greyFile.c_str()) == 1);
  EXPECT_TRUE(back.NComponents() == 3 && std::abs(At(back, 2, 2, 0) - At(back, 2, 2, 2)) <= 3);
}
