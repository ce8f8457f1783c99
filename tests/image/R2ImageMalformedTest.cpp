// Hostile and damaged files: every reader refuses them with its message,
// result 0 and an empty image, without touching memory it does not own
// (run under ASan/UBSan by the sanitizer build).
#include "ImageTestFiles.h"
#include "TestCommon.h"
#include "image/R2Image.h"

using image_test::BmpHeader;
using image_test::Bytes;
using image_test::RandomImage;
using image_test::StderrOf;
using warpix_test::TempFile;

namespace {

struct Malformed {
  const char* name;
  const char* extension;
  std::string bytes;
  const char* message;  // expected part of the standard error text
};

std::string BmpPixels(int n) { return std::string(n, '\x7f'); }

Bytes Pfm(const std::string& header) { return Bytes().str(header); }

Bytes Grid(int32_t w, int32_t h) { return Bytes().i32(w).i32(h).zeros(72); }

Bytes Raw(int32_t magic, int32_t w, int32_t h, int32_t nc) {
  return Bytes().i32(magic).i32(w).i32(h).i32(nc);
}

/// A valid JPEG of the given image, as bytes.
std::string JpegOf(const R2Image& image) {
  TempFile file("source.jpg");
  image.WriteJPEG(file.c_str());
  return file.read();
}

/// jpeg with its frame header's height and width replaced.
std::string WithJpegSize(std::string jpeg, unsigned height, unsigned width) {
  const size_t sof = jpeg.find("\xff\xc0");
  jpeg[sof + 5] = static_cast<char>(height >> 8);
  jpeg[sof + 6] = static_cast<char>(height);
  jpeg[sof + 7] = static_cast<char>(width >> 8);
  jpeg[sof + 8] = static_cast<char>(width);
  return jpeg;
}

std::vector<Malformed> Cases() {
  const std::string jpeg = JpegOf(RandomImage(16, 16, 3));
  std::string corrupt = jpeg;
  for (size_t i = corrupt.size() / 2; i < corrupt.size() - 2; ++i) corrupt[i] = '\x00';
  return {
      // BMP
      {"bmp short header", ".bmp", "BM\x10", "Error while reading BMP file"},
      {"bmp not BM", ".bmp", Bytes().str("XX").zeros(52).data() + BmpPixels(16), "Not a BMP file"},
      {"bmp image size too small", ".bmp", BmpHeader(2, 2, 4).data() + BmpPixels(16), "too small"},
      {"bmp zero width", ".bmp", BmpHeader(0, 2, 0).data() + BmpPixels(16), "Invalid size 0 x 2"},
      {"bmp negative width", ".bmp", BmpHeader(-2, 2, 16).data() + BmpPixels(16), "Invalid size -2 x 2"},
      {"bmp INT_MIN height", ".bmp", BmpHeader(1, INT32_MIN, 0).data() + BmpPixels(16), "Invalid size 1 x -2147483648"},
      {"bmp 32 bits", ".bmp", BmpHeader(2, 2, 16, 32).data() + BmpPixels(16), "32 bits per pixel"},
      {"bmp 8 bits", ".bmp", BmpHeader(2, 2, 16, 8).data() + BmpPixels(16), "8 bits per pixel"},
      {"bmp compressed", ".bmp", BmpHeader(2, 2, 16, 24, 1).data() + BmpPixels(16), "compression 1"},
      {"bmp offset past end", ".bmp", BmpHeader(2, 2, 16, 24, 0, 4000).data() + BmpPixels(16), "Error while reading BMP file"},
      {"bmp offset inside header", ".bmp", BmpHeader(2, 2, 16, 24, 0, 10).data() + BmpPixels(16), "Error while reading BMP file"},
      {"bmp truncated pixels", ".bmp", BmpHeader(2, 2, 16).data() + BmpPixels(15), "Error while reading BMP file"},
      {"bmp huge", ".bmp", BmpHeader(100000, 100000, 0).data() + BmpPixels(16), "larger than the limit"},
      // PPM
      {"ppm zero width", ".ppm", "P6\n0 2\n255\n", "Invalid size 0 x 2"},
      {"ppm negative height", ".ppm", "P6\n2 -2\n255\n", "Unable to read width and height in PPM file"},
      {"ppm int overflow", ".ppm", "P3\n99999999999 1\n255\n", "Unable to read width and height in PPM file"},
      {"ppm rowsize overflow", ".ppm", "P6\n1000000000 1000000000\n255\n", "larger than the limit"},
      {"ppm maxval 0", ".ppm", "P6\n1 1\n0\nabc", "Unsupported max_value 0"},
      {"ppm maxval 256", ".ppm", "P6\n1 1\n256\nabcabc", "Unsupported max_value 256"},
      {"ppm maxval 20 digits", ".ppm", "P3\n1 1\n12345678901234567890\n1 1 1\n", "Unable to read max_value in PPM file"},
      {"ppm truncated P6", ".ppm", "P6\n2 2\n255\nabcdefghijk", "Unable to read data at (1,0) in PPM file"},
      {"ppm P6 no space after maxval", ".ppm", "P6\n1 1\n255abc", "Unable to read max_value in PPM file"},
      {"ppm P6 byte above maxval", ".ppm", "P6\n1 1\n100\n\x65\x00\x00", "Unable to read data at (0,0) in PPM file"},
      {"ppm P3 above maxval", ".ppm", "P3\n1 1\n15\n1 16 1\n", "Unable to read data at (0,0) in PPM file"},
      {"ppm P3 negative", ".ppm", "P3\n1 1\n255\n1 -5 1\n", "Unable to read data at (0,0) in PPM file"},
      {"ppm P3 junk", ".ppm", "P3\n1 1\n255\n12a 1 1 \n", "Unable to read data at (0,0) in PPM file"},
      {"ppm P3 too few", ".ppm", "P3\n2 1\n255\n1 2 3 4 5      \n", "Unable to read data at (1,0) in PPM file"},
      {"ppm magic too long", ".ppm", std::string(200, 'P') + "\n1 1\n255\n1 1 1\n", "Unable to read magic id in PPM file"},
      {"ppm unknown magic", ".ppm", "P5\n1 1\n255\nx", "Unable to read magic id in PPM file"},
      {"ppm empty", ".ppm", "", "Unable to read magic id in PPM file"},
      // PFM
      {"pfm PF", ".pfm", Pfm("PF\n1 1\n-1\n").f32(0).f32(0).f32(0), "Bad magic keyword"},
      {"pfm pf", ".pfm", Pfm("pf\n1 1\n-1\n").f32(0), "Bad magic keyword"},
      {"pfm truncated samples", ".pfm", Pfm("Pf\n2 2\n-1\n").f32(0).f32(1).f32(2), "read error\n"},
      {"pfm absurd width", ".pfm", Pfm("Pf\n99999999999999 1\n-1\n").f32(0), "Invalid size in PFM file"},
      {"pfm zero height", ".pfm", Pfm("Pf\n1 0\n-1\n").f32(0), "Invalid size in PFM file"},
      {"pfm huge", ".pfm", Pfm("Pf\n100000 100000\n-1\n").f32(0), "larger than the limit"},
      {"pfm bad width", ".pfm", Pfm("Pf\n1a 1\n-1\n").f32(0), "Bad width character a"},
      {"pfm nan scale", ".pfm", Pfm("Pf\n1 1\nnan\n").f32(0), "Bad endian character n"},
      {"pfm long token", ".pfm", Pfm("Pf\n1 " + std::string(129, '1') + " -1\n").f32(0), "Error reading height"},
      {"pfm end of file in header", ".pfm", "Pf\n1", "Bad width character ?"},
      // Grid
      {"grid short resolution", ".grd", Bytes().i32(1), "Unable to read resolution from grid file"},
      {"grid short matrix", ".grd", Bytes().i32(1).i32(1).zeros(70), "Unable to read transformation matrix"},
      {"grid negative size", ".grd", Grid(-1, 2).f64(0), "Invalid grid resolution -1 x 2"},
      {"grid overflowing size", ".grd", Grid(1 << 20, 1 << 20).f64(0), "larger than the limit"},
      {"grid sizes near INT_MAX", ".grd", Grid(INT32_MAX, INT32_MAX).f64(0), "larger than the limit"},
      {"grid truncated values", ".grd", Grid(2, 2).f64(0).f64(1).f64(2), "Unable to read 4 grid values from file"},
      // Raw
      {"raw bad magic", ".raw", Raw(12345, 1, 1, 1).f32(0), "Invalid header in raw image file"},
      {"raw short header", ".raw", Bytes().i32(54321).i32(1), "Unable to read header to raw image file"},
      {"raw ncomponents 0", ".raw", Raw(54321, 1, 1, 0).f32(0), "Invalid header in raw image file"},
      {"raw ncomponents 255", ".raw", Raw(54321, 1, 1, 255).f32(0), "Invalid header in raw image file"},
      {"raw ncomponents -1", ".raw", Raw(54321, 1, 1, -1).f32(0), "Invalid header in raw image file"},
      {"raw negative width", ".raw", Raw(54321, -4, 1, 1).f32(0), "Invalid header in raw image file"},
      {"raw overflowing size", ".raw", Raw(54321, 65536, 65536, 4).f32(0), "larger than the limit"},
      {"raw truncated data", ".raw", Raw(54321, 2, 1, 3).f32(0).f32(0), "Unable to read data from raw image file"},
      // JPEG
      {"jpeg truncated", ".jpg", jpeg.substr(0, jpeg.size() / 2), "JPEG error"},
      {"jpeg corrupt data", ".jpg", corrupt, "JPEG error"},
      {"jpeg not a jpeg", ".jpeg", "GIF89a", "JPEG error"},
      {"jpeg declared size too large", ".jpg", WithJpegSize(jpeg, 65000, 65000), "larger than the limit"},
      {"jpeg zero height", ".jpg", WithJpegSize(jpeg, 0, 16), "JPEG error"},
  };
}

}  // namespace

