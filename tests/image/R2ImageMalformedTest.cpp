// Hostile and damaged files: every reader refuses them with its message,
// result 0 and an empty image, without touching memory it does not own
// (run under ASan/UBSan by the sanitizer build).
#include "ImageTestFiles.h"
#include "TestCommon.h"

using image_test::BmpHeader;
using image_test::Bytes;
using image_test::RandomImage;
using image_test::StderrOf;
using warpix_test::TempFile;

namespace {

/// Reads bytes stored under the extension into an image that had pixels;
/// returns the result and stores the standard error text in err.
int ReadBytes(const std::string& extension, const std::string& bytes, std::string* err, R2Image* image) {
  TempFile file("malformed" + extension);
  file.write(bytes);
  int result = -1;
  *err = StderrOf([&] { result = image->Read(file.c_str()); });
  return result;
}

std::string Bmp(int32_t w, int32_t h, uint32_t size, unsigned bits = 24, uint32_t compression = 0, uint32_t offset = 54, int pixels = 16) {
  return BmpHeader(w, h, size, bits, compression, offset).data() + std::string(pixels, '\x7f');
}
Bytes Grid(int32_t w, int32_t h) { return Bytes().i32(w).i32(h).zeros(72); }
Bytes Raw(int32_t magic, int32_t w, int32_t h, int32_t nc) { return Bytes().i32(magic).i32(w).i32(h).i32(nc).f32(0); }

/// A valid 16 x 16 JPEG with its frame header's height and width replaced
/// when they are given.
std::string Jpeg(int height = -1, int width = 0) {
  TempFile file("source.jpg");
  RandomImage(16, 16, 3).WriteJPEG(file.c_str());
  std::string jpeg = file.read();
  const size_t sof = jpeg.find("\xff\xc0") + 5;
  const unsigned char size[4] = {uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width)};
  if (height >= 0) jpeg.replace(sof, 4, reinterpret_cast<const char*>(size), 4);
  return jpeg;
}

}  // namespace

