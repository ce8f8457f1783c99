#include "image/R2Image.h"

#include "ImageTestFiles.h"
#include "TestCommon.h"

using image_test::At;
using image_test::RandomImage;
using image_test::StderrOf;
using warpix_test::TempFile;

TEST(R2Image, RowsArePaddedToFourBytesAndCopiesAreDeep) {
  for (const auto& [w, nc, rowsize] : {std::tuple{5, 3, 16}, {4, 3, 12}, {3, 1, 4}, {1, 2, 4}, {0, 3, 0}}) {
    EXPECT_EQ(R2Image(w, 2, nc).RowSize(), rowsize) << w << " x " << nc;
  }
  const R2Image empty;
  EXPECT_TRUE(empty.Width() + empty.Height() + empty.NComponents() + empty.RowSize() == 0 && !empty.Pixels());
  const unsigned char data[8] = {1, 2, 3, 0, 4, 5, 6, 0};  // 1 x 2, 3 components
  const R2Image a(1, 2, 3, data);
  R2Image b(a), c;
  b.Pixels()[0] = 99;
  c = a;
  EXPECT_TRUE(a.Pixels()[0] == 1 && At(b, 0, 1, 2) == 6 && memcmp(c.Pixels(), data, 8) == 0);
  EXPECT_NE(StderrOf([] { EXPECT_FALSE(R2Image(-1, 4, 3).IsValid()); }).find("Invalid image size -1 x 4 x 3"), std::string::npos);
  EXPECT_NE(StderrOf([] { EXPECT_FALSE(R2Image(1 << 20, 1 << 20, 3).IsValid()); }).find("larger than the limit"), std::string::npos);
}

TEST(R2Image, SetPixelRGBAndPixelRGBFollowTheComponentCount) {
  struct Case { int nc; RNRgb in; std::vector<int> bytes; RNRgb out; };
  const double g76 = 76 / 255.0, g254 = 254 / 255.0;
  const Case cases[] = {
      {3, RNRgb(1.0, 0.5, 0.2), {255, 127, 51}, RNRgb(1.0, 127 / 255.0, 0.2)},  // 255 x component, truncated
      {4, RNRgb(0.0, 1.0, 0.5), {0, 255, 127, 255}, RNRgb(0.0, 1.0, 127 / 255.0)},  // alpha 255
      {1, RNred_rgb, {76}, RNRgb(g76, g76, g76)},                                  // 255 x 0.3 = 76.5
      {1, RNwhite_rgb, {254}, RNRgb(g254, g254, g254)},                            // 0.3 + 0.59 + 0.11 is below 1
      {1, RNRgb(0.183, 0.84, 0.45), {152}, RNRgb(152 / 255.0, 152 / 255.0, 152 / 255.0)},  // sum, then x 255
      {2, RNRgb(2.0, -1.0, NAN), {0, 255}, RNnull_rgb},                            // clamped, not wrapped
      {3, RNRgb(2.0, -1.0, NAN), {255, 0, 0}, RNred_rgb},
      {5, RNwhite_rgb, {0, 0, 0, 0, 0}, RNnull_rgb},                               // unknown count: nothing
  };
  for (const Case& c : cases) {
    R2Image image(2, 2, c.nc);
    image.SetPixelRGB(1, 1, c.in);
    image.SetPixelRGB(2, 0, RNwhite_rgb);  // outside: ignored
    for (int k = 0; k < c.nc; ++k) EXPECT_EQ(At(image, 1, 1, k), c.bytes[k]) << c.nc << " components, byte " << k;
    EXPECT_EQ(image.PixelRGB(1, 1), c.out) << c.nc << " components";
    EXPECT_EQ(image.PixelRGB(1, 0), RNnull_rgb);
  }
}

TEST(R2Image, AddSaturatesAndSubtractCentresOn128) {
  const unsigned char a[4] = {200, 10, 0, 255}, b[4] = {100, 20, 255, 0};
  const unsigned char sums[4] = {255, 30, 255, 255}, diffs[4] = {228, 118, 0, 255};
  R2Image sum(1, 1, 4, a), diff(1, 1, 4, a);
  sum.Add(R2Image(1, 1, 4, b));
  diff.Subtract(R2Image(1, 1, 4, b));
  EXPECT_NE(StderrOf([&] { sum.Add(R2Image(2, 1, 4)); }).find("different sizes"), std::string::npos);
  EXPECT_TRUE(memcmp(sum.Pixels(), sums, 4) == 0 && memcmp(diff.Pixels(), diffs, 4) == 0);
}

TEST(R2Image, ExtensionIsTheTextFromTheLastDotMatchedByPrefix) {
  const R2Image image = RandomImage(2, 2, 3);
  const std::string unknown = "Unrecognized image file extension", none = "Input file has no extension (e.g., .jpg).\n";
  struct Case { bool write; const char* name; std::string starts, ends; };  // ends empty: exact text
  const Case cases[] = {
      {true, "photo.JPG", unknown, ""}, {false, "photo.JPG", unknown, ""},  // case-sensitive
      {false, "dir.old/photo", unknown, ""},                                // last dot of the path
      {true, "a.pfm", unknown, ""}, {true, "a.grd", unknown, ""},           // read-only formats
      {true, "photo", none, ""}, {false, "photo", none, ""},
      {true, "a.tiff", "KELP ERROR: ", "\nTIFF not supported\n"}, {false, "a.tif", "KELP ERROR: ", "\nTIFF not supported\n"},
  };
  for (const Case& c : cases) {
    R2Image other;
    int result = -1;
    const std::string err = StderrOf([&] { result = c.write ? image.Write(c.name) : other.Read(c.name); });
    EXPECT_EQ(result, 0) << c.name;
    EXPECT_EQ(c.ends.empty() ? err : err.substr(0, c.starts.size()) + err.substr(err.find('\n')), c.starts + c.ends) << c.name;
  }
  // ".bmpx" starts with ".bmp" and ".jpegx" with ".jpeg".
  for (const char* name : {"prefix.bmpx", "prefix.jpegx"}) {
    TempFile file(name);
    R2Image other;
    EXPECT_TRUE(image.Write(file.c_str()) == 1 && other.Read(file.c_str()) == 1) << name;
  }
}

TEST(R2Image, DrawAndCaptureRefuseUnknownComponentCounts) {
  // Without a current context the GL calls are ignored; the message is not.
  R2Image empty;
  empty.Capture();  // no buffer, no format: nothing happens
  EXPECT_EQ(StderrOf([&] { empty.Draw(0, 0); }), "Unrecognized number of components in image: 0\n");
}
