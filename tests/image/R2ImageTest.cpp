#include "image/R2Image.h"

#include <cerrno>

#include "ImageTestFiles.h"

using namespace image_test;

TEST(R2Image, RowsArePaddedToFourBytesCopiesAreDeepAndEmptyImagesAreNotDrawn) {
  for (const auto& [w, nc, rowsize] : {std::tuple{5, 3, 16}, {4, 3, 12}, {3, 1, 4}, {1, 2, 4}, {0, 3, 0}}) EXPECT_EQ(R2Image(w, 2, nc).RowSize(), rowsize) << w << " x " << nc;
  R2Image empty;
  EXPECT_TRUE(empty.Width() + empty.Height() + empty.NComponents() + empty.RowSize() == 0 && !empty.Pixels());
  // Without a current context the GL calls are ignored; the message is not.
  empty.Capture();  // no buffer, no format: nothing happens
  EXPECT_EQ(StderrOf([&] { empty.Draw(0, 0); }), "Unrecognized number of components in image: 0\n");
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
  const Case cases[] = {
      {3, RNRgb(1.0, 0.5, 0.2), {255, 127, 51}, RNRgb(1.0, 127 / 255.0, 0.2)},              // 255 x component, truncated
      {4, RNRgb(0.0, 1.0, 0.5), {0, 255, 127, 255}, RNRgb(0.0, 1.0, 127 / 255.0)},          // alpha 255
      {1, RNred_rgb, {76}, RNRgb(76 / 255.0, 76 / 255.0, 76 / 255.0)},                      // 255 x 0.3 = 76.5
      {1, RNwhite_rgb, {254}, RNRgb(254 / 255.0, 254 / 255.0, 254 / 255.0)},                // 0.3 + 0.59 + 0.11 is below 1
      {1, RNRgb(0.183, 0.84, 0.45), {152}, RNRgb(152 / 255.0, 152 / 255.0, 152 / 255.0)},  // sum, then x 255
      {2, RNRgb(2.0, -1.0, NAN), {0, 255}, RNnull_rgb},                                     // clamped, not wrapped
      {3, RNRgb(2.0, -1.0, NAN), {255, 0, 0}, RNred_rgb},
      {5, RNwhite_rgb, {0, 0, 0, 0, 0}, RNnull_rgb},                                        // unknown count: nothing
  };
  for (const Case& c : cases) {
    R2Image image(2, 2, c.nc);
    image.SetPixelRGB(1, 1, c.in);
    image.SetPixelRGB(2, 0, RNwhite_rgb);  // outside: ignored
    std::vector<int> expected(2 * image.RowSize(), 0);  // all else stays 0
    std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + image.RowSize() + c.nc);
    EXPECT_EQ(std::pair(AllBytes(image), image.PixelRGB(1, 1)), std::pair(expected, c.out)) << c.nc << " components";
  }
}

TEST(R2Image, FileNamesAndMissingFilesAreReportedWithTheExactText) {
  // The extension is the text from the last dot, matched case-sensitively by
  // prefix. RNFail's banner with the system's text precedes its message.
  const std::string unknown = "Unrecognized image file extension", none = "Input file has no extension (e.g., .jpg).\n";
  const std::string fail = std::string("KELP ERROR: ") + strerror(ENOENT) + "\n";  // errno is ENOENT before each call
  const std::pair<const char*, std::string> cases[] = {  // name (written when it starts with '>'), standard error
      {">photo.JPG", unknown}, {"photo.JPG", unknown}, {"dir.old/photo", unknown}, {">a.pfm", unknown}, {">a.grd", unknown},
      {">photo", none}, {"photo", none}, {">a.tiff", fail + "TIFF not supported\n"}, {"a.tif", fail + "TIFF not supported\n"},
      {"/nonexistent/a.bmp", "Unable to open image file: /nonexistent/a.bmp"}, {"/nonexistent/a.jpg", "Unable to open image file: /nonexistent/a.jpg"},
      {"/nonexistent/a.pfm", "Unable to open image: /nonexistent/a.pfm\n"}, {"/nonexistent/a.raw", "Unable to open raw image file /nonexistent/a.raw"},
      {"/nonexistent/a.grd", fail + "Unable to open file /nonexistent/a.grd\n"},
      {">a.jpg", "Unable to write image file a.jpg: the image has no pixels\n"}, {">a.bmp", "Unable to write image file a.bmp: the image has no pixels\n"},
      {">a.ppm", "Unable to write image file a.ppm: the image has no pixels\n"}, {">a.raw", "Unable to write image file a.raw: the image has no pixels\n"},
  };
  for (const auto& c : cases) {
    R2Image image;
    int result = -1;
    const std::string err = StderrOf([&] { errno = ENOENT; result = c.first[0] == '>' ? image.Write(c.first + 1) : image.Read(c.first); });
    EXPECT_EQ(std::pair(result, err), std::pair(0, c.second)) << c.first;
  }
  for (const char* name : {"prefix.bmpx", "prefix.jpegx"}) {  // ".bmpx" starts with ".bmp" and ".jpegx" with ".jpeg"
    TempFile file(name);
    R2Image back;
    EXPECT_TRUE(RandomImage(2, 2, 3).Write(file.c_str()) == 1 && back.Read(file.c_str()) == 1 && back.Width() == 2) << name;
  }
}

TEST(RNRgb, ComparisonIsExactAndNaNIsNeverEqual) {
  const double values[3] = {0.25, 0.5, 1.0};
  const RNRgb nan(NAN, 0, 0);
  EXPECT_EQ(RNRgb(0.25, 0.5, 1.0), RNRgb(values));
  EXPECT_NE(RNRgb(0.25, 0.5, 1.0), RNRgb(0.25, 0.5, std::nextafter(1.0, 0.0)));
  EXPECT_TRUE(!(nan == nan) && nan != nan);
}
