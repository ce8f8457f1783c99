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
  EXPECT_EQ(empty.Width() + empty.Height() + empty.NComponents() + empty.RowSize(), 0);
  EXPECT_EQ(empty.Pixels(), nullptr);
  const unsigned char data[8] = {1, 2, 3, 0, 4, 5, 6, 0};  // 1 x 2, 3 components
  const R2Image a(1, 2, 3, data);
  R2Image b(a), c;
  b.Pixels()[0] = 99;
  c = a;
  EXPECT_EQ(a.Pixels()[0], 1);
  EXPECT_EQ(At(b, 0, 1, 2), 6);
  EXPECT_EQ(memcmp(c.Pixels(), data, 8), 0);
  EXPECT_NE(StderrOf([] { EXPECT_FALSE(R2Image(-1, 4, 3).IsValid()); }).find("Invalid image size -1 x 4 x 3"), std::string::npos);
  EXPECT_NE(StderrOf([] { EXPECT_FALSE(R2Image(1 << 20, 1 << 20, 3).IsValid()); }).find("larger than the limit"), std::string::npos);
}

TEST(R2Image, SetPixelRGBAndPixelRGBFollowTheComponentCount) {
  struct Case { int nc; RNRgb in; std::vector<int> bytes; };
  const Case cases[] = {
      {3, RNRgb(1.0, 0.5, 0.2), {255, 127, 51}},        // 255 x component, truncated
      {4, RNRgb(0.0, 1.0, 0.5), {0, 255, 127, 255}},    // alpha 255
      {1, RNred_rgb, {76}},                             // 255 x 0.3 = 76.5
      {1, RNwhite_rgb, {254}},                          // 0.3 + 0.59 + 0.11 is just below 1
      {1, RNRgb(0.183, 0.84, 0.45), {152}},             // weights summed before scaling by 255
      {2, RNRgb(0.0, 1.0, 0.0), {150, 255}},            // 255 x 0.59, alpha 255
      {3, RNRgb(2.0, -1.0, NAN), {255, 0, 0}},          // out of range: clamped, not wrapped
      {5, RNwhite_rgb, {0, 0, 0, 0, 0}},                // unknown count: nothing set
  };
  for (const Case& c : cases) {
    R2Image image(2, 2, c.nc);
    image.SetPixelRGB(1, 1, c.in);
    image.SetPixelRGB(2, 0, RNwhite_rgb);  // outside: ignored
    for (int k = 0; k < c.nc; ++k) EXPECT_EQ(At(image, 1, 1, k), c.bytes[k]) << c.nc << " components, byte " << k;
    const double g = c.bytes[0] / 255.0;
    const RNRgb expected = c.nc > 4 ? RNnull_rgb : c.nc >= 3 ? RNRgb(g, c.bytes[1] / 255.0, c.bytes[2] / 255.0) : RNRgb(g, g, g);
    EXPECT_EQ(image.PixelRGB(1, 1), expected) << c.nc << " components";
    EXPECT_EQ(image.PixelRGB(1, 0), RNnull_rgb);
  }
}

TEST(R2Image, AddSaturatesAndSubtractCentresOn128) {
  const unsigned char a[4] = {200, 10, 0, 255}, b[4] = {100, 20, 255, 0};
  R2Image sum(1, 1, 4, a), diff(1, 1, 4, a);
  sum.Add(R2Image(1, 1, 4, b));
  diff.Subtract(R2Image(1, 1, 4, b));
  const unsigned char sums[4] = {255, 30, 255, 255}, diffs[4] = {228, 118, 0, 255};
  EXPECT_EQ(memcmp(sum.Pixels(), sums, 4), 0);
  EXPECT_EQ(memcmp(diff.Pixels(), diffs, 4), 0);
  EXPECT_NE(StderrOf([&] { sum.Add(R2Image(2, 1, 4)); }).find("different sizes"), std::string::npos);
  EXPECT_EQ(memcmp(sum.Pixels(), sums, 4), 0);
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
    if (c.ends.empty()) {
      EXPECT_EQ(err, c.starts) << c.name;
    } else {
      EXPECT_EQ(err.rfind(c.starts, 0), 0u) << err;
      EXPECT_EQ(err.substr(err.find('\n')), c.ends) << err;
    }
  }
  // ".bmpx" starts with ".bmp" and ".jpegx" with ".jpeg".
  for (const char* name : {"prefix.bmpx", "prefix.jpegx"}) {
    TempFile file(name);
    R2Image other;
    EXPECT_EQ(image.Write(file.c_str()), 1) << name;
    EXPECT_EQ(other.Read(file.c_str()), 1) << name;
  }
}

TEST(R2Image, DrawAndCaptureRefuseUnknownComponentCounts) {
  R2Image empty;
  empty.Capture();  // no buffer, no format: nothing happens
  EXPECT_EQ(empty.Pixels(), nullptr);
  // Without a current context the GL calls are ignored; the message is not.
  EXPECT_EQ(StderrOf([&] { empty.Draw(0, 0); }), "Unrecognized number of components in image: 0\n");
}