TEST(R2ImageMalformed, EveryReaderRefusesHostileFilesWithItsMessage) {
  const std::string jpeg = Jpeg();
  const std::string corrupt = jpeg.substr(0, jpeg.size() / 2) + std::string(jpeg.size() / 2 - 2, '\0') + "\xff\xd9";
  struct Malformed { const char* extension; std::string bytes; const char* message; };  // part of the stderr text
  const Malformed cases[] = {
      {".bmp", "BM\x10", "Error while reading BMP file"},                                       // short header
      {".bmp", Bytes().str("XX").zeros(52).data() + std::string(16, '\0'), "Not a BMP file"},
      {".bmp", Bmp(2, 2, 4), "too small"},                                                      // image-size field
      {".bmp", Bmp(0, 2, 0), "Invalid size 0 x 2"},
      {".bmp", Bmp(-2, 2, 16), "Invalid size -2 x 2"},
      {".bmp", Bmp(1, INT32_MIN, 0), "Invalid size 1 x -2147483648"},
      {".bmp", Bmp(2, 2, 16, 32), "32 bits per pixel"},
      {".bmp", Bmp(2, 2, 16, 8), "8 bits per pixel"},
      {".bmp", Bmp(2, 2, 16, 24, 1), "compression 1"},
      {".bmp", Bmp(2, 2, 16, 24, 0, 4000), "Error while reading BMP file"},                    // offset past the end
      {".bmp", Bmp(2, 2, 16, 24, 0, 10), "Error while reading BMP file"},                      // offset inside the header
      {".bmp", Bmp(2, 2, 16, 24, 0, 54, 15), "Error while reading BMP file"},                  // truncated pixels
      {".bmp", Bmp(100000, 100000, 0), "larger than the limit"},
      {".ppm", "P6\n0 2\n255\n", "Invalid size 0 x 2"},
      {".ppm", "P6\n2 -2\n255\n", "Unable to read width and height in PPM file"},
      {".ppm", "P3\n99999999999 1\n255\n", "Unable to read width and height in PPM file"},     // int overflow
      {".ppm", "P6\n1000000000 1000000000\n255\n", "larger than the limit"},
      {".ppm", "P6\n1 1\n0\nabc", "Unsupported max_value 0"},
      {".ppm", "P6\n1 1\n256\nabcabc", "Unsupported max_value 256"},
      {".ppm", "P3\n1 1\n12345678901234567890\n1 1 1\n", "Unable to read max_value in PPM file"},
      {".ppm", "P6\n2 2\n255\nabcdefghijk", "Unable to read data at (1,0) in PPM file"},          // truncated P6
      {".ppm", "P6\n1 1\n255abc", "Unable to read max_value in PPM file"},                       // no blank after maxval
      {".ppm", Bytes().str("P6\n1 1\n100\n").u8(101).u8(0).u8(0), "Unable to read data at (0,0) in PPM file"},       // byte above maxval
      {".ppm", "P3\n1 1\n15\n1 16 1\n", "Unable to read data at (0,0) in PPM file"},
      {".ppm", "P3\n1 1\n255\n1 -5 1\n", "Unable to read data at (0,0) in PPM file"},
      {".ppm", "P3\n1 1\n255\n12a 1 1 \n", "Unable to read data at (0,0) in PPM file"},
      {".ppm", "P3\n2 1\n255\n1 2 3 4 5      \n", "Unable to read data at (1,0) in PPM file"},  // too few samples
      {".ppm", std::string(200, 'P') + "\n1 1\n255\n1 1 1\n", "Unable to read magic id in PPM file"},
      {".ppm", "GIF89a\x01", "Unable to read magic id in PPM file"},                             // no line end
      {".ppm", "", "Unable to read magic id in PPM file"},
      {".pfm", Bytes().str("PF\n1 1\n-1\n").f32(0).f32(0).f32(0), "Bad magic keyword"},
      {".pfm", Bytes().str("pf\n1 1\n-1\n").f32(0), "Bad magic keyword"},
      {".pfm", Bytes().str("Pf\n2 2\n-1\n").f32(0).f32(1).f32(2), "read error\n"},              // truncated samples
      {".pfm", Bytes().str("Pf\n99999999999999 1\n-1\n").f32(0), "Invalid size in PFM file"},
      {".pfm", Bytes().str("Pf\n1 0\n-1\n").f32(0), "Invalid size in PFM file"},
      {".pfm", Bytes().str("Pf\n100000 100000\n-1\n").f32(0), "larger than the limit"},
      {".pfm", Bytes().str("Pf\n1a 1\n-1\n").f32(0), "Bad width character a"},
      {".pfm", Bytes().str("Pf\n1 1\nnan\n").f32(0), "Bad endian character n"},
      {".pfm", Bytes().str("Pf\n1 " + std::string(129, '1') + " -1\n").f32(0), "Error reading height"},
      {".pfm", "Pf\n1", "Bad width character ?"},                                                // end of file
      {".grd", Bytes().i32(1), "Unable to read resolution from grid file"},
      {".grd", Bytes().i32(1).i32(1).zeros(70), "Unable to read transformation matrix"},
      {".grd", Grid(-1, 2).f64(0), "Invalid grid resolution -1 x 2"},
      {".grd", Grid(1 << 20, 1 << 20).f64(0), "larger than the limit"},
      {".grd", Grid(INT32_MAX, INT32_MAX).f64(0), "larger than the limit"},
      {".grd", Grid(2, 2).f64(0).f64(1).f64(2), "Unable to read 4 grid values from file"},
      {".raw", Raw(12345, 1, 1, 1), "Invalid header in raw image file"},
      {".raw", Bytes().i32(54321).i32(1), "Unable to read header to raw image file"},
      {".raw", Raw(54321, 1, 1, 0), "Invalid header in raw image file"},
      {".raw", Raw(54321, 1, 1, 255), "Invalid header in raw image file"},
      {".raw", Raw(54321, 1, 1, -1), "Invalid header in raw image file"},
      {".raw", Raw(54321, -4, 1, 1), "Invalid header in raw image file"},
      {".raw", Raw(54321, 65536, 65536, 4), "larger than the limit"},
      {".raw", Raw(54321, 2, 1, 3).f32(0), "Unable to read data from raw image file"},         // truncated data
      {".jpg", jpeg.substr(0, jpeg.size() / 2), "JPEG error"},
      {".jpg", corrupt, "JPEG error"},
      {".jpeg", "GIF89a", "JPEG error"},
      {".jpg", Jpeg(65000, 65000), "larger than the limit"},
      {".jpg", Jpeg(0, 16), "JPEG error"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    R2Image image(2, 2, 3);
    std::string err;
    EXPECT_EQ(ReadBytes(cases[i].extension, cases[i].bytes, &err, &image), 0) << "case " << i;
    EXPECT_NE(err.find(cases[i].message), std::string::npos) << "case " << i << ", stderr: " << err;
    EXPECT_EQ(image.Width() + image.Height() + image.NComponents() + image.RowSize(), 0) << "case " << i;
    EXPECT_EQ(image.Pixels(), nullptr) << "case " << i;
  }
}

TEST(R2ImageMalformed, EveryPrefixOfAValidFileIsRefused) {
  const R2Image image = RandomImage(3, 2, 3);
  std::vector<std::pair<std::string, std::string>> files = {  // extension, bytes
      {".pfm", Bytes().str("Pf\n2 1\n-1.0\n").f32(0.25f).f32(0.75f)}, {".grd", Grid(1, 2).f64(3.0).f64(4.0)}};
  for (const char* ext : {".bmp", ".ppm", ".raw", ".jpg", ".P6.ppm"}) {
    TempFile f(std::string("prefix") + ext);
    ASSERT_NE(ext[1] == 'P' ? image.WritePPM(f.c_str(), 0) : image.Write(f.c_str()), 0);
    files.emplace_back(ext, f.read());
  }
  for (const auto& [ext, bytes] : files) {
    R2Image whole;
    std::string err;
    ASSERT_NE(ReadBytes(ext, bytes, &err, &whole), 0) << ext;
    // A text PPM is complete once its last number has its separator.
    const size_t cuts = bytes.rfind("P3", 0) == 0 ? bytes.find_last_of("0123456789") + 1 : bytes.size();
    for (size_t n = 0; n < cuts; ++n) {
      R2Image cut;
      EXPECT_EQ(ReadBytes(ext, bytes.substr(0, n), &err, &cut), 0) << ext << " cut at " << n;
      EXPECT_FALSE(cut.IsValid()) << ext << " cut at " << n;
    }
  }
}

TEST(R2ImageMalformed, MissingFilesAndEmptyImagesAreReported) {
  for (const auto& c : {std::pair{"/nonexistent/a.bmp", "Unable to open image file: /nonexistent/a.bmp"},
                        {"/nonexistent/a.pfm", "Unable to open image: /nonexistent/a.pfm\n"},
                        {"/nonexistent/a.raw", "Unable to open raw image file /nonexistent/a.raw"}}) {
    R2Image image;
    EXPECT_EQ(StderrOf([&] { EXPECT_EQ(image.Read(c.first), 0); }), c.second);
  }
  R2Image image;
  const std::string grid = StderrOf([&] { EXPECT_EQ(image.Read("/nonexistent/a.grd"), 0); });
  EXPECT_EQ(grid.substr(grid.find('\n')), "\nUnable to open file /nonexistent/a.grd\n");
  for (const char* name : {"empty.jpg", "empty.bmp", "empty.ppm", "empty.raw"}) {
    TempFile f(name);
    EXPECT_NE(StderrOf([&] { EXPECT_EQ(image.Write(f.c_str()), 0); }).find("has no pixels"), std::string::npos) << name;
  }
}