TEST(R2ImageMalformed, EveryReaderRefusesHostileFilesWithItsMessage) {
  const auto cases = Cases();
  ASSERT_GE(cases.size(), 25u);
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.name);
    TempFile file(std::string("malformed") + c.extension);
    file.write(c.bytes);
    R2Image image(2, 2, 3);
    int result = -1;
    const std::string err = StderrOf([&] { result = image.Read(file.c_str()); });
    EXPECT_EQ(result, 0);
    EXPECT_NE(err.find(c.message), std::string::npos) << "stderr: " << err;
    EXPECT_EQ(image.Pixels(), nullptr);
    EXPECT_EQ(image.Width() + image.Height() + image.NComponents() + image.RowSize(), 0);
  }
}

TEST(R2ImageMalformed, EveryPrefixOfAValidFileIsRefused) {
  const R2Image image = RandomImage(3, 2, 3);
  std::vector<std::pair<std::string, std::string>> files;  // extension, bytes
  for (const char* ext : {".bmp", ".ppm", ".raw", ".jpg"}) {
    TempFile f(std::string("prefix") + ext);
    ASSERT_NE(image.Write(f.c_str()), 0);
    files.emplace_back(ext, f.read());
  }
  TempFile p6("prefix6.ppm");
  ASSERT_NE(image.WritePPM(p6.c_str(), 0), 0);
  files.emplace_back(".ppm", p6.read());
  files.emplace_back(".pfm", Pfm("Pf\n2 1\n-1.0\n").f32(0.25f).f32(0.75f).data());
  files.emplace_back(".grd", Grid(1, 2).f64(3.0).f64(4.0).data());
  for (const auto& file_bytes : files) {
    const std::string& ext = file_bytes.first;
    const std::string& bytes = file_bytes.second;
    R2Image whole;
    TempFile file("cut" + ext);
    file.write(bytes);
    StderrOf([&] { ASSERT_NE(whole.Read(file.c_str()), 0) << ext; });
    // A text PPM is complete once its last number has its separator.
    const size_t cuts = bytes[0] == 'P' && bytes[1] == '3' ? bytes.find_last_of("0123456789") + 1 : bytes.size();
    for (size_t n = 0; n < cuts; ++n) {
      file.write(bytes.substr(0, n));
      R2Image cut;
      int result = -1;
      StderrOf([&] { result = cut.Read(file.c_str()); });
      EXPECT_EQ(result, 0) << ext << " cut at " << n;
      EXPECT_FALSE(cut.IsValid()) << ext << " cut at " << n;
    }
  }
}

TEST(R2ImageMalformed, MissingFilesAndEmptyImagesAreReported) {
  R2Image image;
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(image.Read("/nonexistent/a.bmp"), 0); }),
            "Unable to open image file: /nonexistent/a.bmp");
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(image.Read("/nonexistent/a.pfm"), 0); }),
            "Unable to open image: /nonexistent/a.pfm\n");
  EXPECT_EQ(StderrOf([&] { EXPECT_EQ(image.Read("/nonexistent/a.raw"), 0); }),
            "Unable to open raw image file /nonexistent/a.raw");
  EXPECT_NE(StderrOf([&] { EXPECT_EQ(image.Read("/nonexistent/a.grd"), 0); }).find("Unable to open file /nonexistent/a.grd"),
            std::string::npos);
  for (const char* name : {"empty.jpg", "empty.bmp", "empty.ppm", "empty.raw"}) {
    TempFile f(name);
    EXPECT_NE(StderrOf([&] { EXPECT_EQ(image.Write(f.c_str()), 0); }).find("has no pixels"), std::string::npos) << name;
  }
}
