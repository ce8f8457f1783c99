#include "image/R2Image.h"

#include "ImageTestFiles.h"
#include "TestCommon.h"

using image_test::At;
using image_test::RandomImage;
using image_test::StderrOf;
using warpix_test::TempFile;

TEST(R2Image, RowsArePaddedToFourBytes) {
  EXPECT_EQ(R2Image(5, 2, 3).RowSize(), 16);
  EXPECT_EQ(R2Image(4, 2, 3).RowSize(), 12);
  EXPECT_EQ(R2Image(3, 2, 1).RowSize(), 4);
  EXPECT_EQ(R2Image(1, 1, 2).RowSize(), 4);
  const R2Image empty;
  EXPECT_EQ(empty.Width() + empty.Height() + empty.NComponents() + empty.RowSize(), 0);
  EXPECT_EQ(empty.Pixels(), nullptr);
}

TEST(R2Image, CopiesAreDeepAndDataIsCopiedWithPadding) {
  const unsigned char data[8] = {1, 2, 3, 0, 4, 5, 6, 0};  // 1 x 2, 3 components
  R2Image a(1, 2, 3, data);
  R2Image b(a);
  b.Pixels()[0] = 99;
  EXPECT_EQ(a.Pixels()[0], 1);
  EXPECT_EQ(At(b, 0, 1, 2), 6);
  R2Image c;
  c = a;
  EXPECT_EQ(memcmp(c.Pixels(), data, 8), 0);
}

TEST(R2Image, BadSizesGiveAnEmptyImageWithAMessage) {
  std::string out = StderrOf([] { EXPECT_FALSE(R2Image(-1, 4, 3).IsValid()); });
  EXPECT_NE(out.find("Invalid image size -1 x 4 x 3"), std::string::npos);
  out = StderrOf([] { EXPECT_EQ(R2Image(1 << 20, 1 << 20, 3).Pixels(), nullptr); });
  EXPECT_NE(out.find("larger than the limit"), std::string::npos);
}

TEST(R2Image, PixelRGBAndSetPixelRGBFollowTheComponentCount) {
  R2Image rgba(2, 2, 4), grey(2, 2, 1), greyAlpha(2, 2, 2);
  rgba.SetPixelRGB(1, 1, RNRgb(1.0, 0.5, 0.0));
  EXPECT_EQ(At(rgba, 1, 1, 0), 255);
  EXPECT_EQ(At(rgba, 1, 1, 1), 127);  // 127.5 truncated
  EXPECT_EQ(At(rgba, 1, 1, 3), 255);
  EXPECT_EQ(rgba.PixelRGB(1, 1), RNRgb(1.0, 127 / 255.0, 0.0));
  // Grey = 255 (0.3 r + 0.59 g + 0.11 b): red alone gives 76.5 -> 76.
  grey.SetPixelRGB(0, 1, RNred_rgb);
  EXPECT_EQ(At(grey, 0, 1, 0), 76);
  EXPECT_EQ(grey.PixelRGB(0, 1), RNRgb(76 / 255.0, 76 / 255.0, 76 / 255.0));
  greyAlpha.SetPixelRGB(1, 0, RNwhite_rgb);
  EXPECT_EQ(At(greyAlpha, 1, 0, 0), 255);
  EXPECT_EQ(At(greyAlpha, 1, 0, 1), 255);
  // Out-of-range components are clamped instead of wrapping; outside pixels are ignored.
  rgba.SetPixelRGB(0, 0, RNRgb(2.0, -1.0, NAN));
  EXPECT_EQ(rgba.PixelRGB(0, 0), RNRgb(1.0, 0.0, 0.0));
  rgba.SetPixelRGB(2, 0, RNwhite_rgb);
  EXPECT_EQ(rgba.PixelRGB(-1, 0), RNnull_rgb);
  R2Image five(1, 1, 5);
  five.Pixels()[0] = 200;
  EXPECT_EQ(five.PixelRGB(0, 0), RNnull_rgb);
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
  R2Image other;
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(image.Write("photo.JPG"), 0); }),
            "Unrecognized image file extension");
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(other.Read("dir.old/photo"), 0); }),
            "Unrecognized image file extension");
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(other.Read("photo"), 0); }),
            "Input file has no extension (e.g., .jpg).\n");
  EXPECT_NE(StderrOf([&] { EXPECT_EQ(image.Write("a.tiff"), 0); }).find("KELP ERROR"), std::string::npos);
  EXPECT_NE(StderrOf([&] { EXPECT_EQ(other.Read("a.tif"), 0); }).find("\nTIFF not supported\n"),
            std::string::npos);
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(image.Write("a.pfm"), 0); }), "Unrecognized image file extension");
  // ".bmpx" starts with ".bmp", so it is a BMP file.
  TempFile file("prefix.bmpx");
  EXPECT_EQ(image.Write(file.c_str()), 1);
  EXPECT_EQ(file.read().substr(0, 2), "BM");
  EXPECT_EQ(other.Read(file.c_str()), 1);
}

TEST(R2Image, DrawAndCaptureRefuseUnknownComponentCounts) {
  R2Image empty;
  empty.Capture();  // no buffer, no format: nothing happens
  EXPECT_EQ(empty.Pixels(), nullptr);
  // Without a current context the GL calls are ignored; the message is not.
  EXPECT_EQ(StderrOf([&] { empty.Draw(0, 0); }), "Unrecognized number of components in image: 0\n");
}
